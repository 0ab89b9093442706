// One tick's own work, memory over many ticks, and start-up to the first tick, all with no
// board: the link is down, so a tick does its display step, its rules and nothing on the line.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <array>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "bench/bench.h"
#include "console/form_tolmar.h"
#include "tests/support/pty_board.h"

extern char** environ;

namespace varnel::bench {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::array<std::pair<int16_t, int16_t>, 9> kPairs{
    {{0, 0}, {17, 0}, {17, 34}, {17, 2}, {1, 0}, {1, 34}, {1, 2}, {0, 34}, {0, 2}}};

double msSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

long residentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

std::string missingPort(int16_t port) {
    return "/nonexistent/varnel-bench-ttyS" + std::to_string(port - 1);
}

// Nanoseconds on the monotonic clock, which every process on the machine shares.
long long monotonicNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::vector<Row> tickWork() {
    std::ostringstream errors;
    FormTolmarOptions options;
    options.portPaths = missingPort;
    options.programDir = QStringLiteral(VARNEL_ASSETS_DIR);
    options.endProgram = [] {};
    options.errors = &errors;
    FormTolmar form(options);
    form.Timer1->stop();
    form.Form_Load();
    errors.str("");  // the line that says no board was found: expected here
    form.show();
    QCoreApplication::processEvents();

    // Every tick shows another of the nine states, so each one decodes a picture and changes
    // captions. The repaint that the event loop does after a tick is timed on its own.
    std::vector<double> tickMs, repaintMs;
    long afterThousand = 0, afterTenThousand = 0;
    for (int tick = 1; tick <= 100000; ++tick) {
        form.torre().Giro = kPairs[tick % kPairs.size()].first;
        form.torre().Rampa = kPairs[tick % kPairs.size()].second;
        const auto start = Clock::now();
        form.Timer1_Timer();
        const double ms = msSince(start);
        const auto paintStart = Clock::now();
        QCoreApplication::processEvents();
        if (tick <= 10000) {
            tickMs.push_back(ms);
            repaintMs.push_back(msSince(paintStart));
        }
        if (tick == 1000) afterThousand = residentKiB();
        if (tick == 10000) afterTenThousand = residentKiB();
    }
    const long afterHundredThousand = residentKiB();
    const long growth = afterHundredThousand - afterThousand;
    const double tickMedian = median(tickMs);
    const std::string broken = errors.str().empty() ? "" : "; stderr: " + errors.str();
    return {
        {"one tick's own work (Timer1_Timer, link down, nine states in turn), median of 10,000",
         format("%.3f ms (90th %.3f, 99th %.3f)", tickMedian, percentile(tickMs, 0.9),
                percentile(tickMs, 0.99)) +
             broken,
         "<= 1 ms", verdict(tickMedian <= 1 && broken.empty())},
        {"repaint after that tick (event loop, offscreen), median of 10,000",
         format("%.3f ms (99th %.3f)", median(repaintMs), percentile(repaintMs, 0.99)), "", ""},
        {"resident memory after 1,000 ticks", format("%.1f MiB", afterThousand / 1024.0), "", ""},
        {"resident memory after 100,000 ticks",
         format("%.1f MiB (growth %ld KiB, of which %ld KiB after tick 10,000)",
                afterHundredThousand / 1024.0, growth, afterHundredThousand - afterTenThousand),
         "growth < 1 MiB", verdict(growth < 1024)},
    };
}

// The child: starts the console as the program's main does, with both ports pointing where
// the parent says, and prints the monotonic time at a few points up to the end of the first
// tick that the event loop delivers.
int startUpChild(int argc, char** argv) {
    const long long entered = monotonicNs();
    if (argc < 4) return 2;
    const std::string port1 = argv[2], port2 = argv[3];
    QApplication app(argc, argv);
    const long long appMade = monotonicNs();
    FormTolmarOptions options;
    options.portPaths = [&](int16_t port) { return port == 1 ? port1 : port2; };
    options.programDir = QStringLiteral(VARNEL_ASSETS_DIR);
    std::ostringstream errors;  // the line that says no board was found
    options.errors = &errors;
    FormTolmar form(options);
    long long loaded = 0;
    // Connected after the window's own handler, so it runs when the first tick has ended.
    QObject::connect(form.Timer1, &QTimer::timeout, &form, [&] {
        std::printf("%lld %lld %lld %lld\n", entered, appMade, loaded, monotonicNs());
        std::fflush(stdout);
        QCoreApplication::exit(0);
    });
    form.Form_Load();
    loaded = monotonicNs();
    form.show();
    return QApplication::exec();
}

std::vector<Row> startUp(const std::string& self) {
    std::vector<Row> rows;
    for (const bool present : {false, true}) {
        // Present: both ports are terminals with nothing answering, so each probe waits out
        // its 5000 polls. Absent: opening each port fails at once.
        test::PtyBoard silent1, silent2;
        silent1.setSilent(true);
        silent2.setSilent(true);
        const std::string port1 = present ? silent1.path() : missingPort(1);
        const std::string port2 = present ? silent2.path() : missingPort(2);
        std::vector<double> total, inProcess, loads;
        std::string failure;
        for (int run = 0; run < 10 && failure.empty(); ++run) {
            int out[2];
            if (::pipe(out) != 0) return {{"start-up", "n/a: pipe", "", ""}};
            posix_spawn_file_actions_t actions;
            posix_spawn_file_actions_init(&actions);
            posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
            posix_spawn_file_actions_addclose(&actions, out[0]);
            std::string mode = "--startup-child";
            char* args[] = {const_cast<char*>(self.c_str()), mode.data(),
                            const_cast<char*>(port1.c_str()), const_cast<char*>(port2.c_str()),
                            nullptr};
            pid_t pid = -1;
            const long long spawned = monotonicNs();
            const int error = posix_spawn(&pid, self.c_str(), &actions, nullptr, args, environ);
            posix_spawn_file_actions_destroy(&actions);
            ::close(out[1]);
            std::string text;
            char chunk[256];
            for (ssize_t n; (n = ::read(out[0], chunk, sizeof chunk)) > 0;)
                text.append(chunk, static_cast<size_t>(n));
            ::close(out[0]);
            int status = 0;
            if (error == 0) ::waitpid(pid, &status, 0);
            long long entered = 0, appMade = 0, loaded = 0, ticked = 0;
            if (error != 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0 ||
                std::sscanf(text.c_str(), "%lld %lld %lld %lld", &entered, &appMade, &loaded,
                            &ticked) != 4) {
                failure = "n/a: the start-up child failed";
                break;
            }
            total.push_back((ticked - spawned) / 1e6);
            inProcess.push_back((ticked - appMade) / 1e6);
            loads.push_back((loaded - appMade) / 1e6);
        }
        const std::string what =
            present ? "start-up to first tick, both ports present and silent, median of 10"
                    : "start-up to first tick, both ports absent, median of 10";
        if (!failure.empty()) {
            rows.push_back({what, failure, "< 300 ms", ""});
            continue;
        }
        const double mid = median(total);
        rows.push_back({what,
                        format("%.1f ms from spawn (from building the window: %.1f ms, of "
                               "which building and Form_Load %.1f ms)",
                               mid, median(inProcess), median(loads)),
                        "< 300 ms", verdict(mid < 300)});
    }
    return rows;
}

}  // namespace varnel::bench
