// The running program under faults of the board, the ports and the pictures: it keeps running,
// reports what it must on stderr, keeps its state and recovers where it can.
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/end_to_end.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/pty_board.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

// What the operator is told of one spell in which the board on port 1 does not answer.
const std::string kLostThenAnswering =
    "VARNEL: Timer1_Timer: the board on serial port 1 (/dev/ttyS0) stopped acknowledging; the "
    "motors "
    "may not follow the console\n"
    "VARNEL: Timer1_Timer: the board on serial port 1 (/dev/ttyS0) acknowledges again\n";

class FaultTable : public EndToEnd {
  protected:
    // The program goes on ticking: the board keeps accepting commands.
    static bool ticksGoOn(const PtyBoard& board) {
        const size_t before = board.commands().size();
        return eventually([&] { return board.commands().size() >= before + 10; }, 3s);
    }

    // Asks the program to close; it ends with status 0.
    static void closes(ProgramRunner& program) {
        ASSERT_TRUE(program.running()) << program.errors();
        program.askToClose();
        ASSERT_EQ(program.waitForExit(10s), 0) << program.errors();
    }

    // The pictures beside the program under test, in a folder of their own without `missing`.
    static std::string picturesWithout(const fs::path& dir, const std::string& missing) {
        fs::create_directories(dir);
        for (const auto& entry : fs::directory_iterator(fs::path(VARNEL_PROGRAM).parent_path()))
            if (entry.path().extension() == ".jpg" && entry.path().filename() != missing)
                fs::copy_file(entry.path(), dir / entry.path().filename(),
                              fs::copy_options::overwrite_existing);
        return dir.string();
    }

    static bool onlyBytes(const std::string& bytes, const std::string& allowed) {
        return bytes.find_first_not_of(allowed) == std::string::npos;
    }

    // The bytes the board receives from the first `first` it receives after `from` on, once
    // there are at least `count` of them; empty if that does not happen in time.
    static std::string receivedFrom(const PtyBoard& board, size_t from, char first, size_t count) {
        std::string seen;
        eventually(
            [&] {
                const std::string all = board.received();
                const size_t start = all.find(first, from);
                seen = start == std::string::npos ? std::string() : all.substr(start);
                return seen.size() >= count;
            },
            3s);
        return seen.size() >= count ? seen : std::string();
    }

    // Whether `part` is on the line after its first `from` bytes.
    static bool onLineSince(const PtyBoard& board, size_t from, const Line& part) {
        const Line line = board.line();
        if (line.size() < from) return false;
        return std::search(line.begin() + static_cast<std::ptrdiff_t>(from), line.end(),
                           part.begin(), part.end()) != line.end();
    }

    // How many answers the board has sent after the first `from` bytes of the line.
    static size_t answersSince(const PtyBoard& board, size_t from) {
        const Line line = board.line();
        if (line.size() < from) return 0;
        return static_cast<size_t>(
            std::count_if(line.begin() + static_cast<std::ptrdiff_t>(from), line.end(),
                          [](const PtyBoard::LineByte& b) { return b.fromBoard; }));
    }

    // Whether the board has sent two answers in a row after the first `from` bytes of the line.
    static bool doubledAnswerSince(const PtyBoard& board, size_t from) {
        const Line line = board.line();
        for (size_t i = from + 1; i < line.size(); ++i)
            if (line[i - 1].fromBoard && line[i].fromBoard) return true;
        return false;
    }
};

TEST_F(FaultTable, BoardSilentFromStartLeavesTheLinkDownForTheRun) {
    PtyBoard board;
    board.setSilent(true);
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    ASSERT_TRUE(eventually([&] { return !board.received().empty(); })) << program.errors();
    // Discovery ran once: a board that answers later is not found, nothing more is sent. The
    // probe gives up within about 30 ms; each pause is at least as long as asked, so a loaded
    // machine only makes the check weaker, never wrong.
    std::this_thread::sleep_for(300ms);
    board.setSilent(false);
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(hex(board.received()), "FF");
    closes(program);
    EXPECT_EQ(hex(board.received()), "FF") << "the stop on close is refused with the link down";
    EXPECT_EQ(program.errors(),
              "VARNEL: Form_Load: no board found: serial port 1 (/dev/ttyS0): no answer; serial "
              "port 2 (/dev/ttyS1): no such port\n");
}

TEST_F(FaultTable, BoardSilentMidRunThenAnsweringAgainResumesWithTheStateKept) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    awaitTicks(board, program);
    board.setInput(5);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 5, 35); }, 2s));
    board.setInput(0);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 0, 35); }, 2s));

    board.setSilent(true);
    const size_t silentFrom = board.received().size();
    // Each tick still writes its request and its header, and gives up on each after one wait:
    // from the first request after the board fell silent, nothing else reaches it.
    const std::string duringSilence = receivedFrom(board, silentFrom, '\xCC', 6);
    EXPECT_GE(duringSilence.size(), 6u) << "ticks go on";
    EXPECT_TRUE(onlyBytes(duringSilence, "\xCC\xAA")) << hex(duringSilence);
    EXPECT_TRUE(program.running());

    board.setSilent(false);
    EXPECT_TRUE(ticksGoOn(board));
    EXPECT_TRUE(eventually([&] { return recentTick(board.line(), 0, 35); }, 1s)) << "state kept";
    closes(program);
    EXPECT_EQ(board.commands().back(), 0);
    EXPECT_EQ(program.errors(), kLostThenAnswering) << "once each for one spell";
}

TEST_F(FaultTable, BoardUnpluggedMidRunIsReportedOnceAndTheProgramGoesOnTicking) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    awaitTicks(board, program);
    board.unplug();
    ASSERT_TRUE(
        eventually([&] { return program.errors().find("disconnected") != std::string::npos; }, 2s))
        << program.errors();
    // A tick's display step comes before its serial traffic: a picture removed now is reported
    // by a tick that runs after the one that reported the unplug, fails at the port too, and
    // must not report that again.
    const std::string torre = program.programDir() + "/torre.jpg";
    fs::remove(torre);
    ASSERT_TRUE(
        eventually([&] { return program.errors().find("picture") != std::string::npos; }, 2s))
        << program.errors();
    closes(program);
    const std::string port = "serial port 1 (/dev/ttyS0): ";
    const std::vector<std::string> reports = lines(program.errors());
    ASSERT_EQ(reports.size(), 3u) << "once per kind and handler: " << program.errors();
    // The unplug finds the tick at one of its accesses to the port.
    EXPECT_TRUE(reports[0] == "VARNEL: Timer1_Timer: " + port + "Output: device disconnected" ||
                reports[0] ==
                    "VARNEL: Timer1_Timer: " + port + "InBufferCount: device disconnected" ||
                reports[0] == "VARNEL: Timer1_Timer: " + port + "Input: device disconnected")
        << reports[0];
    EXPECT_EQ(reports[1], "VARNEL: Timer1_Timer: cannot load picture " + torre);
    // The stop first lets the line go quiet, and finds the port gone there: it was not sent.
    EXPECT_EQ(reports[2], "VARNEL: Command6_Click: the stop command was not sent (" + port +
                              "InBufferCount: device disconnected); the motors may still be "
                              "running");
}

TEST_F(FaultTable, WrongAcknowledgementMidRunFailsEachExchangeAndActsOnNothing) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    awaitTicks(board, program);
    board.setInput(5);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 5, 35); }, 2s));
    board.setInput(0);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 0, 35); }, 2s));

    // 0x03 would stop both motors if it were ever taken for an input byte; 8 would lower the
    // ramp if its unacknowledged echo counted. The board goes on as after a good answer, so a
    // header it answered wrongly leaves it waiting for a command, and it takes the console's
    // next byte, the input request 0xCC, as one: the protocol has no framing.
    const size_t wrongFrom = board.line().size();
    board.setWrongAnswer(0x03);
    board.setInput(8);
    // Once a wrong acknowledgement is on the line no exchange under way can still complete;
    // then for at least 400 ms of ticks no command of the console reaches the board: the only
    // commands it takes are input requests, about one a tick.
    ASSERT_TRUE(eventually([&] { return onLineSince(board, wrongFrom, {fromBoard(0x03)}); }, 2s));
    const size_t accepted = board.commands().size();
    std::this_thread::sleep_for(400ms);
    const std::vector<unsigned char> all = board.commands();
    const std::vector<unsigned char> during(all.begin() + static_cast<std::ptrdiff_t>(accepted),
                                            all.end());
    EXPECT_EQ(std::count(during.begin(), during.end(), 0xCC),
              static_cast<std::ptrdiff_t>(during.size()))
        << "only the input request follows a wrongly answered header";
    EXPECT_TRUE(program.running());

    board.setInput(0);
    board.setWrongAnswer(std::nullopt);
    EXPECT_TRUE(ticksGoOn(board));
    EXPECT_TRUE(eventually([&] { return recentTick(board.line(), 0, 35); }, 1s)) << "state kept";
    closes(program);
    EXPECT_EQ(board.commands().back(), 0);
    EXPECT_EQ(program.errors(), kLostThenAnswering) << "once each for one spell";
}

TEST_F(FaultTable, WrongProbeAnswerOnPort1HidesTheBoardOnPort2) {
    // The probe of port 1 leaves that port open after a wrong answer, and the probe of port 2
    // then fails on changing the number of an open port.
    PtyBoard port1;
    port1.setWrongAnswer(0x0F);
    PtyBoard board;
    ProgramRunner program(PortSetup::device(port1.path()), PortSetup::device(board.path()));
    ASSERT_TRUE(eventually([&] { return !port1.received().empty(); })) << program.errors();
    // At least 300 ms for a probe of port 2 to show (the probe of port 1 takes about 30 ms).
    std::this_thread::sleep_for(300ms);
    closes(program);
    EXPECT_EQ(hex(port1.received()), "FF");
    EXPECT_EQ(board.received(), "") << "port 2 is never probed";
    EXPECT_EQ(program.errors(),
              "VARNEL: Form_Load: no board found: serial port 1 (/dev/ttyS0): wrong answer (0F); "
              "serial port 2 (/dev/ttyS1): not probed (serial port 1 is still open after its "
              "wrong answer)\n");
}

TEST_F(FaultTable, TwoBytesAtOnceCostAnExchangeAndTheLineRecovers) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    awaitTicks(board, program);
    board.setInput(5);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 5, 35); }, 2s));

    const size_t doubleFrom = board.line().size();
    board.setDoubleAnswer(true);
    ASSERT_TRUE(eventually([&] { return doubledAnswerSince(board, doubleFrom); }, 2s));
    board.setDoubleAnswer(false);
    // Each exchange first drops what is waiting: the line is back in step.
    board.clearRecords();
    EXPECT_TRUE(eventually([&] { return recentTick(board.line(), 5, 35); }, 1s))
        << hex(board.received());
    closesWithTheStopAcknowledged(board, program);
}

TEST_F(FaultTable, LateAnswersWithinTheWaitOnlySlowTheCycle) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    awaitTicks(board, program);
    board.setInput(9);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 9, 3); }, 2s));
    board.setAnswerDelay(3ms);  // well inside the bounded wait of at least 20 ms
    EXPECT_TRUE(ticksGoOn(board));
    EXPECT_TRUE(eventually([&] { return recentTick(board.line(), 9, 3); }, 1s));
    board.setAnswerDelay(0us);
    closes(program);
    EXPECT_EQ(board.commands().back(), 0);
    EXPECT_EQ(program.errors(), "");
}

TEST_F(FaultTable, LateAnswersBeyondTheWaitFailTheirExchangesAndTheLineRecovers) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    awaitTicks(board, program);
    board.setInput(5);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 5, 35); }, 2s));
    // Each answer comes after the wait that expected it has given up, and is dropped by the
    // next exchange.
    const size_t lateFrom = board.line().size();
    board.setAnswerDelay(100ms);
    ASSERT_TRUE(eventually([&] { return answersSince(board, lateFrom) >= 5; }, 3s));
    board.setAnswerDelay(0us);
    board.clearRecords();
    EXPECT_TRUE(eventually([&] { return recentTick(board.line(), 5, 35); }, 1s))
        << hex(board.received());
    closesWithTheStopAcknowledged(board, program);
}

TEST_F(FaultTable, BoardOnPort2IsFoundWhatEverKeepsPort1) {
    enum class Port1 { Absent, NotATerminal, Busy, Silent };
    for (Port1 kind : {Port1::Absent, Port1::NotATerminal, Port1::Busy, Port1::Silent}) {
        SCOPED_TRACE(static_cast<int>(kind));
        PtyBoard port1;  // a board that would answer, unless busy or silent
        PtyBoard board;
        int holder = -1;
        if (kind == Port1::Silent) port1.setSilent(true);
        if (kind == Port1::Busy) {
            // Another process holds port 1, as the program itself holds the port it uses.
            holder = ::open(port1.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
            ASSERT_GE(holder, 0);
            ASSERT_EQ(::flock(holder, LOCK_EX | LOCK_NB), 0);
        }
        {
            const PortSetup port1Setup = kind == Port1::Absent ? PortSetup::absent()
                                         : kind == Port1::NotATerminal
                                             ? PortSetup::notATerminal()
                                             : PortSetup::device(port1.path());
            ProgramRunner program(port1Setup, PortSetup::device(board.path()));
            awaitTicks(board, program);
            EXPECT_TRUE(ticksGoOn(board));
            closes(program);
            EXPECT_EQ(board.commands().back(), 0);
            EXPECT_EQ(program.errors(), "");
        }
        EXPECT_EQ(hex(port1.received()), kind == Port1::Silent ? "FF" : "");
        if (holder >= 0) ::close(holder);
    }
}

TEST_F(FaultTable, PictureMissingAtStartIsReportedOnceUntilItLoadsAgain) {
    PtyBoard board;
    const fs::path scratch =
        fs::temp_directory_path() / ("varnel-pictures-" + std::to_string(::getpid()));
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent(),
                          picturesWithout(scratch, "torre.jpg"));
    fs::remove_all(scratch);
    const std::string torre = program.programDir() + "/torre.jpg";
    const std::string first = "VARNEL: Form_Load: cannot load picture " + torre + "\n";
    awaitTicks(board, program);
    EXPECT_TRUE(ticksGoOn(board)) << "the rest of each tick runs";
    EXPECT_EQ(program.errors(), first) << "once, not on every tick";

    // The rules act; another state's picture loads, then the missing one is needed again.
    board.setInput(8);
    // A tick that follows the one that sent 34 has shown that state's picture.
    const Line twoTicks = inputLine(8) + commandLine(34) + inputLine(8);
    ASSERT_TRUE(eventually([&] { return onLineSince(board, 0, twoTicks); }, 2s));
    board.setInput(12);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 12, 0); }, 2s));
    const std::string again = "VARNEL: Timer1_Timer: cannot load picture " + torre + "\n";
    EXPECT_TRUE(eventually([&] { return program.errors() == first + again; }, 2s))
        << program.errors();
    closes(program);
    EXPECT_EQ(board.commands().back(), 0);
    EXPECT_EQ(program.errors(), first + again);
}

TEST_F(FaultTable, PictureRemovedMidRunIsReportedOnceAndTheRulesStillAct) {
    PtyBoard board;
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    awaitTicks(board, program);
    board.setInput(1);
    ASSERT_TRUE(eventually([&] { return recentTick(board.line(), 1, 1); }, 2s));
    const std::string dcha = program.programDir() + "/dcha.jpg";
    fs::remove(dcha);
    const std::string report = "VARNEL: Timer1_Timer: cannot load picture " + dcha + "\n";
    ASSERT_TRUE(eventually([&] { return program.errors() == report; }, 2s)) << program.errors();
    EXPECT_TRUE(ticksGoOn(board));
    EXPECT_EQ(program.errors(), report) << "once, not on every tick";
    // The rules still act through the rest of the tick.
    board.setInput(2);
    EXPECT_TRUE(eventually([&] { return recentTick(board.line(), 2, 17); }, 2s));
    closes(program);
    EXPECT_EQ(board.commands().back(), 0);
    EXPECT_EQ(program.errors(), report);
}

}  // namespace
}  // namespace varnel::test
