// The measurements that bench_all prints as one table.
#pragma once

#include <string>
#include <vector>

namespace varnel::bench {

struct Row {
    std::string measure;
    std::string figure;
    std::string target;
    std::string met;  // "yes", "no", or "" where no target applies
};

std::string verdict(bool met);
std::string format(const char* pattern, ...) __attribute__((format(printf, 1, 2)));
// Median of the values (sorted in place); 0 for none.
double median(std::vector<double>& values);
// A share of the sorted values, 0..1.
double percentile(std::vector<double>& values, double share);

// The unmodified program against the simulated board, instant and paced; needs root.
std::vector<Row> lineRate(int seconds);
// The empty bounded wait of the link on the POSIX control.
std::vector<Row> emptyWait();
// One tick's own work and memory, in process, with no board.
std::vector<Row> tickWork();
// Start-up to the first tick with no board, measured from the spawn of a process that starts
// the console as the program does. `self` is this program's path.
std::vector<Row> startUp(const std::string& self);
// The process that startUp spawns; returns its exit status.
int startUpChild(int argc, char** argv);

}  // namespace varnel::bench
