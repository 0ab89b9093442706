// The whole program, as an operator starts it, against the simulated board.
#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/end_to_end.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

using Program = EndToEnd;

TEST_F(Program, StartsOnPort1StopsTheMotorsAndStopsThemAgainWhenClosed) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::notATerminal());
    ASSERT_TRUE(eventually([&] { return board.line().size() >= kStartUp.size(); }))
        << program.errors();
    EXPECT_TRUE(startsWith(board.line(), kStartUp));
    // Then it ticks: the input handshake and the resend of 0, over and over.
    ASSERT_TRUE(eventually([&] { return board.commands().size() >= 10; })) << program.errors();
    program.askToClose();
    ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
    EXPECT_TRUE(endsWithTheStop(board.line()));
    EXPECT_EQ(program.errors().find("VARNEL:"), std::string::npos) << program.errors();
}

}  // namespace
}  // namespace varnel::test
