// Ticks per second of the unmodified program against the simulated board: each tick ends with
// one command handshake, so the board's accepted commands after start-up count the ticks. Beside
// the rate, what cost the ticks: how late they began, and how long the board's answers took.
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <optional>
#include <thread>
#include <vector>

#include "bench/bench.h"
#include "tests/e2e/program_runner.h"
#include "tests/support/pty_board.h"

namespace varnel::bench {

namespace {

using namespace std::chrono_literals;
using test::PortSetup;
using test::ProgramRunner;
using test::PtyBoard;

using Clock = std::chrono::steady_clock;

double ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

std::string spread(std::vector<double> values) {
    return format("median %.1f, 90th %.1f, max %.1f ms", median(values), percentile(values, 0.9),
                  percentile(values, 1));
}

// Times the bytes the program writes, as the board receives them: a thread woken by each byte
// the board records notes the time it sees it. It runs at real-time priority where it may (the
// bench runs as root), so that on a busy machine the times are the board's, not the watcher's.
class LineWatch {
  public:
    explicit LineWatch(const PtyBoard& board)
        : board_(board), thread_([this, from = board.received().size()] { watch(from); }) {
        const sched_param priority{1};
        realTime_ = ::pthread_setschedparam(thread_.native_handle(), SCHED_FIFO, &priority) == 0;
    }

    ~LineWatch() { stop(); }
    LineWatch(const LineWatch&) = delete;
    LineWatch& operator=(const LineWatch&) = delete;

    // Stops watching; what cost the ticks.
    std::string report() {
        stop();
        // A tick begins with an input request (0xCC) and sends its command after a header
        // (0xAA). The board reports no inputs, so neither the echo nor a command is one of them.
        const auto isRequest = [](unsigned char b) { return b == 0xCC || b == 0xAA; };
        std::vector<double> late, answers;
        int givenUp = 0;
        std::optional<Clock::time_point> slot, lastStart;
        for (size_t i = 0; i < seen_.size(); ++i) {
            const Seen& byte = seen_[i];
            if (byte.value == 0xCC) {
                // The slot this tick was due in, as a precise 10 ms timer keeps them: one
                // interval after the last slot, or after the last start where that start came
                // more than an interval late. A start before its slot shows that the first
                // start, which set the slots, was itself late: the slots move back to it.
                if (slot) {
                    *slot += 10ms;
                    if (*slot < *lastStart) *slot = *lastStart + 10ms;
                    if (byte.at < *slot) *slot = byte.at;
                    late.push_back(ms(byte.at - *slot));
                } else {
                    slot = byte.at;
                }
                lastStart = byte.at;
            }
            if (!isRequest(byte.value) || i + 1 == seen_.size()) continue;
            const Seen& next = seen_[i + 1];
            if (isRequest(next.value))
                ++givenUp;  // the program waited out its polls and went on
            else if (byte.alone && next.alone)
                answers.push_back(ms(next.at - byte.at));
        }
        return "tick starts after their 10 ms slot: " + spread(late) +
               "; answers, from a request or header to the program's next byte: " +
               spread(answers) + format("; handshakes given up at the first answer: %d", givenUp) +
               (realTime_ ? "" : "; times taken at ordinary priority");
    }

  private:
    void stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    struct Seen {
        Clock::time_point at;
        unsigned char value;
        bool alone;  // the only new byte when it was seen, so its time is its own
    };

    void watch(size_t count) {
        while (!stop_.load(std::memory_order_relaxed)) {
            board_.waitForReceived(count + 1, 20ms);
            const auto now = Clock::now();
            const std::string received = board_.received();
            for (size_t i = count; i < received.size(); ++i)
                seen_.push_back(
                    {now, static_cast<unsigned char>(received[i]), received.size() == count + 1});
            count = std::max(count, received.size());
        }
    }

    const PtyBoard& board_;
    std::atomic<bool> stop_{false};
    std::vector<Seen> seen_;  // touched by the thread until it is joined
    bool realTime_ = false;
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
    LineWatch watch(board);
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
    const std::string costs = watch.report();
    program.askToClose();
    const auto status = program.waitForExit(10s);
    const double rate = static_cast<double>(after - before) / elapsed;
    // Every tick begins with an input request, acknowledged or not.
    const double begun = static_cast<double>(requestsAfter - requestsBefore) / elapsed;
    row.figure =
        format("%.1f /s (ratio to 100: %.3f; ticks begun %.1f /s; ", rate, rate / 100, begun) +
        costs + ")";
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
