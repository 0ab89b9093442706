// Watches whether the board that was found still answers, so that the operator is told once when
// it stops and once when it answers again, and never more than a few lines a minute.
#pragma once

#include <chrono>

namespace varnel {

class BoardWatch {
  public:
    using Clock = std::chrono::steady_clock;

    // Ticks in a row without a whole acknowledged exchange before the board counts as lost.
    static constexpr int kTicksToLost = 3;
    // Lines that may follow one another at once; after them, one line per kLineEvery at most.
    static constexpr int kLineBurst = 4;
    static constexpr std::chrono::seconds kLineEvery{15};

    enum class Change { None, Lost, AnswersAgain };

    // One tick: `answered` when both of its exchanges were acknowledged. The change the operator
    // should now be told of, if any. A loss is told at once, so the last line told never says
    // the board answers while it does not; a return is told only when the limit allows a line,
    // and one held back is told once a line is allowed again, if it still stands.
    Change tick(bool answered, Clock::time_point now) {
        if (answered)
            failedInARow_ = 0;
        else if (failedInARow_ < kTicksToLost)
            ++failedInARow_;
        refill(now);
        const bool lost = failedInARow_ >= kTicksToLost;
        if (lost == toldLost_) return Change::None;
        if (!lost && lines_ == 0) return Change::None;
        if (lines_ > 0) --lines_;  // a loss spends a line when there is one
        toldLost_ = lost;
        return lost ? Change::Lost : Change::AnswersAgain;
    }

  private:
    void refill(Clock::time_point now) {
        while (lines_ < kLineBurst && now - refilled_ >= kLineEvery) {
            ++lines_;
            refilled_ += kLineEvery;
        }
        if (lines_ == kLineBurst) refilled_ = now;  // a full allowance refills from now on
    }

    int failedInARow_ = 0;
    bool toldLost_ = false;
    int lines_ = kLineBurst;
    Clock::time_point refilled_{};
};

}  // namespace varnel
