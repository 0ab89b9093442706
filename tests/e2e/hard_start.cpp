// Preloaded into the program by the end-to-end tests to start it in a hard spot, one library for
// each: pipe2 always failing as it does when the process has no file descriptor left
// (VARNEL_FAIL_PIPE2), or the ending signals blocked as a parent may leave them
// (VARNEL_BLOCK_END_SIGNALS). Says on stderr what it did.
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <initializer_list>

#if defined(VARNEL_FAIL_PIPE2)
#define VARNEL_HARD_START "pipe2 fails with EMFILE"
extern "C" int pipe2(int*, int) {
    errno = EMFILE;
    return -1;
}
#elif defined(VARNEL_BLOCK_END_SIGNALS)
#define VARNEL_HARD_START "SIGTERM, SIGINT, SIGHUP and SIGQUIT blocked"
#endif

namespace {

[[gnu::constructor]] void start() {
#if defined(VARNEL_BLOCK_END_SIGNALS)
    // Runs before main, while the program has its one thread: the same as an inherited mask.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&endSignals, signal);
    sigprocmask(SIG_BLOCK, &endSignals, nullptr);
#endif
    static constexpr char kSaid[] = "preloaded: " VARNEL_HARD_START "\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, kSaid, sizeof kSaid - 1);
}

}  // namespace
