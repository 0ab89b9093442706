#include "console/module1_torre.h"

#include <limits>

#include "console/input_rules.h"

namespace varnel {

bool Module1_Torre::MoverTorre(long value) {
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        return false;
    return link_.EnviarOrden(static_cast<int16_t>(value));
}

void AplicarEntradas(Module1_Torre& torre, int16_t value) {
    const InputRule* rule = findInputRule(value);
    if (rule == nullptr) return;
    if (rule->giro) torre.Giro = *rule->giro;
    if (rule->rampa) torre.Rampa = *rule->rampa;
}

}  // namespace varnel
