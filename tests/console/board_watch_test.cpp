// When the operator is told that the board stopped answering, and that it answers again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

TEST(BoardWatch, AFlappingLineGivesAFewLinesAMinuteAndEndsToldTheTruth) {
    BoardWatch watch;
    auto now = BoardWatch::Clock::time_point{} + 1h;
    // Lost and back every 40 ms for a minute and a half.
    std::string told;
    const auto end = now + 90s;
    while (now < end) told += run(watch, "---+", now);
    std::vector<size_t> lines;
    for (size_t i = 0; i < told.size(); ++i)
        if (told[i] != '.') lines.push_back(i);
    // Four at once, then one each 15 s: at 15, 30, 45, 60 and 75 s.
    EXPECT_EQ(lines.size(), 9u);
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_NE(told[lines[i]], told[lines[i - 1]]);
    // Any minute holds at most the burst plus four more.
    for (size_t i = 0; i < lines.size(); ++i) {
        size_t inMinute = 0;
        for (size_t j = i; j < lines.size() && lines[j] - lines[i] < 6000; ++j) ++inMinute;
        EXPECT_LE(inMinute, 8u);
    }
    // Once the line settles, what was held back is told when a line is allowed again.
    const char last = told[lines.back()];
    std::string after = run(watch, last == 'L' ? "+" : "---", now);
    now += 15s;
    after += run(watch, last == 'L' ? "+" : "-", now);
    EXPECT_NE(after.find(last == 'L' ? 'A' : 'L'), std::string::npos) << after;
}

}  // namespace
}  // namespace varnel::test
