// The running program against a line that falls out of step: answers held back and delivered
// together, answers sent twice. Each costs an exchange or two, never the rest of the run. And what
// the operator is told when no board is found at start.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "tests/e2e/end_to_end.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class Resync : public EndToEnd {
  protected:
    // With input 5 held, every tick in step is this on the line.
    static const Line& kTick() {
        static const Line tick = inputLine(5) + commandLine(35);
        return tick;
    }

    static bool hasTick(const Line& line) {
        return std::search(line.begin(), line.end(), kTick().begin(), kTick().end()) != line.end();
    }

    // Runs `fault` a few milliseconds after the board heard a byte, so that faults land at
    // different points of the tick, then measures how long after `settled` the line first
    // carries a whole tick in step again.
    template <typename Fault>
    static Clock::duration recovery(PtyBoard& board, std::chrono::microseconds phase, Fault fault,
                                    std::chrono::milliseconds settled) {
        const size_t heard = board.received().size();
        EXPECT_TRUE(board.waitForReceived(heard + 1, 2s));
        std::this_thread::sleep_for(phase);
        fault();
        std::this_thread::sleep_for(settled);
        board.clearRecords();
        const auto from = Clock::now();
        EXPECT_TRUE(eventually([&] { return hasTick(board.line()); }, 3s));
        return Clock::now() - from;
    }

    static void inStep(PtyBoard& board, const ProgramRunner& program) {
        ASSERT_TRUE(eventually([&] { return board.commands().size() >= 5; })) << program.errors();
        board.setInput(5);
        ASSERT_TRUE(eventually([&] { return hasTick(board.line()); }, 2s));
    }
};

TEST_F(Resync, LineStalledAtAnyPointOfTheTickIsBackInStepWithinHalfASecond) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    inStep(board, program);
    for (auto stall : {40ms, 55ms, 70ms}) {
        for (auto phase : {0us, 2500us, 5000us, 7500us, 12500us}) {
            SCOPED_TRACE(std::to_string(stall.count()) + " ms stall, " +
                         std::to_string(phase.count()) + " us after a byte");
            const auto took = recovery(
                board, phase, [&] { board.stall(stall); }, stall);
            EXPECT_LT(took, 500ms);
        }
    }
    closesWithTheStopAcknowledged(board, program);
}

TEST_F(Resync, AnswerSentTwiceCostsAnExchangeAndTheLineIsBackInStepWithinHalfASecond) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    inStep(board, program);
    for (auto phase : {0us, 1000us, 2500us, 5000us, 7500us, 12500us}) {
        SCOPED_TRACE(std::to_string(phase.count()) + " us after a byte");
        const auto took = recovery(
            board, phase, [&] { board.doubleNextAnswer(); }, 20ms);
        EXPECT_LT(took, 500ms);
    }
    closesWithTheStopAcknowledged(board, program);
}

TEST_F(Resync, NoBoardAtStartIsToldOnceWithWhatEachPortGave) {
    const std::string kPort1 = "VARNEL: Form_Load: no board found: serial port 1 (/dev/ttyS0): ";
    const std::string kPort2Absent = "; serial port 2 (/dev/ttyS1): no such port\n";
    enum class Port1 { Absent, Silent, NotPermitted };
    const struct {
        Port1 port1;
        std::string told;
    } cases[] = {
        {Port1::Absent, kPort1 + "no such port" + kPort2Absent},
        {Port1::Silent, kPort1 + "no answer" + kPort2Absent},
        {Port1::NotPermitted,
         kPort1 +
             "not permitted (the user must be in the group that owns the device, usually "
             "dialout)" +
             kPort2Absent},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.told);
        PtyBoard board;  // answers, when it is reached
        if (c.port1 == Port1::Silent) board.setSilent(true);
        ProgramRunner program(
            c.port1 == Port1::Absent ? PortSetup::absent() : PortSetup::device(board.path()),
            PortSetup::absent(), {}, {}, c.port1 == Port1::NotPermitted);
        ASSERT_TRUE(eventually([&] { return !program.errors().empty() || !program.running(); }))
            << "nothing said";
        std::this_thread::sleep_for(100ms);  // ticks run, with nothing more to say
        ASSERT_TRUE(program.running()) << program.errors();
        program.askToClose();
        ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
        EXPECT_EQ(program.errors(), c.told);
        EXPECT_EQ(hex(board.received()), c.port1 == Port1::Silent ? "FF" : "");
    }
}

}  // namespace
}  // namespace varnel::test
