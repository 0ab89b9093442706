// The ending signals: each one stops the motors and ends the program, also when the program
// cannot have a signal descriptor or is started with the signals blocked.
#include <gtest/gtest.h>

#include <signal.h>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/end_to_end.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

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
};

// What stands in the way of the signal.
enum class Hindrance { None, SignalfdFails, StartedWithTheSignalsBlocked };

struct EndingCase {
    int signal;
    const char* name;
    Hindrance hindrance;
};

std::string caseName(const EndingCase& c) {
    switch (c.hindrance) {
        case Hindrance::None:
            break;
        case Hindrance::SignalfdFails:
            return std::string(c.name) + "_signalfd_fails";
        case Hindrance::StartedWithTheSignalsBlocked:
            return std::string(c.name) + "_started_blocked";
    }
    return c.name;
}

// The library that makes the hindrance, and what it says on stderr.
std::string preloaded(Hindrance hindrance) {
    return hindrance == Hindrance::SignalfdFails ? VARNEL_PRELOAD_FAIL_SIGNALFD
                                                 : VARNEL_PRELOAD_BLOCK_END_SIGNALS;
}
std::string said(Hindrance hindrance) {
    switch (hindrance) {
        case Hindrance::None:
            break;
        case Hindrance::SignalfdFails:
            return "preloaded: signalfd fails with EMFILE\n";
        case Hindrance::StartedWithTheSignalsBlocked:
            return "preloaded: SIGTERM, SIGINT and SIGHUP blocked\n";
    }
    return "";
}

void PrintTo(const EndingCase& c, std::ostream* out) {
    *out << caseName(c);
}

std::vector<EndingCase> endingCases() {
    std::vector<EndingCase> cases;
    for (Hindrance hindrance :
         {Hindrance::None, Hindrance::SignalfdFails, Hindrance::StartedWithTheSignalsBlocked})
        for (auto [signal, name] : {std::pair{SIGTERM, "SIGTERM"}, std::pair{SIGINT, "SIGINT"},
                                    std::pair{SIGHUP, "SIGHUP"}})
            cases.push_back({signal, name, hindrance});
    return cases;
}

class EndingSignal : public SignalTest, public ::testing::WithParamInterface<EndingCase> {};

TEST_P(EndingSignal, StopsTheMotorsAndEndsTheProgram) {
    const EndingCase& c = GetParam();
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent(), {},
                          c.hindrance == Hindrance::None ? "" : preloading(preloaded(c.hindrance)));
    // Both motors running on the board's inputs, so the stop has something to stop.
    board.setInput(5);
    ASSERT_TRUE(eventually([&] {
        const auto commands = board.commands();
        return !commands.empty() && commands.back() == 35;
    })) << program.errors();

    program.sendSignal(c.signal);
    ASSERT_EQ(program.waitForExit(10s), 0)
        << c.name << " did not end the program: " << program.errors();
    EXPECT_TRUE(endsWithTheStop(board.line())) << "the stop comes last";
    EXPECT_EQ(program.errors(), said(c.hindrance));
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingSignal, ::testing::ValuesIn(endingCases()),
                         [](const auto& info) { return caseName(info.param); });

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
        "VARNEL: cannot watch SIGTERM, SIGINT and SIGHUP through a pipe, looking for them every "
        "100 ms instead: pipe2: Too many open files\n";
    EXPECT_EQ(program.errors(), told);
    program.sendSignal(SIGTERM);
    ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
    EXPECT_TRUE(endsWithTheStop(board.line())) << "the stop comes last";
    EXPECT_EQ(program.errors(), told);
}

}  // namespace
}  // namespace varnel::test
