// Runs the unmodified program with serial ports 1 and 2 pointed at chosen devices, in a
// private mount namespace where /dev is rebuilt with just what the program needs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace varnel::test {

struct PortSetup {
    enum class Kind { Absent, NotATerminal, Device };
    Kind kind = Kind::NotATerminal;
    std::string path;  // with Kind::Device

    static PortSetup absent() { return {Kind::Absent, {}}; }
    static PortSetup notATerminal() { return {Kind::NotATerminal, {}}; }
    static PortSetup device(std::string path) { return {Kind::Device, std::move(path)}; }
};

// How the parent leaves the program's signals and standard descriptors. By default every signal
// is at its default action and unblocked, stdin and stdout are on /dev/null and stderr goes into
// a file the test reads.
struct Surroundings {
    enum class Descriptors {
        Open,
        // stderr into a pipe whose reader has gone, as `varnel 2>&1 | less` once less has quit.
        StderrIntoAPipeWithoutReader,
        // 0, 1 and 2 all closed.
        StandardClosed,
        // 1 and 2 closed, 0 open.
        StdoutAndStderrClosed,
    };
    // Set to be ignored, as nohup does with SIGHUP.
    std::vector<int> ignoredSignals;
    Descriptors descriptors = Descriptors::Open;
};

class ProgramRunner {
  public:
    // Empty when namespaces can be used here, else why not.
    static std::string unavailableReason();

    // `preload`: libraries the program is started with (LD_PRELOAD), empty for none.
    // `unprivileged`: the program runs as the user nobody, as an operator outside the group
    // that owns the serial devices would.
    ProgramRunner(PortSetup port1, PortSetup port2, std::string pictureDir = {},
                  std::string preload = {}, bool unprivileged = false,
                  Surroundings surroundings = {});
    ~ProgramRunner();
    ProgramRunner(const ProgramRunner&) = delete;
    ProgramRunner& operator=(const ProgramRunner&) = delete;

    bool running();
    // Asks the program to close, as the window system's close does.
    void askToClose();
    void sendSignal(int number);
    // Waits for the end; the exit status (or 128 + signal), nothing on timeout.
    std::optional<int> waitForExit(std::chrono::milliseconds timeout);
    std::string errors() const;
    // Whether the running program has `descriptor` open on /dev/null.
    bool onDevNull(int descriptor) const;
    // The folder the program runs from (its pictures are there).
    const std::string& programDir() const { return programDir_; }

  private:
    std::string workDir_;
    std::string programDir_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

}  // namespace varnel::test
