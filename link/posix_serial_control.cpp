#include "link/posix_serial_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <sstream>
#include <utility>
#include <vector>

namespace varnel {

namespace {

// `opening`: the error came from opening the device.
SerialError::Kind errorKind(int error, bool opening) {
    switch (error) {
        case ENOENT:
        case ENODEV:
            return SerialError::Kind::NoSuchPort;
        case EACCES:
        case EPERM:
            return SerialError::Kind::NotPermitted;
        case EBUSY:
        case EWOULDBLOCK:
            return SerialError::Kind::Busy;
        case EIO:
        case ENXIO:
            return opening ? SerialError::Kind::NoUart : SerialError::Kind::Disconnected;
        default:
            return SerialError::Kind::Other;
    }
}

std::string errorText(int error, bool opening) {
    switch (errorKind(error, opening)) {
        case SerialError::Kind::NoSuchPort:
            return "no such port";
        case SerialError::Kind::NoUart:
            return "no such port (no UART)";
        case SerialError::Kind::NotPermitted:
            return "not permitted";
        case SerialError::Kind::Busy:
            return "port busy";
        case SerialError::Kind::Disconnected:
            return "device disconnected";
        case SerialError::Kind::Other:
            break;
    }
    return std::strerror(error);
}

speed_t speedFor(int baud) {
    switch (baud) {
        case 110:
            return B110;
        case 300:
            return B300;
        case 600:
            return B600;
        case 1200:
            return B1200;
        case 2400:
            return B2400;
        case 4800:
            return B4800;
        case 9600:
            return B9600;
        case 19200:
            return B19200;
        case 38400:
            return B38400;
        case 57600:
            return B57600;
        case 115200:
            return B115200;
        default:
            return B0;
    }
}

std::vector<std::string> splitFields(const std::string& text) {
    std::vector<std::string> fields;
    std::string field;
    std::istringstream in(text);
    while (std::getline(in, field, ',')) fields.push_back(field);
    if (!text.empty() && text.back() == ',') fields.emplace_back();
    return fields;
}

bool parseWhole(const std::string& text, int& value) {
    if (text.empty() || text.size() > 7) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return true;
}

}  // namespace

LineSettings parseLineSettings(const std::string& text) {
    const auto bad = [&text](const char* why) -> SerialError {
        return SerialError("invalid line settings \"" + text + "\": " + why);
    };
    const std::vector<std::string> fields = splitFields(text);
    if (fields.size() != 4) throw bad("expected baud,parity,data,stop");
    LineSettings settings;
    if (!parseWhole(fields[0], settings.baud) || speedFor(settings.baud) == B0)
        throw bad("unsupported baud rate");
    if (fields[1].size() != 1) throw bad("parity must be N, E or O");
    settings.parity = fields[1][0];
    if (settings.parity >= 'a' && settings.parity <= 'z') settings.parity -= 'a' - 'A';
    if (settings.parity != 'N' && settings.parity != 'E' && settings.parity != 'O')
        throw bad("parity must be N, E or O");
    if (!parseWhole(fields[2], settings.dataBits) || settings.dataBits < 5 || settings.dataBits > 8)
        throw bad("data bits must be 5 to 8");
    if (!parseWhole(fields[3], settings.stopBits) || settings.stopBits < 1 || settings.stopBits > 2)
        throw bad("stop bits must be 1 or 2");
    return settings;
}

std::string PosixSerialControl::devicePath(int16_t port) const {
    return paths_(port);
}

std::string PosixSerialControl::linuxPortPath(int16_t port) {
    return "/dev/ttyS" + std::to_string(port - 1);
}

PosixSerialControl::PosixSerialControl(PortPaths paths) : paths_(std::move(paths)) {}

PosixSerialControl::~PosixSerialControl() {
    closePort();
}

void PosixSerialControl::fail(const std::string& what, int error, bool opening) const {
    std::string where = "serial port " + std::to_string(port_);
    if (!openPath_.empty()) where += " (" + openPath_ + ")";
    throw SerialError(where + ": " + what + ": " + errorText(error, opening),
                      errorKind(error, opening));
}

void PosixSerialControl::refuse(const char* operation, const std::string& why) const {
    throw SerialError("serial port " + std::to_string(port_) + ": " + operation + ": " + why);
}

void PosixSerialControl::requireOpen(const char* operation) const {
    if (fd_ < 0) refuse(operation, "port is not open");
}

void PosixSerialControl::CommPort(int16_t port) {
    if (fd_ >= 0) refuse("CommPort", "cannot change the port number while the port is open");
    if (port < 1) refuse("CommPort", "invalid port number " + std::to_string(port));
    port_ = port;
}

void PosixSerialControl::Settings(const std::string& settings) {
    try {
        settings_ = parseLineSettings(settings);
    } catch (const SerialError& e) {
        refuse("Settings", e.what());
    }
    if (fd_ >= 0) applySettings("Settings");
}

void PosixSerialControl::InputLen(int16_t length) {
    if (length < 0) refuse("InputLen", "invalid input length " + std::to_string(length));
    inputLen_ = length;
}

void PosixSerialControl::PortOpen(bool open) {
    if (!open) {
        closePort();
        return;
    }
    if (fd_ >= 0) refuse("PortOpen", "already open");
    openPath_ = paths_(port_);
    fd_ = ::open(openPath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) {
        const int error = errno;
        // At open, these mean a device node with no serial hardware behind it (common for
        // /dev/ttyS1 on a PC); once open, they mean the device went away.
        fail("PortOpen: cannot open", error, true);
    }
    try {
        // Root passes through another program's exclusive use: such a port is left as it is,
        // with nothing set, written or cleared. Devices without the mode answer ENOTTY or EINVAL.
        int heldElsewhere = 0;
        if (::ioctl(fd_, TIOCGEXCL, &heldElsewhere) != 0) {
            if (errno != ENOTTY && errno != EINVAL) fail("PortOpen: TIOCGEXCL", errno);
            heldElsewhere = 0;
        }
        if (heldElsewhere != 0) fail("PortOpen: in exclusive use by another program", EBUSY);
        // TIOCEXCL keeps other openers out, but root passes through it; the lock covers that.
        if (::ioctl(fd_, TIOCEXCL) == 0)
            exclusiveSet_ = true;
        else if (errno != ENOTTY && errno != EINVAL)
            fail("PortOpen: TIOCEXCL", errno);
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0)
            fail("PortOpen: cannot lock", errno == EWOULDBLOCK ? EBUSY : errno);
        applySettings("PortOpen");
    } catch (...) {
        closePort();
        throw;
    }
}

void PosixSerialControl::applySettings(const char* operation) {
    const std::string op = operation;
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0)
        fail(op + ": not a serial port", errno == ENOTTY ? ENODEV : errno);
    ::cfmakeraw(&tio);
    const speed_t speed = speedFor(settings_.baud);
    ::cfsetispeed(&tio, speed);
    ::cfsetospeed(&tio, speed);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    tio.c_cflag |= CLOCAL | CREAD;
    switch (settings_.dataBits) {
        case 5:
            tio.c_cflag |= CS5;
            break;
        case 6:
            tio.c_cflag |= CS6;
            break;
        case 7:
            tio.c_cflag |= CS7;
            break;
        default:
            tio.c_cflag |= CS8;
            break;
    }
    if (settings_.parity != 'N') tio.c_cflag |= PARENB;
    if (settings_.parity == 'O') tio.c_cflag |= PARODD;
    if (settings_.stopBits == 2) tio.c_cflag |= CSTOPB;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) fail(op + ": cannot apply line settings", errno);
}

void PosixSerialControl::closePort() {
    if (fd_ < 0) return;
    // The exclusive mode belongs to the terminal, not to this descriptor: it outlives the close
    // while anyone else keeps the device open, and would keep ordinary users out of it. Only the
    // mode this control set is cleared; another program's stays.
    if (exclusiveSet_) ::ioctl(fd_, TIOCNXCL);
    exclusiveSet_ = false;
    ::close(fd_);  // also releases the lock
    fd_ = -1;
}

void PosixSerialControl::Output(const std::string& bytes) {
    requireOpen("Output");
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            awaitWritable();
            continue;
        }
        fail("Output", n < 0 ? errno : EIO);
    }
}

void PosixSerialControl::awaitWritable() {
    // The transmit buffer is full: give the line a moment to drain, but never hang. A signal
    // that interrupts the wait does not end it; the deadline stays where it was.
    const auto deadline = std::chrono::steady_clock::now() + kTransmitWait;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fd_, POLLOUT, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0) fail("Output", errno);
        if (ready == 0) break;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) fail("Output", EIO);
        return;
    }
    fail("Output: transmit timed out", ETIMEDOUT);
}

int PosixSerialControl::waitingBytes(const char* operation) {
    int count = 0;
    if (::ioctl(fd_, FIONREAD, &count) != 0) fail(operation, errno);
    return count;
}

std::string PosixSerialControl::Input() {
    requireOpen("Input");
    const int waiting = waitingBytes("Input");
    if (waiting <= 0) return {};
    const size_t wanted = inputLen_ == 0
                              ? static_cast<size_t>(waiting)
                              : std::min<size_t>(waiting, static_cast<size_t>(inputLen_));
    std::string bytes(wanted, '\0');
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n = ::read(fd_, bytes.data() + got, wanted - got);
        if (n > 0) {
            got += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN) fail("Input", errno);
        // Nothing came although bytes were said to be waiting: the device went away.
        if (got == 0) fail("Input", EIO);
        break;
    }
    bytes.resize(got);
    return bytes;
}

int16_t PosixSerialControl::InBufferCount() {
    requireOpen("InBufferCount");
    int count = waitingBytes("InBufferCount");
    if (count == 0) {
        const auto deadline = std::chrono::steady_clock::now() + kEmptyPollWait;
        while (count == 0 && std::chrono::steady_clock::now() < deadline)
            count = waitingBytes("InBufferCount");
    }
    return static_cast<int16_t>(std::min(count, static_cast<int>(INT16_MAX)));
}

}  // namespace varnel
