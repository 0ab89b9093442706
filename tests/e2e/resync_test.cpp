// The running program against a line that falls out of step: answers held back and delivered
// together, answers sent twice. Each costs an exchange or two, never the rest of the run. And what
// the operator is told when no board is found at start.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "tests/e2e/end_to_end.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

// The console's ticks counted on the line, from where a fault is over to the first tick in step:
// 1 when the first tick that starts after it is whole and acknowledged.
constexpr size_t kTicksBackInStep = 3;

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

    // Where a stall is over: the first answer on the line after `from`, which was taken once the
    // stall had begun. A stalled board sends nothing and puts what it held on the line at the end.
    static std::optional<size_t> stallOver(const Line& line, size_t from) {
        for (size_t i = from; i < line.size(); ++i)
            if (line[i].fromBoard) return i + 1;
        return std::nullopt;
    }

    // Where a doubled answer is over: just past its second copy. The line in step before it
    // has no two answers in a row, so the search starts at the beginning of the record, where
    // the answer may have gone out even before the fault's call returned.
    static std::optional<size_t> doubleOver(const Line& line, size_t /*from*/) {
        for (size_t i = 1; i < line.size(); ++i)
            if (line[i - 1].fromBoard && line[i].fromBoard) return i + 1;
        return std::nullopt;
    }

    // Which tick, counted by the console's input requests after `settled`, is the first whole
    // one in step; nothing while none is on the line yet.
    static std::optional<size_t> tickInStep(const Line& line, size_t settled) {
        const auto begin = line.begin() + static_cast<std::ptrdiff_t>(settled);
        const auto tick = std::search(begin, line.end(), kTick().begin(), kTick().end());
        if (tick == line.end()) return std::nullopt;
        return static_cast<size_t>(std::count(begin, tick + 1, toBoard(0xCC)));
    }

    // Runs `fault` a few milliseconds after the board heard a byte, so that faults land at
    // different points of the tick; then counts on the line, from where `over` finds the fault
    // over, the ticks until one is whole and acknowledged again. Nothing if none comes in time.
    template <typename Fault, typename Over>
    static std::optional<size_t> ticksToStep(PtyBoard& board, std::chrono::microseconds phase,
                                             Fault fault, Over over) {
        board.clearRecords();
        EXPECT_TRUE(board.waitForReceived(1, 2s));
        std::this_thread::sleep_for(phase);
        fault();
        const size_t from = board.line().size();
        std::optional<size_t> tick;
        eventually([&] {
            const Line line = board.line();
            const std::optional<size_t> settled = over(line, from);
            if (settled) tick = tickInStep(line, *settled);
            return tick.has_value();
        });
        return tick;
    }

    static void inStep(PtyBoard& board, const ProgramRunner& program) {
        awaitTicks(board, program);
        if (HasFatalFailure()) return;
        board.setInput(5);
        ASSERT_TRUE(eventually([&] { return hasTick(board.line()); }, 2s));
    }
};

TEST_F(Resync, LineStalledAtAnyPointOfTheTickIsBackInStepWithinThreeTicks) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    inStep(board, program);
    for (auto stall : {40ms, 55ms, 70ms}) {
        for (auto phase : {0us, 2500us, 5000us, 7500us, 12500us}) {
            SCOPED_TRACE(std::to_string(stall.count()) + " ms stall, " +
                         std::to_string(phase.count()) + " us after a byte");
            const auto tick = ticksToStep(
                board, phase, [&] { board.stall(stall); }, stallOver);
            ASSERT_TRUE(tick) << "no whole tick after the stall: " << hex(board.received());
            EXPECT_LE(*tick, kTicksBackInStep) << hex(board.received());
        }
    }
    closesWithTheStopAcknowledged(board, program);
}

TEST_F(Resync, AnswerSentTwiceCostsAnExchangeAndTheLineIsBackInStepWithinThreeTicks) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    inStep(board, program);
    for (auto phase : {0us, 1000us, 2500us, 5000us, 7500us, 12500us}) {
        SCOPED_TRACE(std::to_string(phase.count()) + " us after a byte");
        const auto tick = ticksToStep(
            board, phase, [&] { board.doubleNextAnswer(); }, doubleOver);
        ASSERT_TRUE(tick) << "no whole tick after the doubled answer: " << hex(board.received());
        EXPECT_LE(*tick, kTicksBackInStep) << hex(board.received());
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
