// A scripted serial control for the link's unit tests.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "link/serial_control.h"

namespace varnel::test {

// Hex text of bytes, "AA F0"; bytes are compared as unsigned.
std::string hex(const std::string& bytes);
// Bytes from a list of values: bytes({0xAA, 0xF0}).
std::string bytes(std::initializer_list<int> values);

// How the line answers one Output.
struct Reaction {
    Reaction(std::string bytes = {}, int atPoll = 1, std::string beforeRead = {},
             bool inputEmpty = false)
        : bytes(std::move(bytes)),
          atPoll(atPoll),
          beforeRead(std::move(beforeRead)),
          inputEmpty(inputEmpty) {}

    std::string bytes;       // what arrives in the receive buffer
    int atPoll;              // the poll (counted from the Output) at which they are first seen
    std::string beforeRead;  // further bytes that arrive after the last poll, before Input
    bool inputEmpty;         // the next Input hands over nothing and the bytes are lost
};

class FakeSerialControl : public SerialControl {
  public:
    // Every operation is recorded in order. Runs of InBufferCount polls are folded into one
    // entry "InBufferCount x<N>"; Input is recorded with what it returned as "Input->F0".
    std::vector<std::string> trace() const;
    // Every byte written, in order.
    const std::string& written() const { return written_; }
    // Polls made by the most recent wait (InBufferCount calls since the last other operation).
    int lastPollRun() const { return pollRun_; }
    const std::string& waiting() const { return buffer_; }
    // Forgets what was recorded so far; the port state and the buffer stay.
    void clearTrace() {
        trace_.clear();
        pollRun_ = 0;
        written_.clear();
    }

    // Reactions to the coming Output calls, one each, in order; an Output with none is unanswered.
    void react(Reaction reaction) { reactions_.push_back(std::move(reaction)); }
    void answer(const std::string& bytes, int atPoll = 1) { react({bytes, atPoll, {}, false}); }
    void silent() { react({}); }
    // Bytes already waiting in the receive buffer.
    void preload(const std::string& bytes) { buffer_ += bytes; }
    // Throw SerialError before the operation whose record makes this true (checked before it
    // runs, so it has no effect). The record is as in trace(); PortOpen reads record "PortOpen?".
    void failWhen(std::function<bool(const FakeSerialControl&, const std::string&)> predicate) {
        failWhen_ = std::move(predicate);
    }

    void CommPort(int16_t port) override;
    int16_t CommPort() const override { return port_; }
    void Settings(const std::string& settings) override;
    void InputLen(int16_t length) override;
    bool PortOpen() const override;
    void PortOpen(bool open) override;
    void Output(const std::string& bytes) override;
    std::string Input() override;
    int16_t InBufferCount() override;

  private:
    void record(const std::string& op, bool mayFail = true) const;

    mutable std::vector<std::string> trace_;
    mutable int pollRun_ = 0;
    std::function<bool(const FakeSerialControl&, const std::string&)> failWhen_;
    std::deque<Reaction> reactions_;
    Reaction pending_;
    bool hasPending_ = false;
    int pollsSinceOutput_ = 0;
    std::string buffer_;
    std::string written_;
    int16_t port_ = 1;
    bool open_ = false;
};

}  // namespace varnel::test
