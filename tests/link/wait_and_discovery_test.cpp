// The bounded wait and the search for the board, on the scripted control.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "link/interface_link.h"
#include "tests/support/fake_serial_control.h"

namespace varnel::test {
namespace {

using Trace = std::vector<std::string>;

const std::string kF0 = bytes({0xF0});

struct LinkOnFake : ::testing::Test {
    FakeSerialControl fake;
    InterfaceLink link{[this]() -> SerialControl& { return fake; }};
};

// --- bounded wait -------------------------------------------------------------------------

struct WaitCase {
    const char* name;
    std::string stale;  // already waiting before the wait
    Reaction reaction;  // what arrives after the write that precedes the wait
    bool result;
    int polls;
    std::string leftWaiting;
};
void PrintTo(const WaitCase& c, std::ostream* os) {
    *os << c.name;
}

class BoundedWait : public LinkOnFake, public ::testing::WithParamInterface<WaitCase> {};

TEST_P(BoundedWait, StopsOnExactlyOneByteOrAfter5000Polls) {
    const WaitCase& c = GetParam();
    fake.PortOpen(true);
    fake.preload(c.stale);
    fake.react(c.reaction);
    fake.Output(bytes({0x00}));
    EXPECT_EQ(link.EsperarRespuesta(), c.result);
    EXPECT_EQ(fake.lastPollRun(), c.polls);
    EXPECT_EQ(hex(fake.waiting()), hex(c.leftWaiting)) << "the wait reads and discards nothing";
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BoundedWait,
    ::testing::Values(
        WaitCase{"nothing_arrives", "", {}, false, 5000, ""},
        WaitCase{"byte_already_waiting", "", {kF0, 0}, true, 1, kF0},
        WaitCase{"byte_at_first_poll", "", {kF0, 1}, true, 1, kF0},
        WaitCase{"byte_at_poll_4999", "", {kF0, 4999}, true, 4999, kF0},
        WaitCase{"byte_at_poll_5000_counts_as_missing", "", {kF0, 5000}, false, 5000, kF0},
        WaitCase{
            "two_bytes_together", "", {bytes({0xF0, 0xF0}), 3}, false, 5000, bytes({0xF0, 0xF0})},
        WaitCase{"two_stale_bytes", bytes({0x11, 0x22}), {}, false, 5000, bytes({0x11, 0x22})},
        WaitCase{"one_stale_byte", bytes({0x11}), {}, true, 1, bytes({0x11})},
        WaitCase{"stale_byte_joined_by_answer_before_first_poll",
                 bytes({0x11}),
                 {kF0, 1},
                 false,
                 5000,
                 bytes({0x11, 0xF0})}),
    [](const auto& info) { return std::string(info.param.name); });

// --- discovery ----------------------------------------------------------------------------

const Trace kOpenPort1 = {"CommPort(1)",          "PortOpen?",   "CommPort(1)",
                          "Settings(9600,N,8,1)", "InputLen(0)", "PortOpen(true)"};
const Trace kOpenPort2 = {"CommPort(2)",          "PortOpen?",   "CommPort(2)",
                          "Settings(9600,N,8,1)", "InputLen(0)", "PortOpen(true)"};

Trace join(std::initializer_list<Trace> parts) {
    Trace all;
    for (const Trace& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

struct DiscoveryCase {
    const char* name;
    std::function<void(FakeSerialControl&)> script;
    int16_t result;
    bool portOpenAfter;
    int16_t portAfter;
    Trace trace;
    std::string outcomes;  // what each probe found, as the operator is told
};
void PrintTo(const DiscoveryCase& c, std::ostream* os) {
    *os << c.name;
}

std::string outcomesOf(const InterfaceLink& link) {
    std::string text;
    for (const ProbeOutcome& o : link.probes())
        text += (text.empty() ? "" : "; ") + std::to_string(o.port) + ": " + describe(o);
    return text;
}

class Discovery : public LinkOnFake, public ::testing::WithParamInterface<DiscoveryCase> {};

TEST_P(Discovery, OutcomeAndExactOperations) {
    const DiscoveryCase& c = GetParam();
    c.script(fake);
    EXPECT_EQ(link.PuertoActivo(), 0);
    EXPECT_EQ(link.Conectar(), c.result);
    EXPECT_EQ(link.PuertoActivo(), c.result);
    EXPECT_EQ(fake.PortOpen(), c.portOpenAfter);
    EXPECT_EQ(fake.CommPort(), c.portAfter);
    Trace expected = c.trace;
    expected.push_back("PortOpen?");  // the check above
    EXPECT_EQ(fake.trace(), expected);
    EXPECT_EQ(outcomesOf(link), c.outcomes);
}

bool opening(const FakeSerialControl& f, const std::string& op, int16_t port) {
    return op == "PortOpen(true)" && f.CommPort() == port;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Discovery,
    ::testing::Values(
        DiscoveryCase{"board_on_port_1", [](FakeSerialControl& f) { f.answer(kF0); }, 1, true, 1,
                      join({kOpenPort1, {"Output(FF)", "InBufferCount x1", "Input->F0"}}),
                      "1: board found"},
        DiscoveryCase{"no_board_on_either_port", [](FakeSerialControl&) {}, -1, false, 2,
                      join({kOpenPort1,
                            {"Output(FF)", "InBufferCount x5000", "PortOpen(false)"},
                            kOpenPort2,
                            {"Output(FF)", "InBufferCount x5000", "PortOpen(false)"}}),
                      "1: no answer; 2: no answer"},
        DiscoveryCase{"board_only_on_port_2",
                      [](FakeSerialControl& f) {
                          f.silent();
                          f.answer(kF0);
                      },
                      2, true, 2,
                      join({kOpenPort1,
                            {"Output(FF)", "InBufferCount x5000", "PortOpen(false)"},
                            kOpenPort2,
                            {"Output(FF)", "InBufferCount x1", "Input->F0"}}),
                      "1: no answer; 2: board found"},
        DiscoveryCase{"port_1_cannot_be_opened",
                      [](FakeSerialControl& f) {
                          f.failWhen([](const FakeSerialControl& fc, const std::string& op) {
                              return opening(fc, op, 1);
                          });
                          f.answer(kF0);
                      },
                      2, true, 2,
                      join({{"CommPort(1)", "PortOpen?", "CommPort(1)", "Settings(9600,N,8,1)",
                             "InputLen(0)", "PortOpen(true) !threw"},
                            kOpenPort2,
                            {"Output(FF)", "InBufferCount x1", "Input->F0"}}),
                      "1: fake: PortOpen(true) failed; 2: board found"},
        DiscoveryCase{"answer_first_seen_at_poll_5000_is_missing",
                      [](FakeSerialControl& f) { f.answer(kF0, 5000); }, -1, false, 2,
                      join({kOpenPort1,
                            {"Output(FF)", "InBufferCount x5000", "PortOpen(false)"},
                            kOpenPort2,
                            {"Output(FF)", "InBufferCount x5000", "PortOpen(false)"}}),
                      "1: no answer; 2: no answer"},
        DiscoveryCase{"two_bytes_together_on_port_1",
                      [](FakeSerialControl& f) {
                          f.answer(bytes({0xF0, 0xF0}));
                      },
                      -1, false, 2,
                      join({kOpenPort1,
                            {"Output(FF)", "InBufferCount x5000", "PortOpen(false)"},
                            kOpenPort2,
                            {"Output(FF)", "InBufferCount x5000", "PortOpen(false)"}}),
                      "1: answered 2 bytes at once; 2: no answer"},
        DiscoveryCase{
            "second_byte_before_the_read_leaves_port_1_open",
            [](FakeSerialControl& f) {
                f.react({kF0, 1, bytes({0x00}), false});
                f.answer(kF0);
            },
            2, true, 2,
            join({kOpenPort1,
                  {"Output(FF)", "InBufferCount x1", "Input->F0 00"},
                  {"CommPort(2)", "PortOpen?", "Output(FF)", "InBufferCount x1", "Input->F0"}}),
            "1: wrong answer (F0 00); 2: board found"},
        DiscoveryCase{"wrong_answer_then_port_change_on_open_port_fails",
                      [](FakeSerialControl& f) {
                          f.answer(bytes({0x55}));
                          f.failWhen([](const FakeSerialControl& fc, const std::string& op) {
                              return op == "CommPort(2)" && fc.PortOpen();
                          });
                      },
                      -1, true, 1,
                      join({kOpenPort1,
                            {"Output(FF)", "InBufferCount x1", "Input->55"},
                            {"PortOpen?", "CommPort(2) !threw"}}),
                      "1: wrong answer (55); 2: not probed (serial port 1 is still open after its "
                      "wrong answer)"},
        DiscoveryCase{"error_on_write_after_open_leaves_port_open",
                      [](FakeSerialControl& f) {
                          f.failWhen([](const FakeSerialControl&, const std::string& op) {
                              return op == "Output(FF)";
                          });
                      },
                      -1, true, 2,
                      join({kOpenPort1,
                            {"Output(FF) !threw"},
                            // port 1 is still open: port 2's probe changes its number and
                            // reuses it without reopening
                            {"CommPort(2)", "PortOpen?", "Output(FF) !threw"}}),
                      "1: fake: Output(FF) failed; 2: fake: Output(FF) failed"}),
    [](const auto& info) { return std::string(info.param.name); });

// The control's kind of failure is what the operator is told about the port.
TEST_F(LinkOnFake, ProbeOutcomeNamesWhyThePortCouldNotBeOpened) {
    const struct {
        SerialError::Kind kind;
        const char* told;
    } cases[] = {
        {SerialError::Kind::NoSuchPort, "no such port"},
        {SerialError::Kind::NoUart, "no such port (no UART)"},
        {SerialError::Kind::NotPermitted,
         "not permitted (the user must be in the group that owns the device, usually dialout)"},
        {SerialError::Kind::Busy, "busy (another program has the port open)"},
        {SerialError::Kind::Disconnected, "fake: PortOpen(true) failed"},
    };
    for (const auto& c : cases) {
        FakeSerialControl control;
        InterfaceLink fresh{[&]() -> SerialControl& { return control; }};
        control.failWhen(
            [](const FakeSerialControl&, const std::string& op) { return op == "PortOpen(true)"; },
            c.kind);
        EXPECT_EQ(fresh.Conectar(), -1);
        EXPECT_EQ(outcomesOf(fresh), std::string("1: ") + c.told + "; 2: " + c.told);
    }
}

TEST_F(LinkOnFake, ProbeSetsMinusOneBeforeTouchingThePort) {
    int16_t seen = 99;
    fake.failWhen([&](const FakeSerialControl&, const std::string& op) {
        if (op == "CommPort(1)" && seen == 99) seen = link.PuertoActivo();
        return false;
    });
    fake.answer(kF0);
    EXPECT_EQ(link.ConectarCOM1(), 1);
    EXPECT_EQ(seen, -1);
}

}  // namespace
}  // namespace varnel::test
