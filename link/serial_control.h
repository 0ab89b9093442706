// The serial-port control through which the link talks to the board.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace varnel {

// Raised by a control that cannot carry out an operation.
class SerialError : public std::runtime_error {
  public:
    // What kind of failure it was, where the control can tell.
    // NoUart: a device node with no serial hardware behind it.
    enum class Kind { Other, NoSuchPort, NoUart, NotPermitted, Busy, Disconnected };

    explicit SerialError(const std::string& message, Kind kind = Kind::Other)
        : std::runtime_error(message), kind_(kind) {}

    Kind kind() const { return kind_; }

  private:
    Kind kind_;
};

// Exactly the operations the link uses, named after the properties of a serial control.
// Bytes travel as std::string, one char per byte.
class SerialControl {
  public:
    virtual ~SerialControl() = default;

    // Selects the port that the next opening uses.
    virtual void CommPort(int16_t port) = 0;
    virtual int16_t CommPort() const = 0;
    // Line settings "baud,parity,data,stop", applied when the port opens.
    virtual void Settings(const std::string& settings) = 0;
    // 0: every Input read returns every byte waiting.
    virtual void InputLen(int16_t length) = 0;
    virtual bool PortOpen() const = 0;
    virtual void PortOpen(bool open) = 0;
    virtual void Output(const std::string& bytes) = 0;
    // The bytes waiting; they leave the receive buffer.
    virtual std::string Input() = 0;
    virtual int16_t InBufferCount() = 0;
};

}  // namespace varnel
