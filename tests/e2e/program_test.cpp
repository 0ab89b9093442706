// The whole program, as an operator starts it, against the simulated board.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "tests/e2e/end_to_end.h"
#include "tests/support/fake_serial_control.h"
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

TEST_F(Program, FindsTheBoardOnPort2WhenPort1IsAbsentOrNotATerminal) {
    for (PortSetup port1 : {PortSetup::absent(), PortSetup::notATerminal()}) {
        PtyBoard board;
        ProgramRunner program(port1, PortSetup::device(board.path()));
        ASSERT_TRUE(eventually([&] { return board.line().size() >= kStartUp.size(); }))
            << program.errors();
        EXPECT_TRUE(startsWith(board.line(), kStartUp));
        program.askToClose();
        EXPECT_EQ(program.waitForExit(10s), 0);
    }
}

TEST_F(Program, SensorInputsActThroughTheRunningProgram) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    ASSERT_TRUE(eventually([&] { return board.commands().size() >= 3; })) << program.errors();
    board.setInput(5);
    EXPECT_TRUE(eventually([&] { return board.commands().back() == 35; }, 2s));
    EXPECT_TRUE(eventually([&] { return recentTick(board.line(), 5, 35); }, 1s));
    // Back to 0: the state the rules left holds.
    board.setInput(0);
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(board.commands().back(), 35);
    // Silent for a while: the program keeps running; then the line trace resumes.
    board.setSilent(true);
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(program.running());
    const size_t before = board.commands().size();
    board.setSilent(false);
    EXPECT_TRUE(eventually([&] { return board.commands().size() > before + 10; }, 3s));
    EXPECT_TRUE(eventually([&] { return recentTick(board.line(), 0, 35); }, 1s));
    program.askToClose();
    EXPECT_EQ(program.waitForExit(10s), 0);
    EXPECT_EQ(board.commands().back(), 0);
}

TEST_F(Program, MissingPictureIsReportedOnceAndTheRulesStillAct) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    ASSERT_TRUE(eventually([&] { return board.commands().size() >= 3; })) << program.errors();
    const std::string torre = program.programDir() + "/torre.jpg";
    std::filesystem::remove(torre);
    std::this_thread::sleep_for(300ms);
    board.setInput(8);
    EXPECT_TRUE(eventually([&] { return board.commands().back() == 34; }, 2s));
    std::this_thread::sleep_for(200ms);
    EXPECT_TRUE(program.running());
    program.askToClose();
    EXPECT_EQ(program.waitForExit(10s), 0);
    const std::string expected = "VARNEL: Timer1_Timer: cannot load picture " + torre + "\n";
    EXPECT_EQ(program.errors(), expected);
}

TEST_F(Program, UnpluggedBoardIsReportedOnceAndTheProgramGoesOn) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    ASSERT_TRUE(eventually([&] { return board.commands().size() >= 3; })) << program.errors();
    board.unplug();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(program.running());
    program.askToClose();
    EXPECT_EQ(program.waitForExit(10s), 0);
    const std::string errors = program.errors();
    EXPECT_EQ(errors.find("VARNEL: Timer1_Timer: "), 0u) << errors;
    EXPECT_NE(errors.find("disconnected"), std::string::npos) << errors;
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 2) << "once per handler: " << errors;
}

}  // namespace
}  // namespace varnel::test
