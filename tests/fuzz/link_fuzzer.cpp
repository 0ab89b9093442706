// libFuzzer target for the link: the input bytes script the board's answers (late ones, doubled
// ones, stray bytes), thrown errors and a sequence of calls; the link's invariants are checked
// after every call, and at the end a sound board must find the line back in step.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "link/interface_link.h"
#include "tests/support/fake_serial_control.h"

namespace {

using varnel::InterfaceLink;
using varnel::SerialError;
using varnel::test::FakeSerialControl;
using varnel::test::Reaction;

[[noreturn]] void violation(const char* what, const std::vector<std::string>& segment) {
    std::fprintf(stderr, "link invariant violated: %s\ntrace of the call:\n", what);
    for (const std::string& entry : segment) std::fprintf(stderr, "  %s\n", entry.c_str());
    std::abort();
}

#define REQUIRE(condition, segment)                       \
    do {                                                  \
        if (!(condition)) violation(#condition, segment); \
    } while (0)

bool startsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// A read of the receive buffer, whether it returned or threw.
bool isRead(const std::string& entry) {
    return startsWith(entry, "Input->") || entry == "Input !threw";
}

// "Input->AA F0" -> the bytes it returned.
std::string inputBytes(const std::string& entry) {
    std::string bytes;
    const std::string hexText = entry.substr(std::string("Input->").size());
    for (size_t i = 0; i < hexText.size(); i += 3)
        bytes += static_cast<char>(std::stoi(hexText.substr(i, 2), nullptr, 16));
    return bytes;
}

// The operations that a fault can be placed on.
enum FaultOp {
    kCommPort,
    kSettings,
    kInputLen,
    kPortOpenGet,
    kPortOpenTrue,
    kPortOpenFalse,
    kOutput,
    kInput,
    kInBufferCount,
    kFaultOpCount
};

// Which operation the fake's record names; told apart by a few characters, since the fake asks
// on every poll.
FaultOp faultOpOf(const std::string& record) {
    switch (record[0]) {
        case 'C':
            return kCommPort;
        case 'S':
            return kSettings;
        case 'O':
            return kOutput;
        case 'P':
            return record[8] == '?'   ? kPortOpenGet
                   : record[9] == 't' ? kPortOpenTrue
                                      : kPortOpenFalse;
        default:
            return record[2] == 'B' ? kInBufferCount : record.size() > 5 ? kInputLen : kInput;
    }
}

struct Fault {
    FaultOp op;
    int occurrence;  // which occurrence of the operation throws, counted from 0
};

Reaction decodeReaction(FuzzedDataProvider& data) {
    // A zero byte (also what an exhausted input gives) is a board that acknowledges at once.
    const uint8_t kind = data.ConsumeIntegral<uint8_t>();
    std::string bytes;
    switch (kind & 7) {
        case 0:
        case 5:
            bytes = "\xF0";
            break;
        case 1:
            break;  // silent
        case 2:
        case 6:
            bytes = std::string(1, static_cast<char>(data.ConsumeIntegral<uint8_t>()));
            break;
        case 3:
            bytes = data.ConsumeBool() ? std::string("\xF0\xF0") : data.ConsumeBytesAsString(2);
            break;
        case 4:
            bytes = data.ConsumeBytesAsString(data.ConsumeIntegralInRange<size_t>(0, 3));
            break;
        case 7:
            bytes = "\xF0" + std::string(1, static_cast<char>(data.ConsumeIntegral<uint8_t>()));
            break;
    }
    int atPoll = 1;
    switch ((kind >> 3) & 7) {
        case 0:
            atPoll = 1;
            break;
        case 1:
            atPoll = 0;  // already there when the write returns
            break;
        case 2:
            atPoll = data.ConsumeIntegralInRange(1, 10);
            break;
        case 3:
            atPoll = 4999;
            break;
        case 4:
            atPoll = 5000;
            break;
        case 5:
            atPoll = 5001;
            break;
        case 6:
            // Up to three waits late: it may meet any of the next exchanges.
            atPoll = data.ConsumeIntegralInRange(0, 15003);
            break;
        case 7:
            atPoll = 2;
            break;
    }
    std::string beforeRead;
    if (kind & 0x40)
        beforeRead = std::string(1, static_cast<char>(data.ConsumeIntegral<uint8_t>()));
    return Reaction(bytes, atPoll, beforeRead, (kind & 0x80) != 0);
}

// Checks shared by every call on the segment of the trace that it produced.
void checkWaits(const std::vector<std::string>& segment) {
    for (size_t i = 0; i < segment.size(); ++i) {
        const std::string& entry = segment[i];
        if (startsWith(entry, "InBufferCount x")) {
            const int polls = std::stoi(entry.substr(std::string("InBufferCount x").size()));
            REQUIRE(polls >= 1 && polls <= InterfaceLink::kMaxPolls, segment);
        }
        // An answer is read only after a wait that ended early, on its last poll.
        if (isRead(entry)) {
            REQUIRE(i > 0 && startsWith(segment[i - 1], "InBufferCount x"), segment);
            const int polls =
                std::stoi(segment[i - 1].substr(std::string("InBufferCount x").size()));
            REQUIRE(polls < InterfaceLink::kMaxPolls, segment);
        }
    }
}

// The handshakes touch nothing but Output, InBufferCount and Input. They start by dropping what
// is waiting (one poll, and one read if the poll found bytes), then write. Returns where the
// exchange proper starts.
size_t checkHandshakeShape(const std::vector<std::string>& segment) {
    for (const std::string& entry : segment)
        REQUIRE(startsWith(entry, "Output(") || startsWith(entry, "InBufferCount") || isRead(entry),
                segment);
    checkWaits(segment);
    if (segment.empty()) return 0;
    REQUIRE(segment[0] == "InBufferCount x1" || segment[0] == "InBufferCount !threw", segment);
    size_t start = 1;
    if (segment.size() > 1 && isRead(segment[1])) start = 2;
    if (segment.size() > start) REQUIRE(startsWith(segment[start], "Output("), segment);
    return start;
}

std::vector<std::string> readsOf(const std::vector<std::string>& segment) {
    std::vector<std::string> reads;
    for (const std::string& entry : segment)
        if (startsWith(entry, "Input->")) reads.push_back(inputBytes(entry));
    return reads;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t size) {
    FuzzedDataProvider data(bytes, size);
    FakeSerialControl control;
    InterfaceLink link([&]() -> varnel::SerialControl& { return control; });

    const uint8_t header = data.ConsumeIntegral<uint8_t>();
    const bool connect = (header & 1) == 0;
    control.preload(data.ConsumeBytesAsString((header >> 1) & 3));

    std::vector<Fault> faults;
    for (int i = 0, n = (header >> 3) & 3; i < n; ++i) {
        const auto op = static_cast<FaultOp>(data.ConsumeIntegralInRange(0, kFaultOpCount - 1));
        const int limit = op == kInBufferCount ? 12000 : 12;
        faults.push_back({op, data.ConsumeIntegralInRange(0, limit)});
    }
    std::array<int, kFaultOpCount> seen{};
    control.failWhen([&](const FakeSerialControl&, const std::string& record) {
        if (faults.empty()) return false;
        const FaultOp op = faultOpOf(record);
        const int occurrence = seen[op]++;
        for (const Fault& fault : faults)
            if (fault.op == op && fault.occurrence == occurrence) return true;
        return false;
    });

    struct Call {
        bool command;
        int16_t value;
        std::string stray;  // bytes the board sends unasked before the call
    };
    std::vector<Call> calls;
    for (int i = 0, n = data.ConsumeIntegralInRange(1, 8); i < n; ++i) {
        const uint8_t pick = data.ConsumeIntegral<uint8_t>();
        Call call{false, 0, {}};
        if (pick % 4 == 1)
            call = {true, data.ConsumeIntegral<int16_t>(), {}};
        else if (pick % 4 == 2)
            call = {true, static_cast<int16_t>(data.ConsumeIntegral<uint8_t>()), {}};
        if (pick & 0x10) call.stray = data.ConsumeBytesAsString((pick >> 5) % 3 + 1);
        calls.push_back(call);
    }
    // One reaction for each write the calls can make (two probes, two writes a handshake).
    for (size_t i = 0; i < 2 + 2 * calls.size(); ++i) control.react(decodeReaction(data));

    if (connect) {
        const int16_t result = link.Conectar();  // the probes let nothing escape
        const std::vector<std::string> trace = control.trace();
        REQUIRE(result == link.PuertoActivo(), trace);
        REQUIRE(result == -1 || result == 1 || result == 2, trace);
        REQUIRE(link.Entradas() == 0, trace);
        for (char c : control.written()) REQUIRE(static_cast<unsigned char>(c) == 0xFF, trace);
        REQUIRE(control.written().size() <= 2, trace);
        checkWaits(trace);
        if (result == 1)
            for (const std::string& entry : trace) REQUIRE(entry != "CommPort(2)", trace);
        // Each probe writes its byte before it reads anything.
        bool wrote = false;
        for (const std::string& entry : trace) {
            if (startsWith(entry, "CommPort(")) wrote = false;
            if (startsWith(entry, "Output(")) wrote = true;
            if (isRead(entry)) REQUIRE(wrote, trace);
        }
    }

    for (const Call& call : calls) {
        control.preload(call.stray);
        control.endPollRun();
        const size_t traceBefore = control.trace().size();
        const std::string writtenBefore = control.written();
        const int16_t portBefore = link.PuertoActivo();
        const int16_t entradasBefore = link.Entradas();
        const bool linkUp = portBefore == 1 || portBefore == 2;
        bool result = false;
        bool threw = false;
        try {
            result = call.command ? link.EnviarOrden(call.value) : link.LeerEntradas();
        } catch (const SerialError&) {
            threw = true;  // errors of the control pass through the handshakes untouched
        }
        const std::vector<std::string> trace = control.trace();
        const std::vector<std::string> segment(trace.begin() + static_cast<long>(traceBefore),
                                               trace.end());
        const std::string wrote = control.written().substr(writtenBefore.size());

        REQUIRE(link.PuertoActivo() == portBefore, segment);
        REQUIRE(link.Entradas() >= 0 && link.Entradas() <= 255, segment);
        REQUIRE(control.written().compare(0, writtenBefore.size(), writtenBefore) == 0, segment);
        const size_t start = checkHandshakeShape(segment);
        // What the exchange read after the discard.
        const std::vector<std::string> reads = readsOf(
            std::vector<std::string>(segment.begin() + static_cast<long>(start), segment.end()));

        const bool refused = !linkUp || (call.command && (call.value < 0 || call.value > 255));
        if (refused) {
            REQUIRE(!result && !threw, segment);
            REQUIRE(segment.empty() && wrote.empty(), segment);
        }
        if (call.command) {
            REQUIRE(link.Entradas() == entradasBefore, segment);
            const std::string full = "\xAA" + std::string(1, static_cast<char>(call.value));
            REQUIRE(full.compare(0, wrote.size(), wrote) == 0, segment);
            // The command byte goes out only after the header was acknowledged.
            if (wrote.size() == 2) REQUIRE(!reads.empty() && reads[0] == "\xF0", segment);
            if (result) REQUIRE(wrote == full && reads.size() == 2 && reads[1] == "\xF0", segment);
        } else {
            if (link.Entradas() != entradasBefore) REQUIRE(result, segment);
            if (!wrote.empty()) REQUIRE(wrote[0] == '\xCC', segment);
            if (wrote.size() > 1) {
                REQUIRE(!reads.empty(), segment);
                const std::string echo = reads[0].empty() ? std::string(1, '\0') : reads[0];
                REQUIRE(wrote == "\xCC" + echo, segment);
            }
            if (result) {
                REQUIRE(reads.size() == 2 && reads[1] == "\xF0", segment);
                const int expected = reads[0].empty() ? 0 : static_cast<unsigned char>(reads[0][0]);
                REQUIRE(link.Entradas() == expected, segment);
            }
        }
    }
    // Whatever happened, once the faults are over and the line is quiet, a sound board gets
    // two whole exchanges in a row, each writing exactly its own bytes.
    if (link.PuertoActivo() == 1 || link.PuertoActivo() == 2) {
        control.failWhen([](const FakeSerialControl&, const std::string&) { return false; });
        control.clearReactions();
        control.settle();
        const uint8_t command = data.ConsumeIntegral<uint8_t>();
        const uint8_t input = data.ConsumeIntegral<uint8_t>();
        control.clearTrace();
        control.answer("\xF0");
        control.answer("\xF0");
        REQUIRE(link.EnviarOrden(command), control.trace());
        REQUIRE(control.written() == "\xAA" + std::string(1, static_cast<char>(command)),
                control.trace());
        control.clearTrace();
        control.answer(std::string(1, static_cast<char>(input)));
        control.answer("\xF0");
        REQUIRE(link.LeerEntradas(), control.trace());
        REQUIRE(control.written() == "\xCC" + std::string(1, static_cast<char>(input)),
                control.trace());
        REQUIRE(link.Entradas() == input, control.trace());
    }
    return 0;
}
