// SerialControl over a POSIX terminal device.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "link/serial_control.h"

namespace varnel {

struct LineSettings {
    int baud = 9600;
    char parity = 'N';  // N, E or O
    int dataBits = 8;
    int stopBits = 1;
};

// Parses "baud,parity,data,stop"; throws SerialError on anything that cannot be honoured.
LineSettings parseLineSettings(const std::string& text);

class PosixSerialControl : public SerialControl {
  public:
    // Maps a port number to the device path that opening it uses.
    using PortPaths = std::function<std::string(int16_t port)>;

    // Serial port N is /dev/ttyS{N-1}.
    static std::string linuxPortPath(int16_t port);

    // How long InBufferCount waits for a byte before it answers 0, so that the link's count of
    // polls spans a round trip with the board on a fast machine.
    static constexpr std::chrono::microseconds kEmptyPollWait{6};
    // How long Output waits for room in a full transmit buffer before it gives up.
    static constexpr std::chrono::milliseconds kTransmitWait{1000};

    explicit PosixSerialControl(PortPaths paths = linuxPortPath);
    ~PosixSerialControl() override;
    PosixSerialControl(const PosixSerialControl&) = delete;
    PosixSerialControl& operator=(const PosixSerialControl&) = delete;

    // The device that opening this port number uses.
    std::string devicePath(int16_t port) const;

    void CommPort(int16_t port) override;
    int16_t CommPort() const override { return port_; }
    void Settings(const std::string& settings) override;
    void InputLen(int16_t length) override;
    bool PortOpen() const override { return fd_ >= 0; }
    void PortOpen(bool open) override;
    void Output(const std::string& bytes) override;
    std::string Input() override;
    int16_t InBufferCount() override;

  private:
    // `opening`: the error came from opening the device, where EIO and ENXIO mean no UART.
    [[noreturn]] void fail(const std::string& what, int error, bool opening = false) const;
    [[noreturn]] void refuse(const char* operation, const std::string& why) const;
    void requireOpen(const char* operation) const;
    void applySettings(const char* operation);
    void awaitWritable();
    int waitingBytes(const char* operation);
    void closePort();

    PortPaths paths_;
    int16_t port_ = 1;
    LineSettings settings_;
    int16_t inputLen_ = 0;
    int fd_ = -1;
    bool exclusiveSet_ = false;  // this control put the open port in exclusive mode
    std::string openPath_;
};

}  // namespace varnel
