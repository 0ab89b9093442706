// What the end-to-end tests share: skipping where namespaces cannot be used, waiting with a
// deadline, and reading line traces.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/program_runner.h"
#include "tests/support/pty_board.h"
#include "tests/support/wait_until.h"

namespace varnel::test {

inline const Line kStartUp = Line{toBoard(0xFF), fromBoard(0xF0)} + commandLine(0x00);

// What the program says on its way out when a board that was found did not confirm the stop.
inline const std::string kStopNotAcknowledged =
    "VARNEL: Command6_Click: the board did not acknowledge the stop command; the motors may "
    "still be running\n";

class EndToEnd : public ::testing::Test {
  protected:
    void SetUp() override {
        const std::string why = ProgramRunner::unavailableReason();
        if (!why.empty()) GTEST_SKIP() << "end-to-end test skipped: " << why;
    }

    // Waits until `done` holds, up to the deadline.
    template <typename F>
    static bool eventually(F done, std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
        return waitUntil(std::move(done), timeout);
    }

    // Waits for start-up and a few ticks with the board on port 1 answering.
    static void awaitTicks(const PtyBoard& board, const ProgramRunner& program) {
        ASSERT_TRUE(eventually([&] { return board.commands().size() >= 5; })) << program.errors();
        ASSERT_TRUE(startsWith(board.line(), kStartUp));
    }

    // The lines of a text, without their ends.
    static std::vector<std::string> lines(const std::string& text) {
        std::vector<std::string> result;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    }

    static bool startsWith(const Line& line, const Line& prefix) {
        return line.size() >= prefix.size() &&
               std::equal(prefix.begin(), prefix.end(), line.begin());
    }

    // The line ends with the stop (command 0), acknowledged.
    static ::testing::AssertionResult endsWithTheStop(const Line& line) {
        const Line stop = commandLine(0x00);
        if (line.size() >= stop.size() &&
            std::equal(stop.begin(), stop.end(), line.end() - static_cast<long>(stop.size())))
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "the line does not end with the acknowledged stop AA F0 00 F0";
    }

    // Asks the running program to close: it ends with status 0, the stop acknowledged last.
    static void closesWithTheStopAcknowledged(PtyBoard& board, ProgramRunner& program) {
        ASSERT_TRUE(program.running()) << program.errors();
        board.clearRecords();
        program.askToClose();
        ASSERT_EQ(program.waitForExit(std::chrono::seconds(10)), 0) << program.errors();
        EXPECT_TRUE(endsWithTheStop(board.line()));
        EXPECT_EQ(program.errors().find(kStopNotAcknowledged), std::string::npos)
            << program.errors();
    }

    // A whole acknowledged tick near the end of the line.
    static bool recentTick(const Line& line, unsigned char input, unsigned char command) {
        const Line tick = inputLine(input) + commandLine(command);
        const auto from = line.size() > 40 ? line.end() - 40 : line.begin();
        return std::search(from, line.end(), tick.begin(), tick.end()) != line.end();
    }
};

}  // namespace varnel::test
