// Runs every benchmark and prints one markdown table, with the machine it ran on.
//
//   bench_all [--seconds N]   N: length of each ticks-per-second run (10)
#include <sys/utsname.h>
#include <unistd.h>

#include <QApplication>
#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

#include "bench/bench.h"

namespace varnel::bench {

std::string verdict(bool met) {
    return met ? "yes" : "no";
}

std::string format(const char* pattern, ...) {
    char text[512];
    va_list args;
    va_start(args, pattern);
    std::vsnprintf(text, sizeof text, pattern, args);
    va_end(args);
    return text;
}

double median(std::vector<double>& values) {
    return percentile(values, 0.5);
}

double percentile(std::vector<double>& values, double share) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t at = std::min(values.size() - 1, static_cast<size_t>(share * values.size()));
    return values[at];
}

namespace {

std::string cpuModel() {
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

std::string machine() {
    utsname name{};
    ::uname(&name);
    return format("%ld CPUs, %s; Linux %s; %s build%s", ::sysconf(_SC_NPROCESSORS_ONLN),
                  cpuModel().c_str(), name.release, VARNEL_BUILD_TYPE,
                  VARNEL_SANITIZED ? " with ASan and UBSan" : "");
}

}  // namespace

}  // namespace varnel::bench

int main(int argc, char** argv) {
    using namespace varnel::bench;
    if (argc >= 2 && std::strcmp(argv[1], "--startup-child") == 0) return startUpChild(argc, argv);
    int seconds = 10;
    if (argc == 3 && std::strcmp(argv[1], "--seconds") == 0) seconds = std::atoi(argv[2]);
    if (seconds < 1 || (argc != 1 && argc != 3)) {
        std::fprintf(stderr, "usage: %s [--seconds N]\n", argv[0]);
        return 2;
    }
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    char runtimeDir[] = "/tmp/varnel-bench.XXXXXX";
    if (std::getenv("XDG_RUNTIME_DIR") == nullptr && ::mkdtemp(runtimeDir) != nullptr)
        ::setenv("XDG_RUNTIME_DIR", runtimeDir, 1);
    char self[4096];
    const ssize_t length = ::readlink("/proc/self/exe", self, sizeof self - 1);
    self[length > 0 ? length : 0] = '\0';

    std::vector<Row> rows;
    std::fprintf(stderr, "bench_all: ticks per second against the simulated board...\n");
    for (Row& row : lineRate(seconds)) rows.push_back(row);
    std::fprintf(stderr, "bench_all: start-up...\n");
    for (Row& row : startUp(self)) rows.push_back(row);
    std::fprintf(stderr, "bench_all: empty bounded wait...\n");
    for (Row& row : emptyWait()) rows.push_back(row);
    std::fprintf(stderr, "bench_all: 100,000 ticks in process...\n");
    {
        QApplication app(argc, argv);
        for (Row& row : tickWork()) rows.push_back(row);
    }

    std::printf("Machine: %s\n\n", machine().c_str());
    std::printf("| measure | figure | target | met |\n|---|---|---|---|\n");
    for (const Row& row : rows)
        std::printf("| %s | %s | %s | %s |\n", row.measure.c_str(), row.figure.c_str(),
                    row.target.empty() ? "-" : row.target.c_str(),
                    row.met.empty() ? "-" : row.met.c_str());
    if (std::strcmp(runtimeDir, "/tmp/varnel-bench.XXXXXX") != 0) ::rmdir(runtimeDir);
    return 0;
}
