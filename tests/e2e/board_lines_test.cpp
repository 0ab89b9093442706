// What the running program tells the operator of a board that stops and starts answering: a
// loss is told at once, even after the limit on lines held back a return.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/e2e/end_to_end.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

const std::string kLost = "stopped acknowledging";
const std::string kAgain = "acknowledges again";

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

class BoardLines : public EndToEnd {
  protected:
    static std::string lastLine(const std::string& text) {
        const std::vector<std::string> all = lines(text);
        return all.empty() ? std::string() : all.back();
    }
};

TEST_F(BoardLines, ALastingSilenceAfterTwoShortOnesIsToldAtOnce) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    awaitTicks(board, program);
    // Two short silences, each told and its end told: the four lines allowed at once.
    for (size_t spell = 1; spell <= 2; ++spell) {
        board.setSilent(true);
        ASSERT_TRUE(eventually([&] { return count(program.errors(), kLost) == spell; }))
            << program.errors();
        board.setSilent(false);
        ASSERT_TRUE(eventually([&] { return count(program.errors(), kAgain) == spell; }))
            << program.errors();
    }
    // A lasting one: told within a few ticks, not when the limit allows the next line (15 s).
    board.setSilent(true);
    EXPECT_TRUE(eventually([&] { return count(program.errors(), kLost) == 3; }, 5s))
        << program.errors();
    EXPECT_NE(lastLine(program.errors()).find(kLost), std::string::npos) << program.errors();
    program.askToClose();
    ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
    EXPECT_EQ(lastLine(program.errors()) + "\n", kStopNotAcknowledged) << program.errors();
}

}  // namespace
}  // namespace varnel::test
