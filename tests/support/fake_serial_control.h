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
    int atPoll;              // the poll (counted from the Output) from which they can be seen
    std::string beforeRead;  // further bytes that arrive after them, before the next Input
    bool inputEmpty;         // the next Input after the Output hands over nothing; bytes are lost
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

    // The next poll starts an entry of its own, so that the polls of two calls are told apart.
    void endPollRun() { pollRun_ = 0; }

    // Reactions to the coming Output calls, one each, in order; an Output with none is unanswered.
    // Like a real line, the fake loses no byte and keeps their order: bytes that have not
    // arrived when the link writes again stay on their way, and arrive at their poll or, behind
    // an earlier answer still on its way, later.
    void react(Reaction reaction) { reactions_.push_back(std::move(reaction)); }
    void answer(const std::string& bytes, int atPoll = 1) { react({bytes, atPoll, {}, false}); }
    void silent() { react({}); }
    // Forgets the reactions not used yet.
    void clearReactions() { reactions_.clear(); }
    // Lets every answer still on its way arrive now, as a quiet line does in time.
    void settle();
    // Bytes already waiting in the receive buffer.
    void preload(const std::string& bytes) { buffer_ += bytes; }
    // Throw SerialError before the operation whose record makes this true (checked before it
    // runs, so it has no effect). The record is as in trace(); PortOpen reads record "PortOpen?".
    void failWhen(std::function<bool(const FakeSerialControl&, const std::string&)> predicate,
                  SerialError::Kind kind = SerialError::Kind::Other) {
        failWhen_ = std::move(predicate);
        failKind_ = kind;
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
    SerialError::Kind failKind_ = SerialError::Kind::Other;
    // An answer on its way.
    struct InFlight {
        Reaction reaction;
        int polls = 0;         // polls since its Output
        bool arrived = false;  // its bytes are in the receive buffer
    };
    void arrive();

    std::deque<Reaction> reactions_;
    std::deque<InFlight> inFlight_;
    bool emptyNextInput_ = false;
    std::string buffer_;
    std::string written_;
    int16_t port_ = 1;
    bool open_ = false;
};

}  // namespace varnel::test
