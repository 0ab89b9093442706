// The command and input handshakes, on the scripted control.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <string>
#include <vector>

#include "link/interface_link.h"
#include "tests/support/fake_serial_control.h"

namespace varnel::test {
namespace {

using Trace = std::vector<std::string>;

const std::string kF0 = bytes({0xF0});

struct Handshake : ::testing::Test {
    FakeSerialControl fake;
    InterfaceLink link{[this]() -> SerialControl& { return fake; }};

    // Finds the board on port 1 and forgets the probe's operations.
    void connect() {
        fake.answer(kF0);
        ASSERT_EQ(link.Conectar(), 1);
        fake.clearTrace();
    }
    // Reads an input byte successfully so that Entradas holds it.
    void readInput(int value) {
        fake.answer(bytes({value}));
        fake.answer(kF0);
        ASSERT_TRUE(link.LeerEntradas());
        ASSERT_EQ(link.Entradas(), value);
        fake.clearTrace();
    }
};

// --- command handshake --------------------------------------------------------------------

TEST_F(Handshake, CommandWorkedExample35) {
    connect();
    fake.answer(kF0);
    fake.answer(kF0);
    EXPECT_TRUE(link.EnviarOrden(35));
    EXPECT_EQ(fake.trace(), (Trace{"InBufferCount x1", "Output(AA)", "InBufferCount x1",
                                   "Input->F0", "Output(23)", "InBufferCount x1", "Input->F0"}));
}

TEST_F(Handshake, EveryCommandValueLeavesAsOneEqualByte) {
    connect();
    for (int value : {0, 1, 51, 128, 170, 240, 255}) {
        fake.clearTrace();
        fake.answer(kF0);
        fake.answer(kF0);
        EXPECT_TRUE(link.EnviarOrden(static_cast<int16_t>(value))) << value;
        EXPECT_EQ(hex(fake.written()), hex(bytes({0xAA, value}))) << value;
    }
}

TEST_F(Handshake, CommandRefusedWithoutTouchingTheControl) {
    for (int16_t value : {int16_t{-1}, int16_t{256}, int16_t{INT16_MIN}, int16_t{INT16_MAX}}) {
        connect();
        EXPECT_FALSE(link.EnviarOrden(value)) << value;
        EXPECT_TRUE(fake.trace().empty()) << value;
    }
    // Link state 0 (no probe yet) and -1 (failed probe).
    FakeSerialControl other;
    InterfaceLink fresh{[&]() -> SerialControl& { return other; }};
    EXPECT_FALSE(fresh.EnviarOrden(0));
    EXPECT_TRUE(other.trace().empty());
    fresh.Conectar();
    ASSERT_EQ(fresh.PuertoActivo(), -1);
    other.clearTrace();
    other.preload(kF0);
    EXPECT_FALSE(fresh.EnviarOrden(0));
    EXPECT_TRUE(other.trace().empty());
}

struct FailureCase {
    const char* name;
    std::vector<Reaction> reactions;  // to the header, then to the command byte
    std::string stale;                // waiting before the call
    std::string written;
    Trace trace;
    std::string leftWaiting;
};
void PrintTo(const FailureCase& c, std::ostream* os) {
    *os << c.name;
}

class CommandFailure : public Handshake, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CommandFailure, ReturnsFalseAndLeavesTheBufferAsTheLineLeftIt) {
    const FailureCase& c = GetParam();
    connect();
    fake.preload(c.stale);
    for (const Reaction& r : c.reactions) fake.react(r);
    EXPECT_FALSE(link.EnviarOrden(0x23));
    EXPECT_EQ(hex(fake.written()), hex(c.written));
    EXPECT_EQ(fake.trace(), c.trace);
    EXPECT_EQ(hex(fake.waiting()), hex(c.leftWaiting));
    EXPECT_EQ(link.PuertoActivo(), 1);
    EXPECT_TRUE(fake.PortOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandFailure,
    ::testing::Values(
        FailureCase{"header_unanswered",
                    {{}},
                    "",
                    bytes({0xAA}),
                    {"InBufferCount x1", "Output(AA)", "InBufferCount x5000"},
                    ""},
        FailureCase{"header_answer_at_last_poll_stays",
                    {{kF0, 5000}},
                    "",
                    bytes({0xAA}),
                    {"InBufferCount x1", "Output(AA)", "InBufferCount x5000"},
                    kF0},
        FailureCase{"header_answered_wrong",
                    {{bytes({0x0F}), 1}},
                    "",
                    bytes({0xAA}),
                    {"InBufferCount x1", "Output(AA)", "InBufferCount x1", "Input->0F"},
                    ""},
        FailureCase{"header_ack_joined_before_read",
                    {{kF0, 1, bytes({0x77})}},
                    "",
                    bytes({0xAA}),
                    {"InBufferCount x1", "Output(AA)", "InBufferCount x1", "Input->F0 77"},
                    ""},
        FailureCase{"header_two_bytes_together",
                    {{bytes({0xF0, 0xF0}), 2}},
                    "",
                    bytes({0xAA}),
                    {"InBufferCount x1", "Output(AA)", "InBufferCount x5000"},
                    bytes({0xF0, 0xF0})},
        FailureCase{"command_byte_unanswered",
                    {{kF0, 1}, {}},
                    "",
                    bytes({0xAA, 0x23}),
                    {"InBufferCount x1", "Output(AA)", "InBufferCount x1", "Input->F0",
                     "Output(23)", "InBufferCount x5000"},
                    ""},
        FailureCase{"command_byte_answered_wrong",
                    {{kF0, 1}, {bytes({0xAA}), 3}},
                    "",
                    bytes({0xAA, 0x23}),
                    {"InBufferCount x1", "Output(AA)", "InBufferCount x1", "Input->F0",
                     "Output(23)", "InBufferCount x3", "Input->AA"},
                    ""},
        FailureCase{"command_answer_empty_read",
                    {{kF0, 1}, {kF0, 1, "", true}},
                    "",
                    bytes({0xAA, 0x23}),
                    {"InBufferCount x1", "Output(AA)", "InBufferCount x1", "Input->F0",
                     "Output(23)", "InBufferCount x1", "Input->"},
                    ""}),
    [](const auto& info) { return std::string(info.param.name); });

// --- input handshake ----------------------------------------------------------------------

TEST_F(Handshake, InputWorkedExample5) {
    connect();
    fake.answer(bytes({0x05}));
    fake.answer(kF0);
    EXPECT_TRUE(link.LeerEntradas());
    EXPECT_EQ(link.Entradas(), 5);
    EXPECT_EQ(fake.trace(), (Trace{"InBufferCount x1", "Output(CC)", "InBufferCount x1",
                                   "Input->05", "Output(05)", "InBufferCount x1", "Input->F0"}));
}

TEST_F(Handshake, InputBytesPassUnchangedIntoEchoAndEntradas) {
    connect();
    for (int value : {0x00, 0x01, 0x0F, 0x80, 0xCC, 0xF0, 0xFF}) {
        fake.clearTrace();
        fake.answer(bytes({value}));
        fake.answer(kF0);
        EXPECT_TRUE(link.LeerEntradas()) << value;
        EXPECT_EQ(link.Entradas(), value);
        EXPECT_EQ(hex(fake.written()), hex(bytes({0xCC, value})));
    }
}

TEST_F(Handshake, EmptyFirstAnswerIsEchoedAsZero) {
    connect();
    readInput(9);
    fake.react({bytes({0x09}), 1, "", true});
    fake.answer(kF0);
    EXPECT_TRUE(link.LeerEntradas());
    EXPECT_EQ(link.Entradas(), 0);
    EXPECT_EQ(hex(fake.written()), hex(bytes({0xCC, 0x00})));
}

TEST_F(Handshake, TwoBytesReadTogetherAreBothEchoedAndTheFirstIsKept) {
    connect();
    fake.react({bytes({0x06}), 1, bytes({0x09})});
    fake.answer(kF0);
    EXPECT_TRUE(link.LeerEntradas());
    EXPECT_EQ(link.Entradas(), 6);
    EXPECT_EQ(hex(fake.written()), hex(bytes({0xCC, 0x06, 0x09})));
}

class InputFailure : public Handshake, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InputFailure, ReturnsFalseAndKeepsEntradas) {
    const FailureCase& c = GetParam();
    connect();
    readInput(7);
    fake.preload(c.stale);
    for (const Reaction& r : c.reactions) fake.react(r);
    EXPECT_FALSE(link.LeerEntradas());
    EXPECT_EQ(link.Entradas(), 7);
    EXPECT_EQ(hex(fake.written()), hex(c.written));
    EXPECT_EQ(fake.trace(), c.trace);
    EXPECT_EQ(hex(fake.waiting()), hex(c.leftWaiting));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InputFailure,
    ::testing::Values(FailureCase{"request_unanswered",
                                  {{}},
                                  "",
                                  bytes({0xCC}),
                                  {"InBufferCount x1", "Output(CC)", "InBufferCount x5000"},
                                  ""},
                      FailureCase{"request_answer_at_last_poll_stays",
                                  {{bytes({0x03}), 5000}},
                                  "",
                                  bytes({0xCC}),
                                  {"InBufferCount x1", "Output(CC)", "InBufferCount x5000"},
                                  bytes({0x03})},
                      FailureCase{"echo_unanswered",
                                  {{bytes({0x03}), 1}, {}},
                                  "",
                                  bytes({0xCC, 0x03}),
                                  {"InBufferCount x1", "Output(CC)", "InBufferCount x1",
                                   "Input->03", "Output(03)", "InBufferCount x5000"},
                                  ""},
                      FailureCase{"echo_ack_late_stays",
                                  {{bytes({0x03}), 1}, {kF0, 5000}},
                                  "",
                                  bytes({0xCC, 0x03}),
                                  {"InBufferCount x1", "Output(CC)", "InBufferCount x1",
                                   "Input->03", "Output(03)", "InBufferCount x5000"},
                                  kF0},
                      FailureCase{"echo_answered_wrong",
                                  {{bytes({0x03}), 1}, {bytes({0x0F}), 1}},
                                  "",
                                  bytes({0xCC, 0x03}),
                                  {"InBufferCount x1", "Output(CC)", "InBufferCount x1",
                                   "Input->03", "Output(03)", "InBufferCount x1", "Input->0F"},
                                  ""},
                      FailureCase{"ack_joined_before_read",
                                  {{bytes({0x03}), 1}, {kF0, 1, kF0}},
                                  "",
                                  bytes({0xCC, 0x03}),
                                  {"InBufferCount x1", "Output(CC)", "InBufferCount x1",
                                   "Input->03", "Output(03)", "InBufferCount x1", "Input->F0 F0"},
                                  ""},
                      FailureCase{"ack_read_empty",
                                  {{bytes({0x03}), 1}, {kF0, 1, "", true}},
                                  "",
                                  bytes({0xCC, 0x03}),
                                  {"InBufferCount x1", "Output(CC)", "InBufferCount x1",
                                   "Input->03", "Output(03)", "InBufferCount x1", "Input->"},
                                  ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Handshake, InputRefusedWhileNoBoardAnswered) {
    FakeSerialControl other;
    InterfaceLink fresh{[&]() -> SerialControl& { return other; }};
    EXPECT_FALSE(fresh.LeerEntradas());
    fresh.Conectar();
    other.clearTrace();
    EXPECT_FALSE(fresh.LeerEntradas());
    EXPECT_TRUE(other.trace().empty());
    EXPECT_EQ(fresh.Entradas(), 0);
}

TEST_F(Handshake, EntradasChangesOnlyAtTheAcknowledgedRead) {
    connect();
    fake.silent();
    EXPECT_FALSE(link.LeerEntradas());
    fake.answer(bytes({0x02}));
    fake.answer(bytes({0x00}));
    EXPECT_FALSE(link.LeerEntradas());
    EXPECT_EQ(link.Entradas(), 0);
    fake.answer(bytes({0x02}));
    fake.answer(kF0);
    EXPECT_TRUE(link.LeerEntradas());
    EXPECT_EQ(link.Entradas(), 2);
}

// --- stale and late bytes -----------------------------------------------------------------

// Whatever waits before an exchange is read and dropped; the exchange then runs on the board's
// own answers.
struct StaleCase {
    const char* name;
    bool input;        // LeerEntradas, else EnviarOrden
    Reaction earlier;  // the answer to an earlier write that failed, still on its way
    std::string stale;
    Trace discard;  // what the discard does before the exchange's first write
};
void PrintTo(const StaleCase& c, std::ostream* os) {
    *os << c.name;
}

class StaleBytes : public Handshake, public ::testing::WithParamInterface<StaleCase> {};

TEST_P(StaleBytes, AreDroppedAndTheExchangeRunsOnItsOwnAnswers) {
    const StaleCase& c = GetParam();
    connect();
    if (!c.earlier.bytes.empty()) {
        // An input request whose answer comes too late: that exchange fails.
        fake.react(c.earlier);
        EXPECT_FALSE(link.LeerEntradas());
        fake.clearTrace();
    }
    fake.preload(c.stale);
    Trace exchange;
    if (c.input) {
        fake.answer(bytes({0x05}));
        fake.answer(kF0);
        EXPECT_TRUE(link.LeerEntradas());
        EXPECT_EQ(link.Entradas(), 5);
        EXPECT_EQ(hex(fake.written()), hex(bytes({0xCC, 0x05})));
        exchange = {"Output(CC)", "InBufferCount x1", "Input->05",
                    "Output(05)", "InBufferCount x1", "Input->F0"};
    } else {
        fake.answer(kF0);
        fake.answer(kF0);
        EXPECT_TRUE(link.EnviarOrden(0x23));
        EXPECT_EQ(link.Entradas(), 0);
        EXPECT_EQ(hex(fake.written()), hex(bytes({0xAA, 0x23})));
        exchange = {"Output(AA)", "InBufferCount x1", "Input->F0",
                    "Output(23)", "InBufferCount x1", "Input->F0"};
    }
    Trace expected = c.discard;
    expected.insert(expected.end(), exchange.begin(), exchange.end());
    EXPECT_EQ(fake.trace(), expected);
    EXPECT_EQ(fake.waiting(), "");
}

const Reaction kLateInput{bytes({0x09}), 5001};  // one poll after the request's wait gave up

INSTANTIATE_TEST_SUITE_P(
    Cases, StaleBytes,
    ::testing::Values(
        StaleCase{"nothing_waiting_command", false, {}, "", {"InBufferCount x1"}},
        StaleCase{"one_byte_command", false, {}, bytes({0x11}), {"InBufferCount x1", "Input->11"}},
        StaleCase{"two_bytes_command",
                  false,
                  {},
                  bytes({0x01, 0x02}),
                  {"InBufferCount x1", "Input->01 02"}},
        StaleCase{"an_ack_command", false, {}, kF0, {"InBufferCount x1", "Input->F0"}},
        StaleCase{"late_answer_arriving_at_the_discard_command",
                  false,
                  kLateInput,
                  "",
                  {"InBufferCount x1", "Input->09"}},
        StaleCase{"late_answer_joined_during_the_discard_command",
                  false,
                  {bytes({0x09}), 5001, kF0},
                  "",
                  {"InBufferCount x1", "Input->09 F0"}},
        StaleCase{"one_byte_input", true, {}, bytes({0x11}), {"InBufferCount x1", "Input->11"}},
        StaleCase{
            "two_bytes_input", true, {}, bytes({0x01, 0x02}), {"InBufferCount x1", "Input->01 02"}},
        StaleCase{"an_ack_input", true, {}, kF0, {"InBufferCount x1", "Input->F0"}},
        StaleCase{"late_answer_arriving_at_the_discard_input",
                  true,
                  kLateInput,
                  "",
                  {"InBufferCount x1", "Input->09"}},
        StaleCase{"late_answer_joined_during_the_discard_input",
                  true,
                  {bytes({0x09}), 5001, kF0},
                  "",
                  {"InBufferCount x1", "Input->09 F0"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Handshake, LateAcknowledgementCostsItsOwnExchangeOnly) {
    connect();
    // The command byte's acknowledgement comes one poll after its wait gave up.
    fake.answer(kF0);
    fake.react({kF0, 5001});
    EXPECT_FALSE(link.EnviarOrden(0x11));
    EXPECT_EQ(fake.trace(), (Trace{"InBufferCount x1", "Output(AA)", "InBufferCount x1",
                                   "Input->F0", "Output(11)", "InBufferCount x5000"}));
    fake.clearTrace();
    fake.answer(kF0);
    fake.answer(kF0);
    EXPECT_TRUE(link.EnviarOrden(0x11));
    EXPECT_EQ(fake.trace(),
              (Trace{"InBufferCount x1", "Input->F0", "Output(AA)", "InBufferCount x1", "Input->F0",
                     "Output(11)", "InBufferCount x1", "Input->F0"}));
    EXPECT_EQ(hex(fake.written()), hex(bytes({0xAA, 0x11})));
}

TEST_F(Handshake, AnswerLateEnoughToMeetTheNextExchangeCostsThatOneTooThenTheLineIsInStep) {
    connect();
    fake.react({bytes({0x03}), 5004});  // lands in the middle of the next exchange's wait
    EXPECT_FALSE(link.LeerEntradas());
    // Arriving with the header's own answer, it makes two bytes at once: that exchange fails.
    fake.answer(kF0);
    EXPECT_FALSE(link.EnviarOrden(0x01));
    fake.clearTrace();
    fake.answer(kF0);
    fake.answer(kF0);
    EXPECT_TRUE(link.EnviarOrden(0x01));
    EXPECT_EQ(fake.trace(),
              (Trace{"InBufferCount x1", "Input->03 F0", "Output(AA)", "InBufferCount x1",
                     "Input->F0", "Output(01)", "InBufferCount x1", "Input->F0"}));
    EXPECT_EQ(link.Entradas(), 0);
}

// --- errors raised by the control ---------------------------------------------------------

struct ErrorCase {
    const char* name;
    bool input;      // LeerEntradas, else EnviarOrden
    std::string op;  // the operation that fails
    int occurrence;  // its nth run in the call
    std::string written;
    std::string stale = {};  // waiting before the call
};
void PrintTo(const ErrorCase& c, std::ostream* os) {
    *os << c.name;
}

class ControlError : public Handshake, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(ControlError, PropagatesUntouchedAndStopsTheHandshake) {
    const ErrorCase& c = GetParam();
    connect();
    readInput(7);
    int seen = 0;
    fake.failWhen([&](const FakeSerialControl&, const std::string& op) {
        return op.rfind(c.op, 0) == 0 && ++seen == c.occurrence;
    });
    fake.preload(c.stale);
    fake.answer(c.input ? bytes({0x05}) : kF0);
    fake.answer(kF0);
    if (c.input)
        EXPECT_THROW(link.LeerEntradas(), SerialError);
    else
        EXPECT_THROW(link.EnviarOrden(3), SerialError);
    EXPECT_EQ(hex(fake.written()), hex(c.written));
    EXPECT_EQ(link.Entradas(), 7);
    EXPECT_EQ(link.PuertoActivo(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ControlError,
    ::testing::Values(ErrorCase{"command_discard_poll", false, "InBufferCount", 1, ""},
                      ErrorCase{"command_discard_read", false, "Input", 1, "", bytes({0x33})},
                      ErrorCase{"command_header_write", false, "Output", 1, ""},
                      ErrorCase{"command_first_poll", false, "InBufferCount", 2, bytes({0xAA})},
                      ErrorCase{"command_first_read", false, "Input", 1, bytes({0xAA})},
                      ErrorCase{"command_byte_write", false, "Output", 2, bytes({0xAA})},
                      ErrorCase{"command_second_read", false, "Input", 2, bytes({0xAA, 0x03})},
                      ErrorCase{"input_discard_read", true, "Input", 1, "", bytes({0xF0})},
                      ErrorCase{"input_request_write", true, "Output", 1, ""},
                      ErrorCase{"input_echo_write", true, "Output", 2, bytes({0xCC})},
                      ErrorCase{"input_second_poll", true, "InBufferCount", 3, bytes({0xCC, 0x05})},
                      ErrorCase{"input_ack_read", true, "Input", 2, bytes({0xCC, 0x05})}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace varnel::test
