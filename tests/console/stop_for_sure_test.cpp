// The stop on the way out, on the scripted control with a clock that only the waits move: the line
// is let go quiet, the stop is repeated until two in a row are acknowledged, and it all ends within
// its tries and its time.
#include <gtest/gtest.h>

#include <string>

#include "console/module1_torre.h"
#include "tests/support/fake_serial_control.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

const std::string kF0 = bytes({0xF0});

struct StopForSure : ::testing::Test {
    LinkTiming::Clock::time_point now{};
    FakeSerialControl fake;
    InterfaceLink link{[this]() -> SerialControl& { return fake; },
                       LinkTiming{[this] { return now; }, [this](auto d) { now += d; }}};
    Module1_Torre torre{link};

    void SetUp() override {
        fake.answer(kF0);
        ASSERT_EQ(link.Conectar(), 1);
        fake.clearTrace();
    }
    // What the stop costs on the clock.
    std::chrono::milliseconds stop(bool expected) {
        const auto from = now;
        EXPECT_EQ(torre.stopForSure(), expected);
        return std::chrono::duration_cast<std::chrono::milliseconds>(now - from);
    }
};

TEST_F(StopForSure, SoundLineTwoStopsAfterTheQuiet) {
    for (int i = 0; i < 4; ++i) fake.answer(kF0);
    const auto took = stop(true);
    EXPECT_EQ(hex(fake.written()), "AA 00 AA 00");
    EXPECT_EQ(took, Module1_Torre::kStopQuiet);
}

// The board answers a tick's header after the tick gave up on it, and is still waiting for the
// command byte: the late answer is dropped while the line goes quiet, the first stop's header is
// taken as that command (its 00 then meets an idle board, unanswered), and two more stops make
// sure of it.
TEST_F(StopForSure, LateAnswerOfATickIsDroppedAndTheBoardEndsStopped) {
    fake.answer(kF0, InterfaceLink::kMaxPolls + 30);
    EXPECT_FALSE(torre.MoverTorre(35)) << "the tick gives up on the header";
    fake.answer(kF0);  // the stop's header, taken as the pending command
    fake.silent();     // its 00, to an idle board
    for (int i = 0; i < 4; ++i) fake.answer(kF0);
    stop(true);
    EXPECT_EQ(hex(fake.written()), "AA AA 00 AA 00 AA 00");
    const std::vector<std::string> trace = fake.trace();
    EXPECT_NE(std::find(trace.begin(), trace.end(), "Input->F0"), trace.end())
        << "the late answer is read and dropped";
}

// Acknowledged once, then the board falls silent: one is not enough.
TEST_F(StopForSure, OneAcknowledgedStopIsNotEnough) {
    fake.answer(kF0);
    fake.answer(kF0);
    const auto took = stop(false);
    EXPECT_LE(took, Module1_Torre::kStopTime);
    EXPECT_EQ(fake.written().substr(0, 2), bytes({0xAA, 0x00}));
}

TEST_F(StopForSure, SilentBoardEndsWithinItsTriesAndItsTime) {
    const auto took = stop(false);
    EXPECT_LE(took, Module1_Torre::kStopTime);
    EXPECT_GE(fake.written().size(), 1u);
    EXPECT_LE(fake.written().size(), static_cast<size_t>(Module1_Torre::kStopTries));
    EXPECT_EQ(fake.written(), std::string(fake.written().size(), '\xAA'));
}

// A line that never goes quiet still gets a stop once its time is up, but not the certainty.
TEST_F(StopForSure, NoisyLineStillGetsOneStopAndEndsInTime) {
    fake.failWhen([this](const FakeSerialControl&, const std::string& op) {
        if (op == "InBufferCount" && fake.written().empty()) fake.preload(bytes({0x55}));
        return false;
    });
    for (int i = 0; i < 4; ++i) fake.answer(kF0);
    const auto took = stop(false);
    EXPECT_EQ(hex(fake.written()), "AA 00");
    EXPECT_GE(took, Module1_Torre::kStopTime);
    EXPECT_LE(took, Module1_Torre::kStopTime + 1ms);
}

TEST_F(StopForSure, NoBoardNothingIsWrittenAndNoTimePasses) {
    FakeSerialControl none;
    InterfaceLink down{[&]() -> SerialControl& { return none; },
                       LinkTiming{[this] { return now; }, [this](auto d) { now += d; }}};
    Module1_Torre alone{down};
    const auto from = now;
    EXPECT_FALSE(alone.stopForSure());
    EXPECT_TRUE(none.trace().empty());
    EXPECT_EQ(now, from);
}

}  // namespace
}  // namespace varnel::test
