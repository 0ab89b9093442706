#include "link/interface_link.h"

#include <utility>

namespace varnel {

namespace {
std::string byteText(unsigned char value) {
    return std::string(1, static_cast<char>(value));
}
}  // namespace

InterfaceLink::InterfaceLink(ControlAccessor control) : control_(std::move(control)) {}

bool InterfaceLink::EsperarRespuesta() {
    int16_t counter = 0;
    for (;;) {
        ++counter;
        const int16_t waiting = control_().InBufferCount();
        if (waiting == 1 || counter == kMaxPolls) break;
    }
    return counter != kMaxPolls;
}

int16_t InterfaceLink::probe(int16_t port) {
    try {
        puertoActivo_ = -1;
        const std::string probeByte = byteText(kProbe);
        const std::string expected = byteText(kAck);
        control_().CommPort(port);
        if (!control_().PortOpen()) {
            control_().CommPort(port);
            control_().Settings(kLineSettings);
            control_().InputLen(0);
            control_().PortOpen(true);
        }
        control_().Output(probeByte);
        if (!EsperarRespuesta()) {
            control_().PortOpen(false);
            return -1;
        }
        if (control_().Input() != expected) return -1;
        puertoActivo_ = port;
        return port;
    } catch (...) {
        // Any failure inside a probe is a failed probe; the port stays as the error left it.
        return -1;
    }
}

int16_t InterfaceLink::ConectarCOM1() {
    return probe(1);
}
int16_t InterfaceLink::ConectarCOM2() {
    return probe(2);
}

int16_t InterfaceLink::Conectar() {
    if (ConectarCOM1() == 1) return 1;
    if (ConectarCOM2() == 2) return 2;
    return -1;
}

bool InterfaceLink::acknowledged() {
    if (!EsperarRespuesta()) return false;
    return control_().Input() == byteText(kAck);
}

bool InterfaceLink::EnviarOrden(int16_t orden) {
    if (orden < 0 || orden > 255) return false;
    if (!linkUp()) return false;
    control_().Output(byteText(kCommandHeader));
    if (!acknowledged()) return false;
    control_().Output(byteText(static_cast<unsigned char>(orden)));
    return acknowledged();
}

bool InterfaceLink::LeerEntradas() {
    if (!linkUp()) return false;
    control_().Output(byteText(kInputRequest));
    if (!EsperarRespuesta()) return false;
    const std::string answer = control_().Input();
    control_().Output(answer.empty() ? byteText(0x00) : answer);
    if (!acknowledged()) return false;
    entradas_ = answer.empty() ? 0 : static_cast<unsigned char>(answer[0]);
    return true;
}

}  // namespace varnel
