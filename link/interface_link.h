// The serial link with the Tolmar board: discovery and the two handshakes.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_control.h"

namespace varnel {

// What one probe found on its port, kept so the operator can be told why no board was found.
struct ProbeOutcome {
    enum class Result {
        Found,
        NoSuchPort,
        NoUart,
        NotPermitted,
        Busy,
        NoAnswer,
        SeveralBytes,
        WrongAnswer,
        NotProbed,
        Failed
    };
    int16_t port = 0;
    Result result = Result::Failed;
    // The bytes of a wrong answer, how many bytes came at once, the port left open that kept
    // this one from being probed, or the message of an error.
    std::string detail;
};

// The clock and the pause of the waits that are measured in time rather than in polls.
struct LinkTiming {
    using Clock = std::chrono::steady_clock;
    std::function<Clock::time_point()> now = [] { return Clock::now(); };
    std::function<void(std::chrono::microseconds)> pause = [](std::chrono::microseconds d) {
        std::this_thread::sleep_for(d);
    };
};

// Bytes as hex text, "AA F0".
std::string hexText(const std::string& bytes);

// The outcome in words: "no answer", "not permitted (...)", ...
std::string describe(const ProbeOutcome& outcome);

class InterfaceLink {
  public:
    // Every access to the control goes through this accessor, fetched afresh each time.
    using ControlAccessor = std::function<SerialControl&()>;

    static constexpr int kMaxPolls = 5000;
    static constexpr unsigned char kProbe = 0xFF;
    static constexpr unsigned char kAck = 0xF0;
    static constexpr unsigned char kCommandHeader = 0xAA;
    static constexpr unsigned char kInputRequest = 0xCC;
    static constexpr const char* kLineSettings = "9600,N,8,1";

    explicit InterfaceLink(ControlAccessor control, LinkTiming timing = {});

    // 0 before any probe, -1 while a probe runs or after a failed one, 1 or 2 once a board
    // answered.
    int16_t PuertoActivo() const { return puertoActivo_; }
    // The input byte of the last acknowledged input handshake, 0 until then.
    int16_t Entradas() const { return entradas_; }
    // One entry for each probe run so far, in order.
    const std::vector<ProbeOutcome>& probes() const { return probes_; }

    // Polls InBufferCount at most 5000 times; true when exactly one byte is waiting before the
    // 5000th poll.
    bool EsperarRespuesta();

    int16_t ConectarCOM1();
    int16_t ConectarCOM2();
    int16_t Conectar();

    // Both handshakes first read and drop whatever is waiting, so an answer that came too late
    // for an earlier exchange costs only that exchange.
    bool EnviarOrden(int16_t orden);
    bool LeerEntradas();

    // Reads and drops whatever arrives until nothing has come for `quiet`, looking every
    // millisecond; gives up at `deadline` (false). With no board found there is nothing to do.
    bool letLineGoQuiet(std::chrono::milliseconds quiet, LinkTiming::Clock::time_point deadline);
    LinkTiming::Clock::time_point now() const { return timing_.now(); }

  private:
    int16_t probe(int16_t port);
    int16_t runProbe(int16_t port, ProbeOutcome& outcome);
    void discardStale();
    bool linkUp() const { return puertoActivo_ != 0 && puertoActivo_ != -1; }
    // Waits for one byte and reads it; false when the answer is missing or not exactly 0xF0.
    bool acknowledged();

    ControlAccessor control_;
    LinkTiming timing_;
    // Bytes waiting at the last poll of the last bounded wait.
    int16_t lastWaiting_ = 0;
    // The port that a wrong answer left open, 0 for none: no other port can be selected then.
    int16_t leftOpen_ = 0;
    int16_t puertoActivo_ = 0;
    int16_t entradas_ = 0;
    std::vector<ProbeOutcome> probes_;
};

}  // namespace varnel
