#include "console/module1_torre.h"

#include <limits>

namespace varnel {

bool Module1_Torre::MoverTorre(long value) {
    if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max())
        return false;
    return link_.EnviarOrden(static_cast<int16_t>(value));
}

void AplicarEntradas(Module1_Torre& torre, int16_t value) {
    using T = Module1_Torre;
    switch (value) {
        case 1:
            torre.Giro = T::kGiroDerecha;
            break;
        case 2:
            torre.Giro = T::kGiroIzquierda;
            break;
        case 4:
            torre.Rampa = T::kRampaBajar;
            break;
        case 8:
            torre.Rampa = T::kRampaSubir;
            break;
        // With a turn input present the ramp inputs act the other way round.
        case 5:
            torre.Giro = T::kGiroDerecha, torre.Rampa = T::kRampaSubir;
            break;
        case 9:
            torre.Giro = T::kGiroDerecha, torre.Rampa = T::kRampaBajar;
            break;
        case 6:
            torre.Giro = T::kGiroIzquierda, torre.Rampa = T::kRampaSubir;
            break;
        case 10:
            torre.Giro = T::kGiroIzquierda, torre.Rampa = T::kRampaBajar;
            break;
        // Contradictory inputs (both turn sensors, or both ramp sensors) stop everything.
        case 3:
        case 7:
        case 11:
        case 12:
        case 13:
        case 14:
        case 15:
            torre.Giro = T::kGiroParado;
            torre.Rampa = T::kRampaParada;
            break;
        default:
            break;
    }
}

}  // namespace varnel
