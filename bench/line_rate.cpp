// Ticks per second of the unmodified program against the simulated board: each tick ends with
// one command handshake, so the board's accepted commands after start-up count the ticks.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "bench/bench.h"
#include "tests/e2e/program_runner.h"
#include "tests/support/pty_board.h"

namespace varnel::bench {

namespace {

using namespace std::chrono_literals;
using test::PortSetup;
using test::ProgramRunner;
using test::PtyBoard;

// A thread that only reads the clock: every gap it sees is time the machine gave to something
// else, which costs the program under test its ticks as well.
class StallMonitor {
  public:
    static constexpr double kStallMs = 5;

    StallMonitor()
        : thread_([this] {
              auto last = std::chrono::steady_clock::now();
              while (!stop_.load(std::memory_order_relaxed)) {
                  const auto now = std::chrono::steady_clock::now();
                  const double gap = std::chrono::duration<double, std::milli>(now - last).count();
                  if (gap > kStallMs) ++stalls_, worst_ = std::max(worst_, gap);
                  last = now;
              }
          }) {}
    // Stops the thread; what it saw.
    std::string report() {
        stop_ = true;
        thread_.join();
        return format("machine stalls over %.0f ms: %d, worst %.0f ms", kStallMs, stalls_, worst_);
    }

  private:
    std::atomic<bool> stop_{false};
    int stalls_ = 0;
    double worst_ = 0;
    std::thread thread_;
};

Row measure(bool paced, int seconds) {
    Row row{paced ? format("ticks per second, every byte paced at 9600 baud (%d s)", seconds)
                  : format("ticks per second, board answering at once (%d s)", seconds),
            "", paced ? ">= 97 /s" : ">= 99 /s", ""};
    PtyBoard board;
    board.setPaced(paced);
    ProgramRunner program(PortSetup::device(board.path()), PortSetup::absent());
    // Start-up is over once a few ticks have gone by.
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (board.commands().size() < 5) {
        if (std::chrono::steady_clock::now() > deadline || !program.running()) {
            row.figure = "n/a: the program did not start ticking: " + program.errors();
            return row;
        }
        std::this_thread::sleep_for(1ms);
    }
    StallMonitor monitor;
    const auto requests = [&board] {
        const std::string received = board.received();
        return std::count(received.begin(), received.end(), '\xCC');
    };
    const size_t before = board.commands().size();
    const auto requestsBefore = requests();
    const auto start = std::chrono::steady_clock::now();
    std::this_thread::sleep_until(start + std::chrono::seconds(seconds));
    const size_t after = board.commands().size();
    const auto requestsAfter = requests();
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const std::string stalls = monitor.report();
    program.askToClose();
    const auto status = program.waitForExit(10s);
    const double rate = static_cast<double>(after - before) / elapsed;
    // Every tick begins with an input request, acknowledged or not.
    const double begun = static_cast<double>(requestsAfter - requestsBefore) / elapsed;
    row.figure =
        format("%.1f /s (ratio to 100: %.3f; ticks begun %.1f /s; ", rate, rate / 100, begun) +
        stalls + ")";
    if (!program.errors().empty()) row.figure += "; stderr: " + program.errors();
    if (status != 0) row.figure += "; did not exit cleanly";
    row.met = verdict(rate >= (paced ? 97 : 99) && program.errors().empty() && status == 0);
    return row;
}

}  // namespace

std::vector<Row> lineRate(int seconds) {
    const std::string why = ProgramRunner::unavailableReason();
    if (!why.empty())
        return {{"ticks per second against the simulated board", "n/a: " + why, ">= 99 /s", ""}};
    return {measure(false, seconds), measure(true, seconds)};
}

}  // namespace varnel::bench
