// The POSIX serial control on a pseudo-terminal, alone and with the simulated board.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <utility>

#include "link/interface_link.h"
#include "link/posix_serial_control.h"
#include "tests/support/fake_serial_control.h"
#include "tests/support/pty_board.h"
#include "tests/support/wait_until.h"

namespace varnel::test {
namespace {

using namespace std::chrono_literals;

// The control with port 1 mapped to the board's pty and every other port to a missing device.
struct OnPty : ::testing::Test {
    PtyBoard board;
    PosixSerialControl control{[this](int16_t port) {
        return port == 1 ? board.path() : std::string("/nonexistent/ttyVARNEL");
    }};
    InterfaceLink link{[this]() -> SerialControl& { return control; }};

    void open() {
        control.CommPort(1);
        control.Settings("9600,N,8,1");
        control.InputLen(0);
        control.PortOpen(true);
    }
};

TEST(LineSettingsText, ParsesWhatItCanHonourAndRejectsTheRest) {
    const LineSettings s = parseLineSettings("9600,N,8,1");
    EXPECT_EQ(s.baud, 9600);
    EXPECT_EQ(s.parity, 'N');
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.stopBits, 1);
    EXPECT_EQ(parseLineSettings("19200,e,7,2").parity, 'E');
    for (const char* bad : {"", "9600", "9600,N,8", "9600,N,8,1,0", "9601,N,8,1", "9600,X,8,1",
                            "9600,M,8,1", "9600,N,9,1", "9600,N,8,1.5", "9600,N,8,3", " 9600,N,8,1",
                            "-9600,N,8,1", "9600,,8,1", "9600,N,8,"}) {
        EXPECT_THROW(parseLineSettings(bad), SerialError) << '"' << bad << '"';
    }
}

// Whether the terminal behind `fd` is in exclusive mode.
bool exclusive(int fd) {
    int set = 0;
    EXPECT_EQ(::ioctl(fd, TIOCGEXCL, &set), 0) << std::strerror(errno);
    return set != 0;
}

TEST_F(OnPty, OpensRawWithTheSettingsAndExclusively) {
    // Opened first, the probe sees the terminal the control sets up without needing to get past
    // its exclusive use, which only root can.
    const int probe = ::open(board.path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(probe, 0) << std::strerror(errno);
    open();
    ASSERT_TRUE(control.PortOpen());
    termios tio{};
    ASSERT_EQ(::tcgetattr(probe, &tio), 0);
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_EQ(tio.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_FALSE(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);
    EXPECT_FALSE(tio.c_lflag & (ICANON | ECHO));
    EXPECT_FALSE(tio.c_iflag & (IXON | IXOFF | ICRNL));
    EXPECT_TRUE(exclusive(probe));

    PosixSerialControl second{[this](int16_t) { return board.path(); }};
    try {
        second.PortOpen(true);
        ADD_FAILURE() << "a port in use opened twice";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.kind(), SerialError::Kind::Busy) << e.what();
    }
    EXPECT_TRUE(exclusive(probe)) << "the refused opener left the mode alone";
    control.PortOpen(false);
    EXPECT_FALSE(control.PortOpen());
    EXPECT_FALSE(exclusive(probe)) << "closing clears the exclusive mode the control set";
    EXPECT_NO_THROW(second.PortOpen(true)) << "closing releases it";
    ::close(probe);
}

TEST_F(OnPty, RefusesWhatARealControlRefuses) {
    EXPECT_THROW(control.Settings("9600,N,8"), SerialError);
    EXPECT_THROW(control.Output(bytes({0xAA})), SerialError) << "not open";
    EXPECT_THROW(control.Input(), SerialError) << "not open";
    EXPECT_THROW(control.InBufferCount(), SerialError) << "not open";
    open();
    EXPECT_THROW(control.CommPort(2), SerialError) << "port number of an open port";
    EXPECT_EQ(control.CommPort(), 1);
    EXPECT_THROW(control.PortOpen(true), SerialError) << "already open";
    control.PortOpen(false);
    EXPECT_NO_THROW(control.CommPort(2));
    try {
        control.PortOpen(true);
        FAIL() << "a missing device opened";
    } catch (const SerialError& e) {
        EXPECT_NE(std::string(e.what()).find(": PortOpen: cannot open: no such port"),
                  std::string::npos)
            << e.what();
    }
    EXPECT_FALSE(control.PortOpen());
}

TEST_F(OnPty, NotATerminalIsRefusedAndLeftClosed) {
    PosixSerialControl onFile{[](int16_t) { return std::string("/dev/null"); }};
    EXPECT_THROW(onFile.PortOpen(true), SerialError);
    EXPECT_FALSE(onFile.PortOpen());
}

// A device node with no hardware behind it fails to open with EIO, as /dev/ttyS1 does on many
// PCs; here a pty whose slave is still locked. That is no such port, not a lost device.
TEST(NoUart, NodeWithoutHardwareIsNoSuchPortAndTheProbeSaysSo) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    char name[128];
    ASSERT_EQ(::ptsname_r(master, name, sizeof name), 0);
    const std::string path = name;  // never unlocked: opening it gives EIO
    PosixSerialControl control{[&](int16_t) { return path; }};
    try {
        control.PortOpen(true);
        ADD_FAILURE() << "a locked pty opened";
    } catch (const SerialError& e) {
        EXPECT_EQ(e.kind(), SerialError::Kind::NoUart);
        EXPECT_EQ(e.what(),
                  "serial port 1 (" + path + "): PortOpen: cannot open: no such port (no UART)");
    }
    InterfaceLink link{[&]() -> SerialControl& { return control; }};
    EXPECT_EQ(link.ConectarCOM1(), -1);
    ASSERT_EQ(link.probes().size(), 1u);
    EXPECT_EQ(describe(link.probes()[0]), "no such port (no UART)");
    ::close(master);
}

TEST_F(OnPty, DiscoveryAndBothHandshakesMatchTheWorkedExamples) {
    board.setInput(0x05);
    EXPECT_EQ(link.Conectar(), 1);
    EXPECT_TRUE(link.EnviarOrden(35));
    EXPECT_TRUE(link.LeerEntradas());
    EXPECT_EQ(link.Entradas(), 5);
    EXPECT_TRUE(link.EnviarOrden(0));
    EXPECT_EQ(board.line(), (Line{toBoard(0xFF), fromBoard(0xF0)} + commandLine(0x23) +
                             inputLine(0x05) + commandLine(0x00)));
    EXPECT_EQ(board.commands(), (std::vector<unsigned char>{0x23, 0x00}));
}

TEST_F(OnPty, HighBytesAndZeroTravelAsSingleBytes) {
    ASSERT_EQ(link.Conectar(), 1);
    for (int value : {0x00, 0x80, 0xAA, 0xCC, 0xF0, 0xFF}) {
        board.setInput(static_cast<unsigned char>(value));
        EXPECT_TRUE(link.LeerEntradas()) << value;
        EXPECT_EQ(link.Entradas(), value);
        EXPECT_TRUE(link.EnviarOrden(static_cast<int16_t>(value))) << value;
    }
    EXPECT_EQ(board.commands(), (std::vector<unsigned char>{0x00, 0x80, 0xAA, 0xCC, 0xF0, 0xFF}));
}

TEST_F(OnPty, PacedBoardIsStillAnsweredWithinTheWait) {
    board.setPaced(true);
    board.setInput(0x09);
    ASSERT_EQ(link.Conectar(), 1);
    EXPECT_TRUE(link.LeerEntradas());
    EXPECT_EQ(link.Entradas(), 9);
    EXPECT_TRUE(link.EnviarOrden(51));
}

TEST_F(OnPty, FaultyBoards) {
    ASSERT_EQ(link.Conectar(), 1);
    board.setWrongAnswer(0x0F);
    EXPECT_FALSE(link.EnviarOrden(1));
    board.setWrongAnswer(std::nullopt);
    board.clearRecords();
    board.setSilent(true);
    EXPECT_FALSE(link.EnviarOrden(1));
    EXPECT_FALSE(link.LeerEntradas());
    EXPECT_EQ(board.received(), bytes({0xAA, 0xCC})) << "each gives up at its first missing answer";
    board.setSilent(false);
    EXPECT_TRUE(link.EnviarOrden(1)) << "recovers when the board answers again";
    // Two bytes at once never end a wait early, and then stay waiting.
    board.setDoubleAnswer(true);
    EXPECT_FALSE(link.EnviarOrden(1));
    EXPECT_EQ(control.InBufferCount(), 2);
    EXPECT_EQ(control.Input(), bytes({0xF0, 0xF0}));
}

TEST_F(OnPty, AnswerLaterThanTheWaitIsMissingAndStaysWaiting) {
    ASSERT_EQ(link.Conectar(), 1);
    // Far beyond the wait of about 30 ms, even where a loaded machine stretches the wait.
    board.setAnswerDelay(1s);
    EXPECT_FALSE(link.EnviarOrden(1));
    EXPECT_TRUE(waitUntil([&] { return control.InBufferCount() == 1; }))
        << "the late answer arrives and stays waiting";
}

TEST_F(OnPty, EmptyWaitLastsAtLeastTwentyMillisecondsButSeesAByteAtOnce) {
    open();
    board.setSilent(true);
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.EsperarRespuesta());
    EXPECT_GE(std::chrono::steady_clock::now() - start, 20ms);

    board.setSilent(false);
    control.Output(bytes({0xFF}));
    start = std::chrono::steady_clock::now();
    EXPECT_TRUE(link.EsperarRespuesta());
    EXPECT_EQ(control.Input(), bytes({0xF0}));
}

TEST_F(OnPty, UnpluggedBoardMakesEveryAccessThrowNamingIt) {
    ASSERT_EQ(link.Conectar(), 1);
    board.unplug();
    const std::string port = "serial port 1 (" + board.path() + "): ";
    const std::pair<const char*, std::function<void()>> accesses[] = {
        {"Output", [&] { control.Output(bytes({0xAA})); }},
        {"InBufferCount", [&] { control.InBufferCount(); }},
        {"Input", [&] { control.Input(); }},
    };
    for (const auto& [operation, access] : accesses) {
        try {
            access();
            ADD_FAILURE() << operation << " on an unplugged board did not throw";
        } catch (const SerialError& e) {
            EXPECT_EQ(e.what(), port + operation + ": device disconnected");
        }
    }
    try {
        link.EnviarOrden(0);
        FAIL() << "no error from an unplugged board";
    } catch (const SerialError& e) {
        EXPECT_NE(std::string(e.what()).find("disconnected"), std::string::npos) << e.what();
    }
    EXPECT_NO_THROW(control.PortOpen(false));
}

// Opens `path` as nobody, in a child process: 0 when it opens, else the child's errno.
int openAsNobody(const std::string& path, uid_t uid, gid_t gid) {
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) ::_exit(255);
        const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        ::_exit(fd >= 0 ? 0 : errno);
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(OnPty, ClosingGivesThePortBackToOrdinaryUsers) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "not root: the check opens the port as the unprivileged user nobody, and "
                        "only root can switch to it (root itself passes through exclusive use)";
    const passwd* nobody = ::getpwnam("nobody");
    ASSERT_NE(nobody, nullptr) << "no user nobody";
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    ASSERT_EQ(::chown(board.path().c_str(), uid, gid), 0) << std::strerror(errno);
    ASSERT_EQ(::chmod(board.path().c_str(), 0600), 0) << std::strerror(errno);

    open();
    EXPECT_EQ(openAsNobody(board.path(), uid, gid), EBUSY) << "an ordinary user is kept out";
    control.PortOpen(false);
    const int error = openAsNobody(board.path(), uid, gid);
    EXPECT_EQ(error, 0) << "after the close: " << (error > 0 ? std::strerror(error) : "no child");
}

// A pty whose far end reads nothing until asked: what is written to it fills the line.
struct UnreadLine : ::testing::Test {
    int master = -1;
    std::string path;

    void SetUp() override {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(master, 0);
        ASSERT_EQ(::grantpt(master), 0);
        ASSERT_EQ(::unlockpt(master), 0);
        path = ::ptsname(master);
        ::sigaction(SIGUSR1, &interrupting, &saved);
    }
    void TearDown() override {
        ::sigaction(SIGUSR1, &saved, nullptr);
        if (master >= 0) ::close(master);
    }

    // Reads and drops `count` bytes from the far end, or fewer if the line stays quiet.
    void drain(size_t count) const {
        char chunk[4096];
        while (count > 0) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 2000) <= 0) return;
            const ssize_t n = ::read(master, chunk, std::min(sizeof chunk, count));
            if (n <= 0) return;
            count -= static_cast<size_t>(n);
        }
    }

    // SIGUSR1 interrupts a blocking call (no SA_RESTART) and does nothing else.
    struct sigaction interrupting = [] {
        struct sigaction action {};
        action.sa_handler = [](int) {};
        sigemptyset(&action.sa_mask);
        return action;
    }();
    struct sigaction saved {};
};

// Sends SIGUSR1 to a thread every 20 ms while it lives.
class Interrupter {
  public:
    explicit Interrupter(pthread_t target)
        : thread_([this, target] {
              while (!stop_) {
                  std::this_thread::sleep_for(20ms);
                  ::pthread_kill(target, SIGUSR1);
              }
          }) {}
    ~Interrupter() {
        stop_ = true;
        thread_.join();
    }

  private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

TEST_F(UnreadLine, OutputWaitsForRoomThroughSignalsAndGivesUpOnlyAfterItsWait) {
    PosixSerialControl control{[this](int16_t) { return path; }};
    control.PortOpen(true);
    const std::string block(1 << 20, '\x55');  // far more than a pty holds
    const Interrupter interrupter(::pthread_self());

    // The far end starts reading after a few signals have hit the wait.
    std::thread reader([this, &block] {
        std::this_thread::sleep_for(200ms);
        drain(block.size());
    });
    EXPECT_NO_THROW(control.Output(block)) << "a signal is not the end of the wait";
    reader.join();

    // Nobody reads: the wait ends at its limit, not at the first signal.
    const auto start = std::chrono::steady_clock::now();
    try {
        control.Output(block);
        ADD_FAILURE() << "a line that never drains took everything";
    } catch (const SerialError& e) {
        EXPECT_GE(std::chrono::steady_clock::now() - start, PosixSerialControl::kTransmitWait);
        EXPECT_NE(std::string(e.what()).find(": Output: transmit timed out"), std::string::npos)
            << e.what();
    }
}

TEST_F(UnreadLine, PortThatAnotherProgramHoldsExclusivelyIsLeftUntouchedAndBusy) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "not root: an ordinary user's open of a port held exclusively is refused "
                        "by the system before the control sees the port; only root gets past it";
    // The other program: its own speed, in exclusive mode.
    const int holder = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(holder, 0) << std::strerror(errno);
    termios held{};
    ASSERT_EQ(::tcgetattr(holder, &held), 0);
    ::cfsetispeed(&held, B1200);
    ::cfsetospeed(&held, B1200);
    ASSERT_EQ(::tcsetattr(holder, TCSANOW, &held), 0);
    ASSERT_EQ(::tcgetattr(holder, &held), 0);
    ASSERT_EQ(::ioctl(holder, TIOCEXCL), 0);

    const auto paths = [this](int16_t port) {
        return port == 1 ? path : std::string("/nonexistent/ttyVARNEL");
    };
    {
        PosixSerialControl control{paths};
        try {
            control.PortOpen(true);
            ADD_FAILURE() << "opened a port that another program holds exclusively";
        } catch (const SerialError& e) {
            EXPECT_EQ(e.kind(), SerialError::Kind::Busy) << e.what();
            EXPECT_EQ(e.what(), "serial port 1 (" + path +
                                    "): PortOpen: in exclusive use by another program: port busy");
        }
        EXPECT_FALSE(control.PortOpen());
    }
    // Discovery would write its probe byte into the other program's line.
    PosixSerialControl control{paths};
    InterfaceLink link{[&control]() -> SerialControl& { return control; }};
    EXPECT_EQ(link.ConectarCOM1(), -1);
    ASSERT_EQ(link.probes().size(), 1u);
    EXPECT_EQ(link.probes()[0].result, ProbeOutcome::Result::Busy) << link.probes()[0].detail;

    termios after{};
    ASSERT_EQ(::tcgetattr(holder, &after), 0);
    EXPECT_EQ(::cfgetispeed(&after), B1200);
    EXPECT_EQ(::cfgetospeed(&after), B1200);
    EXPECT_EQ(after.c_iflag, held.c_iflag);
    EXPECT_EQ(after.c_oflag, held.c_oflag);
    EXPECT_EQ(after.c_cflag, held.c_cflag);
    EXPECT_EQ(after.c_lflag, held.c_lflag);
    EXPECT_EQ(std::memcmp(after.c_cc, held.c_cc, sizeof held.c_cc), 0);
    EXPECT_TRUE(exclusive(holder)) << "the other program's exclusive mode was cleared";
    pollfd p{master, POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 200), 0) << "something was written to the other program's line";
    ::close(holder);
}

}  // namespace
}  // namespace varnel::test
