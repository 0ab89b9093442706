// The motion state of the tower and the one way commands reach the board.
#pragma once

#include <chrono>
#include <cstdint>

#include "link/interface_link.h"

namespace varnel {

class Module1_Torre {
  public:
    // Turn codes.
    static constexpr int16_t kGiroParado = 0, kGiroDerecha = 1, kGiroIzquierda = 17;
    // Ramp codes.
    static constexpr int16_t kRampaParada = 0, kRampaBajar = 2, kRampaSubir = 34;

    explicit Module1_Torre(InterfaceLink& link) : link_(link) {}

    // What the console last told each motor, whether or not the board acknowledged it.
    int16_t Giro = 0;
    int16_t Rampa = 0;

    int16_t Orden() const { return static_cast<int16_t>(Rampa + Giro); }

    // Sends a command value through the command handshake; the result is the handshake's.
    // A value that does not fit 16 bits is refused like any other value out of range.
    bool MoverTorre(long value);

    // How the console makes sure of the stop on its way out: it lets the line go quiet (so that
    // a late answer of the last exchange cannot pass for the stop's), then sends the stop until
    // two in a row are acknowledged, letting the line go quiet again after each failure.
    static constexpr std::chrono::milliseconds kStopQuiet{100};
    static constexpr std::chrono::milliseconds kStopTime{1000};  // the line gets this long
    static constexpr int kStopTries = 10;
    // True when two stops in a row were acknowledged; false when the link is down or the board
    // did not confirm it within the tries and the time (at least one stop is always sent).
    bool stopForSure();

  private:
    InterfaceLink& link_;
};

// The input rules: the board's input value sets the codes by the table kInputRules.
void AplicarEntradas(Module1_Torre& torre, int16_t value);

}  // namespace varnel
