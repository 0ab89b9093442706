#include "tests/e2e/program_runner.h"

#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace varnel::test {

namespace fs = std::filesystem;

namespace {

std::string quoted(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::string portScript(const char* node, const PortSetup& port) {
    switch (port.kind) {
        case PortSetup::Kind::Absent:
            return "";
        case PortSetup::Kind::NotATerminal:
            return std::string("touch /dev/") + node + "\n";
        case PortSetup::Kind::Device:
            // The pty slave is reached through the saved /dev.
            return std::string("touch /dev/") + node + "\nmount --bind \"$old/" +
                   fs::path(port.path).lexically_relative("/dev").string() + "\" /dev/" + node +
                   "\n";
    }
    return "";
}

// Where stderr goes: the descriptor the pipe without reader waits on in the script.
constexpr int kPipeWithoutReader = 9;

// The redirections of the program's own command line.
std::string descriptorRedirections(Surroundings::Descriptors descriptors) {
    switch (descriptors) {
        case Surroundings::Descriptors::Open:
            return "";
        case Surroundings::Descriptors::StderrIntoAPipeWithoutReader:
            return " 2>&" + std::to_string(kPipeWithoutReader) + " " +
                   std::to_string(kPipeWithoutReader) + ">&-";
        case Surroundings::Descriptors::StandardClosed:
            return " <&- >&- 2>&-";
        case Surroundings::Descriptors::StdoutAndStderrClosed:
            return " >&- 2>&-";
    }
    return "";
}

}  // namespace

std::string ProgramRunner::unavailableReason() {
    if (::geteuid() != 0) return "not root: a mount namespace with bind mounts needs root";
    if (std::system("unshare --mount true >/dev/null 2>&1") != 0)
        return "unshare --mount is refused on this machine";
    if (std::system("unshare --mount --propagation private sh -c "
                    "'mount -t tmpfs varnel-probe /dev' >/dev/null 2>&1") != 0)
        return "mounting inside a private mount namespace is refused on this machine";
    return {};
}

ProgramRunner::ProgramRunner(PortSetup port1, PortSetup port2, std::string pictureDir,
                             std::string preload, bool unprivileged, Surroundings surroundings) {
    char tmpl[] = "/tmp/varnel-e2e.XXXXXX";
    if (!::mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
    workDir_ = tmpl;
    // A copy of the program with its pictures, so a test may remove one.
    programDir_ = workDir_ + "/program";
    fs::create_directories(programDir_);
    fs::create_directories(workDir_ + "/olddev");
    const std::string runtimeDir = workDir_ + "/runtime";
    fs::create_directories(runtimeDir);
    fs::permissions(runtimeDir, fs::perms::owner_all, fs::perm_options::replace);
    if (unprivileged) {
        constexpr uid_t kNobody = 65534;
        fs::permissions(workDir_,
                        fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                            fs::perms::others_read | fs::perms::others_exec,
                        fs::perm_options::replace);
        if (::chown(runtimeDir.c_str(), kNobody, kNobody) != 0)
            throw std::runtime_error("cannot hand the runtime folder to nobody");
    }
    const fs::path program = VARNEL_PROGRAM;
    fs::copy_file(program, programDir_ + "/varnel");
    const fs::path pictures = pictureDir.empty() ? program.parent_path() : fs::path(pictureDir);
    for (const auto& entry : fs::directory_iterator(pictures))
        if (entry.path().extension() == ".jpg")
            fs::copy_file(entry.path(), programDir_ + "/" + entry.path().filename().string());

    std::ostringstream script;
    script << "set -e\n"
           << "old=" << quoted(workDir_ + "/olddev") << "\n"
           << "mount --rbind /dev \"$old\"\n"
           << "mount -t tmpfs -o mode=755 varnel-dev /dev\n"
           << "for n in null zero full random urandom tty ptmx; do [ -e \"$old/$n\" ] || "
              "continue; touch /dev/$n; mount --bind \"$old/$n\" /dev/$n; done\n"
           << "for d in pts shm; do [ -d \"$old/$d\" ] || continue; mkdir /dev/$d; "
              "mount --rbind \"$old/$d\" /dev/$d; done\n"
           << portScript("ttyS0", port1) << portScript("ttyS1", port2);
    if (!preload.empty()) script << "export LD_PRELOAD=" << quoted(preload) << "\n";
    // An ignored signal stays ignored across exec.
    for (int signal : surroundings.ignoredSignals)
        script << "trap '' " << ::sigabbrev_np(signal) << "\n";
    script << "exec " << (unprivileged ? "setpriv --reuid=65534 --regid=65534 --clear-groups " : "")
           << quoted(programDir_ + "/varnel") << descriptorRedirections(surroundings.descriptors)
           << "\n";
    const std::string scriptText = script.str();
    const std::string errorsPath = workDir_ + "/stderr.txt";

    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("XDG_RUNTIME_DIR", runtimeDir.c_str(), 1);
        ::unsetenv("ASAN_OPTIONS");  // the program may be a sanitized build; keep its defaults
        // The signals as a plain parent leaves them, whatever this process does with its own.
        for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT, SIGPIPE}) ::signal(signal, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        if (surroundings.descriptors == Surroundings::Descriptors::StderrIntoAPipeWithoutReader) {
            int ends[2];
            if (::pipe(ends) != 0) ::_exit(127);
            ::close(ends[0]);
            if (ends[1] != kPipeWithoutReader) {
                if (::dup2(ends[1], kPipeWithoutReader) < 0) ::_exit(127);
                ::close(ends[1]);
            }
        }
        FILE* err = std::freopen(errorsPath.c_str(), "w", stderr);
        (void)err;
        FILE* out = std::freopen("/dev/null", "w", stdout);
        (void)out;
        ::execlp("unshare", "unshare", "--mount", "--propagation", "private", "sh", "-c",
                 scriptText.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
}

ProgramRunner::~ProgramRunner() {
    if (running()) {
        ::kill(pid_, SIGKILL);
        waitForExit(std::chrono::seconds(5));
    }
    std::error_code ignored;
    fs::remove_all(workDir_, ignored);
}

bool ProgramRunner::running() {
    if (status_) return false;
    int status = 0;
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return !status_;
}

void ProgramRunner::askToClose() {
    if (running()) ::kill(pid_, SIGTERM);
}

void ProgramRunner::sendSignal(int number) {
    if (running()) ::kill(pid_, number);
}

std::optional<int> ProgramRunner::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return status_;
}

std::string ProgramRunner::errors() const {
    std::ifstream in(workDir_ + "/stderr.txt");
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool ProgramRunner::onDevNull(int descriptor) const {
    struct stat null {};
    struct stat opened {};
    const std::string path = "/proc/" + std::to_string(pid_) + "/fd/" + std::to_string(descriptor);
    return ::stat("/dev/null", &null) == 0 && ::stat(path.c_str(), &opened) == 0 &&
           S_ISCHR(opened.st_mode) && opened.st_rdev == null.st_rdev;
}

}  // namespace varnel::test
