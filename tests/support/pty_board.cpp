#include "tests/support/pty_board.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace varnel::test {

namespace {
constexpr std::chrono::microseconds kByteTime{1042};  // ten bit times at 9600 baud

void makeRaw(int fd) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) throw std::runtime_error("PtyBoard: tcgetattr failed");
    ::cfmakeraw(&tio);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) throw std::runtime_error("PtyBoard: tcsetattr failed");
}
}  // namespace

PtyBoard::PtyBoard() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
        throw std::runtime_error(std::string("PtyBoard: cannot open a pty: ") +
                                 std::strerror(errno));
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) throw std::runtime_error("PtyBoard: ptsname");
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) throw std::runtime_error("PtyBoard: cannot open the slave");
    // Raw on both ends before anyone else opens the slave: no echo, no CR/NL mapping.
    makeRaw(slave_);
    makeRaw(master_);
    if (::pipe2(wakePipe_, O_CLOEXEC) != 0) throw std::runtime_error("PtyBoard: pipe");
    thread_ = std::thread([this] { run(); });
}

PtyBoard::~PtyBoard() {
    const char stop = 'x';
    [[maybe_unused]] ssize_t n = ::write(wakePipe_[1], &stop, 1);
    thread_.join();
    if (master_ >= 0) ::close(master_);
    ::close(slave_);
    ::close(wakePipe_[0]);
    ::close(wakePipe_[1]);
}

void PtyBoard::setInput(unsigned char value) {
    std::lock_guard lock(mutex_);
    input_ = value;
}
void PtyBoard::setSilent(bool silent) {
    std::lock_guard lock(mutex_);
    silent_ = silent;
}
void PtyBoard::setWrongAnswer(std::optional<unsigned char> answer) {
    std::lock_guard lock(mutex_);
    wrongAnswer_ = answer;
}
void PtyBoard::setDoubleAnswer(bool twice) {
    std::lock_guard lock(mutex_);
    doubleAnswer_ = twice;
}
void PtyBoard::doubleNextAnswer() {
    std::lock_guard lock(mutex_);
    doubleNext_ = true;
}
void PtyBoard::lateNextHeader(std::chrono::microseconds delay) {
    std::lock_guard lock(mutex_);
    lateNextHeader_ = delay;
}
int PtyBoard::lateHeaders() const {
    std::lock_guard lock(mutex_);
    return lateHeaders_;
}
void PtyBoard::stall(std::chrono::microseconds duration) {
    {
        std::lock_guard lock(mutex_);
        stallUntil_ = std::chrono::steady_clock::now() + duration;
    }
    // Wake the board's thread so that it waits for the end of the stall.
    const char wake = 's';
    [[maybe_unused]] ssize_t n = ::write(wakePipe_[1], &wake, 1);
}
void PtyBoard::setAnswerDelay(std::chrono::microseconds delay) {
    std::lock_guard lock(mutex_);
    delay_ = delay;
}
void PtyBoard::setPaced(bool paced) {
    std::lock_guard lock(mutex_);
    paced_ = paced;
}

void PtyBoard::unplug() {
    const char stop = 'u';
    [[maybe_unused]] ssize_t n = ::write(wakePipe_[1], &stop, 1);
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return master_ < 0; });
}

std::string PtyBoard::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}
std::vector<PtyBoard::LineByte> PtyBoard::line() const {
    std::lock_guard lock(mutex_);
    return line_;
}
std::vector<unsigned char> PtyBoard::commands() const {
    std::lock_guard lock(mutex_);
    return commands_;
}
void PtyBoard::clearRecords() {
    std::lock_guard lock(mutex_);
    received_.clear();
    line_.clear();
    commands_.clear();
}

bool PtyBoard::waitForReceived(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

void PtyBoard::pause(std::chrono::microseconds duration) const {
    if (duration.count() <= 0) return;
    // Sleep most of it, then spin to the deadline: the scheduler's slack is larger than a byte.
    const auto deadline = std::chrono::steady_clock::now() + duration;
    if (duration > std::chrono::microseconds(300))
        std::this_thread::sleep_for(duration - std::chrono::microseconds(200));
    while (std::chrono::steady_clock::now() < deadline) {
    }
}

std::optional<std::chrono::steady_clock::duration> PtyBoard::releaseHeld() {
    std::lock_guard lock(mutex_);
    if (!stallUntil_) return std::nullopt;
    const auto now = std::chrono::steady_clock::now();
    if (now < *stallUntil_) return *stallUntil_ - now;
    endStallLocked();
    return std::nullopt;
}

void PtyBoard::endStallLocked() {
    stallUntil_.reset();
    writeLocked(reinterpret_cast<const unsigned char*>(held_.data()), held_.size());
    held_.clear();
}

void PtyBoard::writeLocked(const unsigned char* bytes, size_t count) {
    if (master_ < 0 || count == 0) return;
    if (::write(master_, bytes, count) <= 0) return;
    for (size_t i = 0; i < count; ++i) line_.push_back({true, bytes[i]});
}

std::optional<std::chrono::steady_clock::duration> PtyBoard::releaseLate() {
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    size_t due = 0;
    while (due < late_.size() && late_[due].at <= now) {
        writeLocked(reinterpret_cast<const unsigned char*>(late_[due].bytes.data()),
                    late_[due].bytes.size());
        ++due;
    }
    late_.erase(late_.begin(), late_.begin() + static_cast<std::ptrdiff_t>(due));
    if (late_.empty()) return std::nullopt;
    return late_.front().at - now;
}

void PtyBoard::run() {
    for (;;) {
        pollfd fds[2] = {{wakePipe_[0], POLLIN, 0}, {master_, POLLIN, 0}};
        const int nfds = master_ >= 0 ? 2 : 1;
        int timeout = -1;
        for (const auto& left : {releaseHeld(), releaseLate()}) {
            if (!left) continue;
            const int ms =
                static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*left).count());
            timeout = timeout < 0 ? ms : std::min(timeout, ms);
        }
        if (::poll(fds, nfds, timeout) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            char why = 0;
            if (::read(wakePipe_[0], &why, 1) == 1 && why == 's') continue;
            if (why == 'u') {
                std::lock_guard lock(mutex_);
                ::close(master_);
                master_ = -1;
                changed_.notify_all();
                continue;
            }
            return;
        }
        if (nfds == 2 && (fds[1].revents & POLLIN)) {
            unsigned char chunk[64];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) continue;
            for (ssize_t i = 0; i < n; ++i) handle(chunk[i]);
        }
    }
}

void PtyBoard::handle(unsigned char byte) {
    bool paced;
    {
        std::lock_guard lock(mutex_);
        received_ += static_cast<char>(byte);
        line_.push_back({false, byte});
        paced = paced_;
        changed_.notify_all();
        if (silent_) {
            // A board that is off hears nothing.
            state_ = State::Idle;
            return;
        }
    }
    // The byte took a byte time to arrive on a real line.
    if (paced) pause(kByteTime);
    switch (state_) {
        case State::Idle:
            if (byte == 0xFF) {
                answer(0xF0);
            } else if (byte == 0xAA) {
                state_ = State::AwaitCommand;
                answeringHeader_ = true;
                answer(0xF0);
                answeringHeader_ = false;
            } else if (byte == 0xCC) {
                {
                    std::lock_guard lock(mutex_);
                    sentInput_ = input_;
                }
                state_ = State::AwaitEcho;
                answer(sentInput_);
            }
            break;
        case State::AwaitCommand:
            state_ = State::Idle;
            {
                std::lock_guard lock(mutex_);
                commands_.push_back(byte);
            }
            answer(0xF0);
            break;
        case State::AwaitEcho:
            state_ = State::Idle;
            if (byte == sentInput_) answer(0xF0);
            break;
    }
}

void PtyBoard::answer(unsigned char byte) {
    std::chrono::microseconds delay;
    bool twice, paced;
    {
        std::lock_guard lock(mutex_);
        if (byte == 0xF0 && wrongAnswer_) byte = *wrongAnswer_;
        delay = delay_;
        twice = doubleAnswer_ || doubleNext_;
        doubleNext_ = false;
        paced = paced_;
    }
    pause(delay);
    // On a real line the answer is seen only once its last bit has arrived.
    if (paced) pause(kByteTime * (twice ? 2 : 1));
    const unsigned char out[2] = {byte, byte};
    std::lock_guard lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (answeringHeader_ && lateNextHeader_) {
        late_.push_back({now + *lateNextHeader_,
                         std::string(reinterpret_cast<const char*>(out), twice ? 2 : 1)});
        lateNextHeader_.reset();
        ++lateHeaders_;
        changed_.notify_all();
        return;  // the board's loop wakes for it when it is due
    }
    if (!late_.empty()) {
        // Nothing overtakes a late answer.
        late_.push_back({std::max(now, late_.back().at + kAnswersBehind),
                         std::string(reinterpret_cast<const char*>(out), twice ? 2 : 1)});
        return;
    }
    if (stallUntil_) {
        if (std::chrono::steady_clock::now() < *stallUntil_) {
            held_.append(reinterpret_cast<const char*>(out), twice ? 2 : 1);
            return;
        }
        endStallLocked();  // what was held goes first
    }
    writeLocked(out, twice ? 2 : 1);
}

}  // namespace varnel::test
