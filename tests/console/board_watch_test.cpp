// When the operator is told that the board stopped answering, and that it answers again.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "console/board_watch.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;
using Change = BoardWatch::Change;

// Runs ticks given as text, one character a tick ('+' answered, '-' not), 10 ms apart from
// `start`, and writes what is told: 'L' lost, 'A' answers again, '.' nothing.
std::string run(BoardWatch& watch, const std::string& ticks, BoardWatch::Clock::time_point& now) {
    std::string told;
    for (char t : ticks) {
        const Change c = watch.tick(t == '+', now);
        told += c == Change::Lost ? 'L' : c == Change::AnswersAgain ? 'A' : '.';
        now += 10ms;
    }
    return told;
}

TEST(BoardWatch, ToldOncePerChangeAfterThreeTicksWithoutAnswer) {
    const struct {
        const char* ticks;
        const char* told;
    } cases[] = {
        {"++++++", "......"},     {"+--+--+", "......."},  // never three in a row
        {"+---", "...L"},         {"---------", "..L......"}, {"---++", "..LA."},
        {"---+---+", "..LA..LA"}, {"-+--+---", ".......L"},
    };
    for (const auto& c : cases) {
        BoardWatch watch;
        auto now = BoardWatch::Clock::time_point{} + 1h;
        EXPECT_EQ(run(watch, c.ticks, now), c.told) << c.ticks;
    }
}

// Lines are limited (four at once, then one each 15 s), but only a return waits for a line: a
// loss is told at once whenever the last line said the board answers. 'w' lets 15 s pass.
TEST(BoardWatch, OnlyAReturnWaitsForTheLimitALossIsToldAtOnce) {
    const struct {
        const char* ticks;
        const char* told;
    } cases[] = {
        // Two short silences spend the allowance; a lasting third one is still told at once.
        {"---+---+------", "..LA..LA..L..."},
        // The return after it waits for a line, and is told when one is allowed.
        {"---+---+---+++w+", "..LA..LA..L....A"},
        // A loss while a return is held back: the last line told is already true.
        {"---+---+---+---w+", "..LA..LA..L.....A"},
        // Held back and the board lost again before a line was allowed: nothing to tell.
        {"---+---+---+---w-", "..LA..LA..L......"},
    };
    for (const auto& c : cases) {
        BoardWatch watch;
        auto now = BoardWatch::Clock::time_point{} + 1h;
        std::string told;
        for (char t : std::string(c.ticks)) {
            if (t == 'w') {
                now += 15s;
                told += '.';
                continue;
            }
            told += run(watch, std::string(1, t), now);
        }
        EXPECT_EQ(told, c.told) << c.ticks;
    }
}

// Silent for 0.1 s, answering for 0.2 s, for 20 s: a dozen lines at most, each saying the
// opposite of the one before, and whenever the board counts as lost the last line says so.
TEST(BoardWatch, AFlappingLineGivesFewLinesAndNeverEndsOnAStaleReturn) {
    BoardWatch watch;
    auto now = BoardWatch::Clock::time_point{} + 1h;
    const std::string cycle = std::string(10, '-') + std::string(20, '+');
    std::string told;
    char last = 'A';
    int failedInARow = 0;
    for (int i = 0; i < 20 * 100 / 30; ++i) {
        for (char t : cycle) {
            const std::string one = run(watch, std::string(1, t), now);
            failedInARow = t == '-' ? failedInARow + 1 : 0;
            if (one[0] != '.') {
                EXPECT_NE(one[0], last) << "at tick " << told.size();
                last = one[0];
            }
            told += one;
            if (failedInARow >= BoardWatch::kTicksToLost) {
                ASSERT_EQ(last, 'L') << "a stale return at tick " << told.size();
            }
        }
    }
    const auto lines = told.size() - static_cast<size_t>(std::count(told.begin(), told.end(), '.'));
    EXPECT_LE(lines, 12u) << told;
    EXPECT_GE(lines, 5u) << "four at once, then the next loss";
}

// Once the line settles, a return held back is told when a line is allowed again.
TEST(BoardWatch, AReturnHeldBackIsToldOnceALineIsAllowed) {
    BoardWatch watch;
    auto now = BoardWatch::Clock::time_point{} + 1h;
    EXPECT_EQ(run(watch, "---+---+---+", now), "..LA..LA..L.");
    EXPECT_EQ(run(watch, "++++++++", now), "........");
    now += 15s;
    EXPECT_EQ(run(watch, "++", now), "A.");
}

}  // namespace
}  // namespace varnel::test
