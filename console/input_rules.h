// How the board's input value sets the motion codes: a constant table beside the display table.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "console/module1_torre.h"

namespace varnel {

struct InputRule {
    int16_t value;                 // the input value this row acts on
    std::optional<int16_t> giro;   // the new turn code, or empty: unchanged
    std::optional<int16_t> rampa;  // the new ramp code, or empty: unchanged
};

// Read in order; the first row for the value wins. A value in no row changes nothing.
inline constexpr std::array<InputRule, 15> kInputRules{{
    {1, Module1_Torre::kGiroDerecha, std::nullopt},
    {2, Module1_Torre::kGiroIzquierda, std::nullopt},
    {4, std::nullopt, Module1_Torre::kRampaBajar},
    {8, std::nullopt, Module1_Torre::kRampaSubir},
    // With a turn input present the ramp inputs act the other way round.
    {5, Module1_Torre::kGiroDerecha, Module1_Torre::kRampaSubir},
    {9, Module1_Torre::kGiroDerecha, Module1_Torre::kRampaBajar},
    {6, Module1_Torre::kGiroIzquierda, Module1_Torre::kRampaSubir},
    {10, Module1_Torre::kGiroIzquierda, Module1_Torre::kRampaBajar},
    // Contradictory inputs (both turn sensors, or both ramp sensors) stop everything.
    {3, Module1_Torre::kGiroParado, Module1_Torre::kRampaParada},
    {7, Module1_Torre::kGiroParado, Module1_Torre::kRampaParada},
    {11, Module1_Torre::kGiroParado, Module1_Torre::kRampaParada},
    {12, Module1_Torre::kGiroParado, Module1_Torre::kRampaParada},
    {13, Module1_Torre::kGiroParado, Module1_Torre::kRampaParada},
    {14, Module1_Torre::kGiroParado, Module1_Torre::kRampaParada},
    {15, Module1_Torre::kGiroParado, Module1_Torre::kRampaParada},
}};

// The first row for the value, or nullptr when no row acts on it.
inline const InputRule* findInputRule(int16_t value) {
    for (const InputRule& rule : kInputRules)
        if (rule.value == value) return &rule;
    return nullptr;
}

}  // namespace varnel
