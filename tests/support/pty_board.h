// A simulated Tolmar board on a pseudo-terminal, answering on its own thread.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace varnel::test {

class PtyBoard {
  public:
    // One byte on the line, in the order it was sent.
    struct LineByte {
        bool fromBoard;
        unsigned char value;
        bool operator==(const LineByte&) const = default;
    };

    PtyBoard();
    ~PtyBoard();
    PtyBoard(const PtyBoard&) = delete;
    PtyBoard& operator=(const PtyBoard&) = delete;

    // The device the program opens.
    const std::string& path() const { return slavePath_; }

    // The inputs E1..E8 that the board reports.
    void setInput(unsigned char value);
    // Answers nothing at all.
    void setSilent(bool silent);
    // Answers every acknowledgement with this byte instead of 0xF0. The board itself goes on as
    // if it had answered 0xF0: after a header, the next byte is its command, whatever it is.
    void setWrongAnswer(std::optional<unsigned char> answer);
    // Sends every answer twice, in one write.
    void setDoubleAnswer(bool twice);
    // Waits this long before each answer.
    void setAnswerDelay(std::chrono::microseconds delay);
    // Sends the next answer twice, in one write.
    void doubleNextAnswer();
    // Answers the next command header `delay` late. The board goes on at once as after any
    // header (the next byte is its command); answers it gives meanwhile follow the late one in
    // their order, kAnswersBehind apart.
    void lateNextHeader(std::chrono::microseconds delay);
    static constexpr std::chrono::milliseconds kAnswersBehind{3};
    // How many headers have been answered late so far.
    int lateHeaders() const;
    // Holds every answer back from now for `duration`, then sends what it held in one write, as
    // a stalled line or a loaded machine delivers late bytes together.
    void stall(std::chrono::microseconds duration);
    // Paces every byte in both directions at 9600 baud (1.04 ms a byte).
    void setPaced(bool paced);
    // Closes the master side: the program's next access to the port fails.
    void unplug();

    // Every byte the board received from the program.
    std::string received() const;
    // Both directions, in order.
    std::vector<LineByte> line() const;
    // The command bytes the board accepted.
    std::vector<unsigned char> commands() const;
    void clearRecords();

    // Waits until the board has received at least `count` bytes; false on timeout.
    bool waitForReceived(size_t count, std::chrono::milliseconds timeout) const;

  private:
    enum class State { Idle, AwaitCommand, AwaitEcho };

    void run();
    void handle(unsigned char byte);
    void answer(unsigned char byte);
    void pause(std::chrono::microseconds duration) const;
    // Writes the answers held back by a stall once it is over; the time left of it otherwise.
    std::optional<std::chrono::steady_clock::duration> releaseHeld();
    void endStallLocked();
    // Writes the late answers that are due; the time until the next one otherwise.
    std::optional<std::chrono::steady_clock::duration> releaseLate();
    void writeLocked(const unsigned char* bytes, size_t count);

    int master_ = -1;
    int slave_ = -1;  // kept open so the master never reads EIO when the program closes the port
    int wakePipe_[2] = {-1, -1};
    std::string slavePath_;
    std::thread thread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    unsigned char input_ = 0;
    bool silent_ = false;
    std::optional<unsigned char> wrongAnswer_;
    bool doubleAnswer_ = false;
    bool doubleNext_ = false;
    std::optional<std::chrono::steady_clock::time_point> stallUntil_;
    std::string held_;
    std::optional<std::chrono::microseconds> lateNextHeader_;
    int lateHeaders_ = 0;
    struct LateAnswer {
        std::chrono::steady_clock::time_point at;
        std::string bytes;
    };
    std::vector<LateAnswer> late_;  // in the order they go out
    std::chrono::microseconds delay_{0};
    bool paced_ = false;
    std::string received_;
    std::vector<LineByte> line_;
    std::vector<unsigned char> commands_;

    // Touched only by the board's thread.
    State state_ = State::Idle;
    unsigned char sentInput_ = 0;
    bool answeringHeader_ = false;
};

// Line traces as the board records them.
using Line = std::vector<PtyBoard::LineByte>;
inline PtyBoard::LineByte toBoard(int b) {
    return {false, static_cast<unsigned char>(b)};
}
inline PtyBoard::LineByte fromBoard(int b) {
    return {true, static_cast<unsigned char>(b)};
}
inline Line operator+(Line a, const Line& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// One acknowledged command handshake, and one acknowledged input handshake.
inline Line commandLine(int value) {
    return {toBoard(0xAA), fromBoard(0xF0), toBoard(value), fromBoard(0xF0)};
}
inline Line inputLine(int value) {
    return {toBoard(0xCC), fromBoard(value), toBoard(value), fromBoard(0xF0)};
}

}  // namespace varnel::test
