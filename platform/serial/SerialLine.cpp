#include "platform/serial/SerialLine.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tc::platform {

namespace {

std::optional<speed_t> baudConstant(int baud) {
    switch (baud) {
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
        case 230400:
            return B230400;
        case 460800:
            return B460800;
        case 921600:
            return B921600;
        default:
            return std::nullopt;
    }
}

std::optional<tcflag_t> sizeFlag(int bits) {
    switch (bits) {
        case 5:
            return CS5;
        case 6:
            return CS6;
        case 7:
            return CS7;
        case 8:
            return CS8;
        default:
            return std::nullopt;
    }
}

// The c_cflag bits this program decides; the rest is left as the driver reports it
// when the settings are read back.
constexpr tcflag_t kDecidedCflag = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

std::string describe(const char* step, const std::string& path, int err) {
    return std::string(step) + " " + path + ": " + std::strerror(err);
}

}  // namespace

std::string serialDevicePath(int port) {
    if (port < 1) return {};
    return "/dev/ttyS" + std::to_string(port - 1);
}

std::optional<TermiosMapping> mapToTermios(const SerialLineSettings& s) {
    const auto speed = baudConstant(s.baudRate);
    const auto size = sizeFlag(s.dataBits);
    if (!speed || !size) return std::nullopt;
    TermiosMapping m;
    termios& t = m.tio;
    t.c_iflag = IGNBRK;  // a break is not data for the printer's answers
    t.c_oflag = 0;
    t.c_lflag = 0;
    t.c_cflag = CREAD | CLOCAL | *size;
    switch (s.parity) {
        case Parity::None:
            break;
        case Parity::Odd:
            t.c_cflag |= PARENB | PARODD;
            break;
        case Parity::Even:
            t.c_cflag |= PARENB;
            break;
        case Parity::Mark:
            t.c_cflag |= PARENB | PARODD | CMSPAR;
            break;
        case Parity::Space:
            t.c_cflag |= PARENB | CMSPAR;
            break;
    }
    if (s.parity != Parity::None) t.c_iflag |= INPCK;
    switch (s.stopBits) {
        case StopBits::One:
            break;
        case StopBits::OneAndHalf:
            t.c_cflag |= CSTOPB;
            m.note = kOneAndHalfStopBitsNote;
            break;
        case StopBits::Two:
            t.c_cflag |= CSTOPB;
            break;
    }
    if (s.rtsCtsFlowControl) t.c_cflag |= CRTSCTS;
    t.c_cc[VMIN] = 0;
    t.c_cc[VTIME] = 0;
    cfsetispeed(&t, *speed);
    cfsetospeed(&t, *speed);
    return m;
}

SerialLine::SerialLine(const std::string& path, const SerialLineSettings& settings) {
    const auto mapping = mapToTermios(settings);
    if (!path.empty()) fd_.reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd_) {
        const int err = path.empty() ? ENOENT : errno;
        throw SerialOpenError(SerialOpenStep::Open, err, describe("open", path, err));
    }
    const int fd = fd_.get();
    // A failed open leaves the terminal as it found it: not exclusive, not locked, not
    // held, so the next attempt (ours or another program's) is not refused for it.
    bool locked = false;
    bool exclusive = false;
    auto fail = [&](SerialOpenStep step, int err, const std::string& what) {
        if (exclusive) ::ioctl(fd, TIOCNXCL);
        if (locked) ::flock(fd, LOCK_UN);
        fd_.reset();
        throw SerialOpenError(step, err, what);
    };
    // Two programs writing to one printer would interleave their labels.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        fail(SerialOpenStep::Open, errno, describe("flock", path, errno));
    locked = true;
    termios current{};
    if (::tcgetattr(fd, &current) != 0)
        fail(SerialOpenStep::ReadParameters, errno, describe("tcgetattr", path, errno));
    if (::ioctl(fd, TIOCEXCL) != 0)
        fail(SerialOpenStep::Open, errno, describe("TIOCEXCL", path, errno));
    exclusive = true;
    if (!mapping) fail(SerialOpenStep::SetParameters, EINVAL, "unsupported line settings");
    note_ = mapping->note;
    termios wanted = mapping->tio;
    std::memcpy(wanted.c_cc, current.c_cc, sizeof wanted.c_cc);
    wanted.c_cc[VMIN] = 0;
    wanted.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &wanted) != 0)
        fail(SerialOpenStep::SetParameters, errno, describe("tcsetattr", path, errno));
    // tcsetattr succeeds when any one change took; only a read-back shows the rest.
    termios got{};
    if (::tcgetattr(fd, &got) != 0)
        fail(SerialOpenStep::ReadParameters, errno, describe("tcgetattr", path, errno));
    if ((got.c_cflag & kDecidedCflag) != (wanted.c_cflag & kDecidedCflag) ||
        cfgetospeed(&got) != cfgetospeed(&wanted))
        fail(SerialOpenStep::SetParameters, 0, "the line did not take the settings: " + path);
    int dtr = TIOCM_DTR;
    if (::ioctl(fd, TIOCMBIS, &dtr) != 0 && errno != ENOTTY && errno != EINVAL)
        fail(SerialOpenStep::SetParameters, errno, describe("TIOCMBIS", path, errno));
    ::tcflush(fd, TCIOFLUSH);
}

SerialLine::~SerialLine() {
    if (!fd_) return;
    // The exclusive mode belongs to the terminal, not to this descriptor: leave it so the
    // next open (ours or another program's) is not refused while some other descriptor
    // still holds the terminal.
    ::ioctl(fd_.get(), TIOCNXCL);
}

void SerialLine::flushInput() {
    ::tcflush(fd_.get(), TCIFLUSH);
}

void SerialLine::flushOutput() {
    ::tcflush(fd_.get(), TCOFLUSH);
}

}  // namespace tc::platform
