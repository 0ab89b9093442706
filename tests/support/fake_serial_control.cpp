#include "tests/support/fake_serial_control.h"

#include "link/interface_link.h"

namespace varnel::test {

std::string hex(const std::string& bytes) {
    return hexText(bytes);
}

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (int v : values) text += static_cast<char>(static_cast<unsigned char>(v));
    return text;
}

void FakeSerialControl::record(const std::string& op, bool mayFail) const {
    // Input is checked as "Input" before it runs and recorded with its result afterwards.
    const std::string checked = op == "Input?" ? "Input" : op;
    if (mayFail && failWhen_ && failWhen_(*this, checked)) {
        trace_.push_back(checked + " !threw");
        pollRun_ = 0;
        throw SerialError("fake: " + checked + " failed", failKind_);
    }
    if (op == "Input?") return;
    if (op == "InBufferCount") {
        if (pollRun_ > 0 && !trace_.empty()) trace_.pop_back();
        ++pollRun_;
        trace_.push_back("InBufferCount x" + std::to_string(pollRun_));
        return;
    }
    pollRun_ = 0;
    trace_.push_back(op);
}

std::vector<std::string> FakeSerialControl::trace() const {
    return trace_;
}

void FakeSerialControl::CommPort(int16_t port) {
    record("CommPort(" + std::to_string(port) + ")");
    port_ = port;
}

void FakeSerialControl::Settings(const std::string& settings) {
    record("Settings(" + settings + ")");
}

void FakeSerialControl::InputLen(int16_t length) {
    record("InputLen(" + std::to_string(length) + ")");
}

bool FakeSerialControl::PortOpen() const {
    record("PortOpen?");
    return open_;
}

void FakeSerialControl::PortOpen(bool open) {
    record(open ? "PortOpen(true)" : "PortOpen(false)");
    if (open && open_) throw SerialError("fake: port already open");
    if (!open) {
        // Closing discards what was received and what was still on its way.
        buffer_.clear();
        inFlight_.clear();
        emptyNextInput_ = false;
    }
    open_ = open;
}

void FakeSerialControl::arrive() {
    // In order: nothing overtakes an answer that is still on its way.
    for (InFlight& f : inFlight_) {
        if (f.arrived) continue;
        if (!f.reaction.bytes.empty() && f.polls < f.reaction.atPoll) break;
        buffer_ += f.reaction.bytes;
        f.arrived = true;
    }
}

void FakeSerialControl::Output(const std::string& bytes) {
    record("Output(" + hex(bytes) + ")");
    if (!open_) throw SerialError("fake: Output: port is not open");
    written_ += bytes;
    emptyNextInput_ = false;
    if (reactions_.empty()) return;
    inFlight_.push_back({reactions_.front()});
    reactions_.pop_front();
    emptyNextInput_ = inFlight_.back().reaction.inputEmpty;
    arrive();
}

void FakeSerialControl::settle() {
    for (InFlight& f : inFlight_) {
        if (!f.arrived) buffer_ += f.reaction.bytes;
        buffer_ += f.reaction.beforeRead;
    }
    inFlight_.clear();
    emptyNextInput_ = false;
}

int16_t FakeSerialControl::InBufferCount() {
    record("InBufferCount");
    for (InFlight& f : inFlight_) ++f.polls;
    arrive();
    return static_cast<int16_t>(buffer_.size());
}

std::string FakeSerialControl::Input() {
    // Throw before anything leaves the buffer.
    record("Input?");
    for (InFlight& f : inFlight_) {
        if (!f.arrived) break;
        buffer_ += f.reaction.beforeRead;
        f.reaction.beforeRead.clear();
    }
    while (!inFlight_.empty() && inFlight_.front().arrived) inFlight_.pop_front();
    std::string got;
    if (emptyNextInput_) {
        emptyNextInput_ = false;
        buffer_.clear();
        record("Input->", false);
        return got;
    }
    got.swap(buffer_);
    record("Input->" + hex(got), false);
    return got;
}

}  // namespace varnel::test
