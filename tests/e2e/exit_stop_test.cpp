// The stop on the way out lands whatever the line was doing when the console was closed, and the
// operator is told when it could not be made sure of.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "console/module1_torre.h"
#include "tests/e2e/end_to_end.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

class ExitStop : public EndToEnd {
  protected:
    // Start-up, then both motors running on the board's inputs, so the stop has something to
    // stop and the last command before it is not already 0.
    static void running(PtyBoard& board, const ProgramRunner& program) {
        awaitTicks(board, program);
        if (HasFatalFailure()) return;
        board.setInput(5);
        ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 5, 35); }, 2s))
            << program.errors();
    }
};

// The board answers the header of a tick's command late, and the console is closed as that
// header goes out: the board is still waiting for its command byte when the stop begins.
TEST_F(ExitStop, ClosedWhileAHeaderIsAnsweredLateTheBoardStillEndsStopped) {
    for (auto late : {40ms, 60ms, 100ms, 150ms, 250ms}) {
        SCOPED_TRACE(std::to_string(late.count()) + " ms late");
        PtyBoard board;
        ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
        running(board, program);

        board.lateNextHeader(late);
        ASSERT_TRUE(eventually([&] { return board.lateHeaders() == 1; }, 2s));
        const auto asked = std::chrono::steady_clock::now();
        program.askToClose();
        ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
        const auto took = std::chrono::steady_clock::now() - asked;
        std::printf("closed as a header answered %lld ms late went out: ended after %lld ms\n",
                    static_cast<long long>(late.count()),
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
        std::fflush(stdout);  // before the next program forks

        // What the board was last told to do is to stop, and the console said nothing.
        std::this_thread::sleep_for(late);  // answers still on their way change nothing
        ASSERT_FALSE(board.commands().empty());
        EXPECT_EQ(board.commands().back(), 0x00) << "the board holds the last command it took";
        EXPECT_TRUE(endsWithTheStop(board.line()));
        EXPECT_EQ(program.errors(), "");
    }
}

// A board that has gone silent cannot confirm the stop: the console tries a bounded number of
// times, ends, and says so.
TEST_F(ExitStop, SilentBoardTheConsoleEndsAndSaysTheStopWasNotAcknowledged) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    running(board, program);
    board.setSilent(true);
    ASSERT_TRUE(eventually([&] {
        return program.errors().find("stopped acknowledging") != std::string::npos;
    })) << program.errors();
    const size_t before = board.received().size();
    const auto asked = std::chrono::steady_clock::now();
    program.askToClose();
    ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
    const auto took = std::chrono::steady_clock::now() - asked;
    std::printf("closed with the board silent: ended after %lld ms\n",
                static_cast<long long>(
                    std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    std::fflush(stdout);

    const std::string sent = board.received().substr(before);
    // A tick may have been under way; after it, only stop headers, none answered.
    const size_t headers = static_cast<size_t>(std::count(sent.begin(), sent.end(), '\xAA'));
    EXPECT_GE(headers, 1u);
    EXPECT_LE(headers, static_cast<size_t>(Module1_Torre::kStopTries) + 1);
    const std::string told = program.errors();
    EXPECT_EQ(told.substr(told.size() - std::min(told.size(), kStopNotAcknowledged.size())),
              kStopNotAcknowledged)
        << told;
}

}  // namespace
}  // namespace varnel::test
