#include "console/module1_torre.h"

#include <limits>

#include "console/input_rules.h"

namespace varnel {

bool Module1_Torre::MoverTorre(long value) {
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        return false;
    return link_.EnviarOrden(static_cast<int16_t>(value));
}

bool Module1_Torre::stopForSure() {
    if (link_.PuertoActivo() <= 0) {
        MoverTorre(0);  // refused at once: there is no board to tell
        return false;
    }
    const auto deadline = link_.now() + kStopTime;
    int inARow = 0;
    for (int tries = 0; tries < kStopTries; ++tries) {
        // From a quiet line, an acknowledged stop is the board's answer to it; the second one
        // makes sure of it even if the line was not as quiet as it seemed.
        if (inARow == 0) link_.letLineGoQuiet(kStopQuiet, deadline);
        inARow = MoverTorre(0) ? inARow + 1 : 0;
        if (inARow == 2) return true;
        if (link_.now() >= deadline) break;
    }
    return false;
}

void AplicarEntradas(Module1_Torre& torre, int16_t value) {
    const InputRule* rule = findInputRule(value);
    if (rule == nullptr) return;
    if (rule->giro) torre.Giro = *rule->giro;
    if (rule->rampa) torre.Rampa = *rule->rampa;
}

}  // namespace varnel
