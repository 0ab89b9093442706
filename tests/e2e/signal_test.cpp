// The ending signals: each one stops the motors and ends the program, whatever it is doing when
// the signal comes and however it was started; one that the parent set to be ignored stays so.
#include <gtest/gtest.h>

#include <signal.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/e2e/end_to_end.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

struct NamedSignal {
    int number;
    const char* name;
};
void PrintTo(const NamedSignal& signal, std::ostream* out) {
    *out << signal.name;
}
constexpr NamedSignal kEndingSignals[] = {
    {SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}, {SIGQUIT, "SIGQUIT"}};

// What the program is started with to preload `library`; in a sanitized build the ASan runtime
// must come first.
std::string preloading(const std::string& library) {
    const std::string asanRuntime = VARNEL_ASAN_RUNTIME;
    return asanRuntime.empty() ? library : asanRuntime + " " + library;
}

class SignalTest : public EndToEnd {
  protected:
    void SetUp() override {
        EndToEnd::SetUp();
#if defined(__SANITIZE_ADDRESS__)
        if (!IsSkipped() && std::string(VARNEL_ASAN_RUNTIME).empty())
            GTEST_SKIP() << "the ASan runtime, which a sanitized program needs loaded ahead of a "
                            "preloaded library, was not found";
#endif
    }

    // Waits until both motors run on the board's inputs, so the stop has something to stop.
    static void runBothMotors(PtyBoard& board, const ProgramRunner& program) {
        board.setInput(5);
        ASSERT_TRUE(eventually([&] {
            const auto commands = board.commands();
            return !commands.empty() && commands.back() == 35;
        })) << program.errors();
    }

    // The program goes on ticking: the board keeps accepting commands.
    static bool ticksGoOn(const PtyBoard& board) {
        const size_t before = board.commands().size();
        return eventually([&] { return board.commands().size() >= before + 10; });
    }
};

// What the program is doing, or how it was started, when the signal comes.
enum class Moment {
    Running,
    StartedWithTheSignalsBlocked,
    // Port 1 silent, the board on port 2: the probe of port 1 waits for its answer.
    DuringTheProbeOfPort1,
    // The board falls silent mid-run: each tick waits for its answers.
    WhileASilentBoardIsAwaited,
    // A line has gone to stderr, a pipe whose reader has gone.
    AfterAStderrLineIntoAPipeWithoutReader,
    // A line has gone to stderr, with descriptors 0 to 2 closed at start.
    AfterAStderrLineStartedWithoutDescriptors0To2,
    // A line has gone to stderr, with descriptors 1 and 2 closed at start.
    AfterAStderrLineStartedWithoutDescriptors1And2,
};

struct EndingCase {
    NamedSignal signal;
    Moment moment;
};

std::string caseName(const EndingCase& c) {
    const std::string name = c.signal.name;
    switch (c.moment) {
        case Moment::Running:
            break;
        case Moment::StartedWithTheSignalsBlocked:
            return name + "_started_blocked";
        case Moment::DuringTheProbeOfPort1:
            return name + "_during_the_probe_of_port_1";
        case Moment::WhileASilentBoardIsAwaited:
            return name + "_while_a_silent_board_is_awaited";
        case Moment::AfterAStderrLineIntoAPipeWithoutReader:
            return name + "_after_stderr_into_a_pipe_without_reader";
        case Moment::AfterAStderrLineStartedWithoutDescriptors0To2:
            return name + "_after_stderr_started_without_descriptors_0_to_2";
        case Moment::AfterAStderrLineStartedWithoutDescriptors1And2:
            return name + "_after_stderr_started_without_descriptors_1_and_2";
    }
    return name;
}

void PrintTo(const EndingCase& c, std::ostream* out) {
    *out << caseName(c);
}

std::vector<EndingCase> endingCases() {
    std::vector<EndingCase> cases;
    for (Moment moment :
         {Moment::Running, Moment::StartedWithTheSignalsBlocked, Moment::DuringTheProbeOfPort1,
          Moment::WhileASilentBoardIsAwaited, Moment::AfterAStderrLineIntoAPipeWithoutReader,
          Moment::AfterAStderrLineStartedWithoutDescriptors0To2,
          Moment::AfterAStderrLineStartedWithoutDescriptors1And2})
        for (const NamedSignal& signal : kEndingSignals) cases.push_back({signal, moment});
    return cases;
}

// How the program's standard descriptors are left at the moment, and which of them it finds
// closed.
struct StandardDescriptors {
    Surroundings::Descriptors setting;
    std::vector<int> closed;
};
StandardDescriptors standardDescriptors(Moment moment) {
    switch (moment) {
        case Moment::AfterAStderrLineIntoAPipeWithoutReader:
            return {Surroundings::Descriptors::StderrIntoAPipeWithoutReader, {}};
        case Moment::AfterAStderrLineStartedWithoutDescriptors0To2:
            return {Surroundings::Descriptors::StandardClosed, {0, 1, 2}};
        case Moment::AfterAStderrLineStartedWithoutDescriptors1And2:
            return {Surroundings::Descriptors::StdoutAndStderrClosed, {1, 2}};
        default:
            return {Surroundings::Descriptors::Open, {}};
    }
}

class EndingSignal : public SignalTest, public ::testing::WithParamInterface<EndingCase> {
  protected:
    // Starts the program, brings it to the case's moment, sends the signal and checks the end;
    // false when the signal missed its moment (only a probe can be over before the signal).
    bool endsAtTheMoment() {
        const EndingCase& c = GetParam();
        PtyBoard silentPort1;
        silentPort1.setSilent(true);
        PtyBoard board;
        const bool probing = c.moment == Moment::DuringTheProbeOfPort1;
        const bool blocked = c.moment == Moment::StartedWithTheSignalsBlocked;
        const StandardDescriptors descriptors = standardDescriptors(c.moment);
        Surroundings surroundings;
        surroundings.descriptors = descriptors.setting;
        ProgramRunner program(
            PortSetup::device(probing ? silentPort1.path() : board.path()),
            probing ? PortSetup::device(board.path()) : PortSetup::absent(), {},
            blocked ? preloading(VARNEL_PRELOAD_BLOCK_END_SIGNALS) : std::string(), false,
            surroundings);

        bool atTheMoment = true;
        if (probing) {
            // The probe writes its request, then waits for at least 20 ms: the signal goes out
            // as soon as the request is seen, and came during the probe if port 2 is still
            // untouched once it is sent.
            while (silentPort1.received().empty() && program.running())
                std::this_thread::sleep_for(100us);
            program.sendSignal(c.signal.number);
            atTheMoment = board.received().empty();
        } else {
            runBothMotors(board, program);
            if (HasFatalFailure()) return true;
            if (c.moment == Moment::WhileASilentBoardIsAwaited) {
                board.setSilent(true);
                // A tick has written its request since: it waits for the answer.
                const size_t from = board.received().size();
                EXPECT_TRUE(eventually(
                    [&] { return board.received().find('\xCC', from) != std::string::npos; }));
            }
            if (descriptors.setting != Surroundings::Descriptors::Open) {
                // Without its pictures, the next tick says so on stderr.
                for (const auto& entry : fs::directory_iterator(program.programDir()))
                    if (entry.path().extension() == ".jpg") fs::remove(entry.path());
                EXPECT_TRUE(ticksGoOn(board)) << "the program goes on after the line";
                EXPECT_TRUE(program.running());
                // What it found closed is /dev/null, not a descriptor it uses.
                for (int closed : descriptors.closed)
                    EXPECT_TRUE(program.onDevNull(closed)) << "descriptor " << closed;
            }
            program.sendSignal(c.signal.number);
        }

        EXPECT_EQ(program.waitForExit(10s), 0)
            << c.signal.name << " did not end the program: " << program.errors();
        if (c.moment == Moment::WhileASilentBoardIsAwaited) {
            const std::string errors = program.errors();
            EXPECT_NE(errors.find(kStopNotAcknowledged), std::string::npos)
                << "the unacknowledged stop is told: " << errors;
        } else {
            EXPECT_TRUE(endsWithTheStop(board.line())) << "the stop comes last";
            EXPECT_EQ(program.errors(),
                      blocked ? "preloaded: SIGTERM, SIGINT, SIGHUP and SIGQUIT blocked\n" : "");
        }
        if (probing) {
            EXPECT_EQ(hex(silentPort1.received()), "FF");
        }
        return atTheMoment;
    }
};

TEST_P(EndingSignal, StopsTheMotorsAndEndsTheProgram) {
    // The probe of port 1 may be over before the signal is sent on a loaded machine: a few
    // tries, each of which must end as it should.
    bool atTheMoment = false;
    for (int attempt = 0; attempt < 5 && !atTheMoment && !HasFailure(); ++attempt)
        atTheMoment = endsAtTheMoment();
    EXPECT_TRUE(atTheMoment) << "the signal never came at its moment";
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingSignal, ::testing::ValuesIn(endingCases()),
                         [](const auto& info) { return caseName(info.param); });

// Started with one ending signal ignored, as nohup does with SIGHUP: that signal changes
// nothing, and another one still stops the motors and ends the program.
class IgnoredSignal : public SignalTest, public ::testing::WithParamInterface<NamedSignal> {};

TEST_P(IgnoredSignal, StaysIgnoredAndAnotherStillStopsTheMotors) {
    const NamedSignal& ignored = GetParam();
    PtyBoard board;
    Surroundings surroundings;
    surroundings.ignoredSignals = {ignored.number};
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent(), {}, {}, false,
                          surroundings);
    runBothMotors(board, program);

    program.sendSignal(ignored.number);
    // At least 300 ms, and ten ticks more, with the program still running.
    std::this_thread::sleep_for(300ms);
    ASSERT_TRUE(program.running()) << ignored.name << " ended the program: " << program.errors();
    EXPECT_TRUE(ticksGoOn(board));

    program.sendSignal(ignored.number == SIGTERM ? SIGINT : SIGTERM);
    ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
    EXPECT_TRUE(endsWithTheStop(board.line())) << "the stop comes last";
    EXPECT_EQ(program.errors(), "");
}

INSTANTIATE_TEST_SUITE_P(Signals, IgnoredSignal, ::testing::ValuesIn(kEndingSignals),
                         [](const auto& info) { return std::string(info.param.name); });

// When no pipe can be made, the operator is told why, with the system's own reason, and a
// signal still stops the motors and ends the console.
TEST_F(SignalTest, WithoutAPipeTheCauseIsReportedAndASignalStillStopsTheMotors) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent(), {},
                          preloading(VARNEL_PRELOAD_FAIL_PIPE2));
    ASSERT_TRUE(eventually([&] { return board.commands().size() >= 3; })) << program.errors();
    EXPECT_TRUE(program.running());
    const std::string told =
        "preloaded: pipe2 fails with EMFILE\n"
        "VARNEL: cannot watch SIGTERM, SIGINT, SIGHUP and SIGQUIT through a pipe, looking for "
        "them every 100 ms instead: pipe2: Too many open files\n";
    EXPECT_EQ(program.errors(), told);
    program.sendSignal(SIGTERM);
    ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
    EXPECT_TRUE(endsWithTheStop(board.line())) << "the stop comes last";
    EXPECT_EQ(program.errors(), told);
}

}  // namespace
}  // namespace varnel::test
