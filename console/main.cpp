// VARNEL: the operator console of the motorised tower.
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <QApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "console/form_tolmar.h"

int main(int argc, char** argv) {
    // A request to end the session (SIGTERM, SIGHUP, Ctrl+C) closes the console like its close
    // box, so the motors are stopped on the way out. The signals are blocked before any thread
    // starts and read through a descriptor in the event loop.
    sigset_t endSignals;
    sigemptyset(&endSignals);
    sigaddset(&endSignals, SIGTERM);
    sigaddset(&endSignals, SIGINT);
    sigaddset(&endSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &endSignals, nullptr);
    const int signalFd = signalfd(-1, &endSignals, SFD_CLOEXEC | SFD_NONBLOCK);

    QApplication app(argc, argv);
    varnel::FormTolmar form;
    QSocketNotifier* notifier = nullptr;
    if (signalFd >= 0) {
        notifier = new QSocketNotifier(signalFd, QSocketNotifier::Read, &form);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form, signalFd] {
            signalfd_siginfo info;
            while (read(signalFd, &info, sizeof info) == sizeof info) {
            }
            form.close();
        });
    } else {
        std::perror("VARNEL: signalfd");
    }
    form.Form_Load();
    form.show();
    return QApplication::exec();
}
