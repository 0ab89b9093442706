#include "link/interface_link.h"

#include <utility>

namespace varnel {

namespace {
std::string byteText(unsigned char value) {
    return std::string(1, static_cast<char>(value));
}

ProbeOutcome::Result resultOf(SerialError::Kind kind) {
    switch (kind) {
        case SerialError::Kind::NoSuchPort:
            return ProbeOutcome::Result::NoSuchPort;
        case SerialError::Kind::NoUart:
            return ProbeOutcome::Result::NoUart;
        case SerialError::Kind::NotPermitted:
            return ProbeOutcome::Result::NotPermitted;
        case SerialError::Kind::Busy:
            return ProbeOutcome::Result::Busy;
        case SerialError::Kind::Disconnected:
        case SerialError::Kind::Other:
            break;
    }
    return ProbeOutcome::Result::Failed;
}
}  // namespace

std::string hexText(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (!text.empty()) text += ' ';
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

std::string describe(const ProbeOutcome& outcome) {
    switch (outcome.result) {
        case ProbeOutcome::Result::Found:
            return "board found";
        case ProbeOutcome::Result::NoSuchPort:
            return "no such port";
        case ProbeOutcome::Result::NoUart:
            return "no such port (no UART)";
        case ProbeOutcome::Result::NotPermitted:
            return "not permitted (the user must be in the group that owns the device, usually "
                   "dialout)";
        case ProbeOutcome::Result::Busy:
            return "busy (another program has the port open)";
        case ProbeOutcome::Result::NoAnswer:
            return "no answer";
        case ProbeOutcome::Result::SeveralBytes:
            return "answered " + outcome.detail + " bytes at once";
        case ProbeOutcome::Result::WrongAnswer:
            return "wrong answer (" + outcome.detail + ")";
        case ProbeOutcome::Result::NotProbed:
            return "not probed (serial port " + outcome.detail +
                   " is still open after its wrong answer)";
        case ProbeOutcome::Result::Failed:
            break;
    }
    return outcome.detail;
}

InterfaceLink::InterfaceLink(ControlAccessor control, LinkTiming timing)
    : control_(std::move(control)), timing_(std::move(timing)) {}

bool InterfaceLink::EsperarRespuesta() {
    int16_t counter = 0;
    for (;;) {
        ++counter;
        lastWaiting_ = control_().InBufferCount();
        if (lastWaiting_ == 1 || counter == kMaxPolls) break;
    }
    return counter != kMaxPolls;
}

int16_t InterfaceLink::probe(int16_t port) {
    ProbeOutcome outcome{port, ProbeOutcome::Result::Failed, {}};
    const int16_t result = runProbe(port, outcome);
    probes_.push_back(std::move(outcome));
    return result;
}

int16_t InterfaceLink::runProbe(int16_t port, ProbeOutcome& outcome) {
    bool selected = false;
    try {
        puertoActivo_ = -1;
        const std::string probeByte = byteText(kProbe);
        const std::string expected = byteText(kAck);
        control_().CommPort(port);
        selected = true;
        if (!control_().PortOpen()) {
            control_().CommPort(port);
            control_().Settings(kLineSettings);
            control_().InputLen(0);
            control_().PortOpen(true);
        }
        control_().Output(probeByte);
        if (!EsperarRespuesta()) {
            if (lastWaiting_ > 1) {
                outcome.result = ProbeOutcome::Result::SeveralBytes;
                outcome.detail = std::to_string(lastWaiting_);
            } else {
                outcome.result = ProbeOutcome::Result::NoAnswer;
            }
            control_().PortOpen(false);
            return -1;
        }
        const std::string answer = control_().Input();
        if (answer != expected) {
            outcome.result = ProbeOutcome::Result::WrongAnswer;
            outcome.detail = answer.empty() ? "nothing read" : hexText(answer);
            leftOpen_ = port;  // the port stays open
            return -1;
        }
        outcome.result = ProbeOutcome::Result::Found;
        puertoActivo_ = port;
        return port;
    } catch (const SerialError& e) {
        // Any failure inside a probe is a failed probe; the port stays as the error left it.
        if (!selected && leftOpen_ != 0 && leftOpen_ != port) {
            outcome.result = ProbeOutcome::Result::NotProbed;
            outcome.detail = std::to_string(leftOpen_);
            return -1;
        }
        outcome.result = resultOf(e.kind());
        outcome.detail = e.what();
        return -1;
    } catch (const std::exception& e) {
        outcome.result = ProbeOutcome::Result::Failed;
        outcome.detail = e.what();
        return -1;
    } catch (...) {
        outcome.result = ProbeOutcome::Result::Failed;
        outcome.detail = "unknown error";
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

void InterfaceLink::discardStale() {
    if (control_().InBufferCount() != 0) control_().Input();
}

bool InterfaceLink::EnviarOrden(int16_t orden) {
    if (orden < 0 || orden > 255) return false;
    if (!linkUp()) return false;
    discardStale();
    control_().Output(byteText(kCommandHeader));
    if (!acknowledged()) return false;
    control_().Output(byteText(static_cast<unsigned char>(orden)));
    return acknowledged();
}

bool InterfaceLink::letLineGoQuiet(std::chrono::milliseconds quiet,
                                   LinkTiming::Clock::time_point deadline) {
    if (!linkUp()) return true;
    auto heard = timing_.now();
    for (;;) {
        if (control_().InBufferCount() != 0) {
            control_().Input();
            heard = timing_.now();
        }
        const auto now = timing_.now();
        if (now - heard >= quiet) return true;
        if (now >= deadline) return false;
        timing_.pause(std::chrono::milliseconds(1));
    }
}

bool InterfaceLink::LeerEntradas() {
    if (!linkUp()) return false;
    discardStale();
    control_().Output(byteText(kInputRequest));
    if (!EsperarRespuesta()) return false;
    const std::string answer = control_().Input();
    control_().Output(answer.empty() ? byteText(0x00) : answer);
    if (!acknowledged()) return false;
    entradas_ = answer.empty() ? 0 : static_cast<unsigned char>(answer[0]);
    return true;
}

}  // namespace varnel
