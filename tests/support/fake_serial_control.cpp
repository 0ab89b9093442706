#include "tests/support/fake_serial_control.h"

#include <cstdio>

namespace varnel::test {

std::string hex(const std::string& bytes) {
    std::string text;
    char cell[4];
    for (char c : bytes) {
        std::snprintf(cell, sizeof cell, "%02X", static_cast<unsigned char>(c));
        if (!text.empty()) text += ' ';
        text += cell;
    }
    return text;
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
        throw SerialError("fake: " + checked + " failed");
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
    if (!open) buffer_.clear();  // closing discards what was received
    open_ = open;
}

void FakeSerialControl::Output(const std::string& bytes) {
    record("Output(" + hex(bytes) + ")");
    if (!open_) throw SerialError("fake: Output: port is not open");
    written_ += bytes;
    pollsSinceOutput_ = 0;
    hasPending_ = !reactions_.empty();
    if (hasPending_) {
        pending_ = reactions_.front();
        reactions_.pop_front();
        if (pending_.atPoll <= 0) {
            buffer_ += pending_.bytes;
            pending_.bytes.clear();
        }
    }
}

int16_t FakeSerialControl::InBufferCount() {
    record("InBufferCount");
    ++pollsSinceOutput_;
    if (hasPending_ && !pending_.bytes.empty() && pollsSinceOutput_ >= pending_.atPoll) {
        buffer_ += pending_.bytes;
        pending_.bytes.clear();
    }
    return static_cast<int16_t>(buffer_.size());
}

std::string FakeSerialControl::Input() {
    // Throw before anything leaves the buffer.
    record("Input?");
    std::string got;
    if (hasPending_) {
        buffer_ += pending_.beforeRead;
        pending_.beforeRead.clear();
        if (pending_.inputEmpty) {
            pending_.inputEmpty = false;
            buffer_.clear();
            record("Input->", false);
            return got;
        }
    }
    got.swap(buffer_);
    record("Input->" + hex(got), false);
    return got;
}

}  // namespace varnel::test
