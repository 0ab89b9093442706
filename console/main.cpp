// VARNEL: the operator console of the motorised tower.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/form_tolmar.h"

namespace {

// The write end of the pipe through which the ending signals reach the event loop. A signal
// handler reaches the rest of the program only through process-wide state; this descriptor, set
// once before the handler is installed, is the only such state of the program.
std::atomic<int> endSignalPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free, "used from a signal handler");
// Set by the handler as well, for when no pipe could be made.
std::atomic<bool> endSignalSeen{false};
static_assert(std::atomic<bool>::is_always_lock_free, "used from a signal handler");

struct EndSignal {
    int number;
    const char* failure;  // what is reported when it cannot be watched
};
constexpr EndSignal kEndSignals[] = {{SIGTERM, "cannot watch SIGTERM: sigaction"},
                                     {SIGINT, "cannot watch SIGINT: sigaction"},
                                     {SIGHUP, "cannot watch SIGHUP: sigaction"},
                                     {SIGQUIT, "cannot watch SIGQUIT: sigaction"}};

void onEndSignal(int) {
    const int savedErrno = errno;
    endSignalSeen.store(true, std::memory_order_relaxed);
    const char wake = 0;
    // A full pipe already holds a wake-up, so a byte that does not fit is not missed.
    [[maybe_unused]] const ssize_t written =
        ::write(endSignalPipe.load(std::memory_order_relaxed), &wake, 1);
    errno = savedErrno;
}

void report(const char* what, int error) {
    std::fprintf(stderr, "VARNEL: %s: %s\n", what, std::strerror(error));
}

// Opens /dev/null on whichever of the standard descriptors the parent left closed, so that
// nothing the program opens later takes one of them: a pipe or a port on descriptor 2 would
// receive every line meant for stderr.
void openStandardDescriptors() {
    for (int descriptor = STDIN_FILENO; descriptor <= STDERR_FILENO; ++descriptor) {
        if (::fcntl(descriptor, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor, so this one: those below it are open by now.
        if (::open("/dev/null", O_RDWR) == -1) {
            const int error = errno;
            report("cannot open /dev/null on a closed standard descriptor: open", error);
        }
    }
}

// A write on a pipe whose reader has gone (stderr into a pager the operator has quit) fails
// with EPIPE instead of ending the program with the motors running.
void ignoreBrokenPipes() {
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    if (::sigaction(SIGPIPE, &ignore, nullptr) != 0) {
        const int error = errno;
        report("cannot ignore SIGPIPE: sigaction", error);
    }
}

// Whether the parent started the program with `signal` ignored, as nohup does with SIGHUP.
bool ignoredByTheParent(int signal) {
    struct sigaction current {};
    return ::sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

// Makes SIGTERM, SIGINT, SIGHUP and SIGQUIT wake the event loop through a pipe, except those that
// the parent set to be ignored, which stay so; the read end, or -1 when no pipe could be made
// (reported; the event loop then looks for them on a slow timer).
int watchEndSignals() {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        const int error = errno;
        report(
            "cannot watch SIGTERM, SIGINT, SIGHUP and SIGQUIT through a pipe, looking for them "
            "every 100 ms instead: pipe2",
            error);
    }
    endSignalPipe.store(ends[1]);
    struct sigaction action {};
    action.sa_handler = onEndSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigset_t endSignals;
    sigemptyset(&endSignals);
    for (const EndSignal& signal : kEndSignals) {
        if (ignoredByTheParent(signal.number)) continue;
        sigaddset(&endSignals, signal.number);
        if (::sigaction(signal.number, &action, nullptr) != 0) {
            const int error = errno;
            report(signal.failure, error);
        }
    }
    // A parent may have started the program with them blocked; they must reach the handler.
    if (const int error = ::pthread_sigmask(SIG_UNBLOCK, &endSignals, nullptr); error != 0)
        report("cannot unblock SIGTERM, SIGINT, SIGHUP and SIGQUIT: pthread_sigmask", error);
    return ends[0];
}

}  // namespace

int main(int argc, char** argv) {
    openStandardDescriptors();
    ignoreBrokenPipes();
    // A request to end the session (SIGTERM, SIGHUP, Ctrl+C, Ctrl+\) closes the console like its
    // close box, so the motors are stopped on the way out. Set up before any thread starts, so
    // that every thread has the signals unblocked.
    const int endSignals = watchEndSignals();

    QApplication app(argc, argv);
    varnel::FormTolmar form;
    if (endSignals >= 0) {
        // A signal that came before the event loop runs waits in the pipe and is handled then.
        auto* notifier = new QSocketNotifier(endSignals, QSocketNotifier::Read, &form);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form, endSignals] {
            char wakes[64];
            while (::read(endSignals, wakes, sizeof wakes) > 0) {
            }
            form.close();
        });
    } else {
        auto* poll = new QTimer(&form);
        QObject::connect(poll, &QTimer::timeout, &form, [&form] {
            if (endSignalSeen.load(std::memory_order_relaxed)) form.close();
        });
        poll->start(100);
    }
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
