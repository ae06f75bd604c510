#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "platform/UniqueFd.h"
#include "platform/serial/PseudoTerminal.h"
#include "platform/serial/SerialLine.h"

using namespace tc::platform;

TEST(SerialDevicePath, PortNumberNamesTheNthSerialPort) {
    EXPECT_EQ(serialDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(serialDevicePath(2), "/dev/ttyS1");
    EXPECT_EQ(serialDevicePath(17), "/dev/ttyS16");
    EXPECT_EQ(serialDevicePath(0), "");
    EXPECT_EQ(serialDevicePath(-3), "");
}

namespace {

struct MappingCase {
    SerialLineSettings settings;
    speed_t speed;
    tcflag_t cflagSet;    // must all be on
    tcflag_t cflagClear;  // must all be off
    bool noted;           // the mapping leaves a log line
};

SerialLineSettings make(int baud, int bits, Parity p, StopBits s, bool rtscts = true) {
    return {1, baud, bits, p, s, rtscts};
}

}  // namespace

class TermiosMappingTable : public ::testing::TestWithParam<MappingCase> {};

TEST_P(TermiosMappingTable, MapsEveryAcceptedValue) {
    const MappingCase& c = GetParam();
    const auto m = mapToTermios(c.settings);
    ASSERT_TRUE(m.has_value());
    EXPECT_EQ(cfgetospeed(&m->tio), c.speed);
    EXPECT_EQ(cfgetispeed(&m->tio), c.speed);
    EXPECT_EQ(m->tio.c_cflag & c.cflagSet, c.cflagSet);
    EXPECT_EQ(m->tio.c_cflag & c.cflagClear, 0u);
    // Raw bytes both ways and a receiver that never hangs on modem lines.
    EXPECT_EQ(m->tio.c_cflag & (CREAD | CLOCAL), tcflag_t(CREAD | CLOCAL));
    EXPECT_EQ(m->tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(m->tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(m->tio.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(m->tio.c_cc[VMIN], 0);
    EXPECT_EQ(m->tio.c_cc[VTIME], 0);
    EXPECT_EQ(m->note, c.noted ? std::string(kOneAndHalfStopBitsNote) : std::string());
}

INSTANTIATE_TEST_SUITE_P(
    Baud, TermiosMappingTable,
    ::testing::Values(
        MappingCase{make(9600, 8, Parity::None, StopBits::One), B9600, CS8, 0, false},
        MappingCase{make(19200, 8, Parity::None, StopBits::One), B19200, CS8, 0, false},
        MappingCase{make(38400, 8, Parity::None, StopBits::One), B38400, CS8, 0, false},
        MappingCase{make(57600, 8, Parity::None, StopBits::One), B57600, CS8, 0, false},
        MappingCase{make(115200, 8, Parity::None, StopBits::One), B115200, CS8, 0, false}));

INSTANTIATE_TEST_SUITE_P(DataBits, TermiosMappingTable,
                         ::testing::Values(MappingCase{make(9600, 6, Parity::None, StopBits::One),
                                                       B9600, CS6, CSIZE & ~CS6, false},
                                           MappingCase{make(9600, 7, Parity::None, StopBits::One),
                                                       B9600, CS7, CSIZE & ~CS7, false},
                                           MappingCase{make(9600, 8, Parity::None, StopBits::One),
                                                       B9600, CS8, 0, false}));

INSTANTIATE_TEST_SUITE_P(Parities, TermiosMappingTable,
                         ::testing::Values(MappingCase{make(9600, 8, Parity::None, StopBits::One),
                                                       B9600, 0, PARENB | PARODD | CMSPAR, false},
                                           MappingCase{make(9600, 8, Parity::Odd, StopBits::One),
                                                       B9600, PARENB | PARODD, CMSPAR, false},
                                           MappingCase{make(9600, 8, Parity::Even, StopBits::One),
                                                       B9600, PARENB, PARODD | CMSPAR, false},
                                           MappingCase{make(9600, 8, Parity::Mark, StopBits::One),
                                                       B9600, PARENB | PARODD | CMSPAR, 0, false},
                                           MappingCase{make(9600, 8, Parity::Space, StopBits::One),
                                                       B9600, PARENB | CMSPAR, PARODD, false}));

INSTANTIATE_TEST_SUITE_P(
    StopBitsAndFlow, TermiosMappingTable,
    ::testing::Values(
        MappingCase{make(9600, 8, Parity::None, StopBits::One), B9600, CRTSCTS, CSTOPB, false},
        MappingCase{make(9600, 8, Parity::None, StopBits::OneAndHalf), B9600, CSTOPB, 0, true},
        MappingCase{make(9600, 8, Parity::None, StopBits::Two), B9600, CSTOPB, 0, false},
        MappingCase{make(9600, 8, Parity::None, StopBits::One, false), B9600, 0, CRTSCTS, false}));

TEST(TermiosMapping, ValuesWithoutATermiosFormAreRefused) {
    EXPECT_FALSE(mapToTermios(make(12345, 8, Parity::None, StopBits::One)).has_value());
    EXPECT_FALSE(mapToTermios(make(9600, 9, Parity::None, StopBits::One)).has_value());
}

TEST(SerialLine, OpensAPseudoTerminalDespiteItsMissingModemLines) {
    PseudoTerminal pty;
    SerialLine line(pty.slavePath(), make(115200, 8, Parity::None, StopBits::One));
    termios t{};
    ASSERT_EQ(tcgetattr(line.fd(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO), 0u);
}

namespace {

SerialOpenStep failingStep(const std::string& path, const SerialLineSettings& s) {
    try {
        SerialLine line(path, s);
    } catch (const SerialOpenError& e) {
        return e.step();
    }
    ADD_FAILURE() << "open of " << path << " succeeded";
    return SerialOpenStep::Open;
}

}  // namespace

TEST(SerialLine, OpenFailuresNameTheirStep) {
    const auto s = make(9600, 8, Parity::None, StopBits::One);
    EXPECT_EQ(failingStep("/dev/does-not-exist-tty", s), SerialOpenStep::Open);
    EXPECT_EQ(failingStep("", s), SerialOpenStep::Open);
    EXPECT_EQ(failingStep("/dev/null", s), SerialOpenStep::ReadParameters);
    PseudoTerminal pty;
    // A pseudo-terminal cannot carry 7 data bits: the open must not pretend it took them.
    EXPECT_EQ(failingStep(pty.slavePath(), make(9600, 7, Parity::None, StopBits::One)),
              SerialOpenStep::SetParameters);
    EXPECT_EQ(failingStep(pty.slavePath(), make(9600, 8, Parity::Even, StopBits::One)),
              SerialOpenStep::SetParameters);
}

// The failure keeps its reason for whoever catches the errno family, and its text is the
// one the debug log has always had.
TEST(SerialLine, OpenFailuresKeepTheirReasonAndText) {
    try {
        SerialLine line("/dev/does-not-exist-tty", make(9600, 8, Parity::None, StopBits::One));
        FAIL() << "open succeeded";
    } catch (const std::system_error& e) {
        EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        EXPECT_STREQ(e.what(), "open /dev/does-not-exist-tty: No such file or directory");
    }
    PseudoTerminal pty;
    try {
        SerialLine line(pty.slavePath(), make(9600, 7, Parity::None, StopBits::One));
        FAIL() << "open succeeded";
    } catch (const SerialOpenError& e) {
        EXPECT_EQ(e.error(), 0);  // no call failed: the line did not take the settings
        EXPECT_EQ(std::string(e.what()), "the line did not take the settings: " + pty.slavePath());
    }
}

TEST(SerialLine, IsExclusiveWhileOpenAndFreeAfterwards) {
    PseudoTerminal pty;
    const auto s = make(9600, 8, Parity::None, StopBits::One);
    {
        SerialLine first(pty.slavePath(), s);
        EXPECT_EQ(failingStep(pty.slavePath(), s), SerialOpenStep::Open);
    }
    SerialLine again(pty.slavePath(), s);
    EXPECT_GE(again.fd(), 0);
}

namespace {

bool exclusive(const PseudoTerminal& pty) {
    int on = -1;
    EXPECT_EQ(::ioctl(pty.slave(), TIOCGEXCL, &on), 0);
    return on != 0;
}

bool lockable(const std::string& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    return fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) == 0;
}

std::string failureName(const ::testing::TestParamInfo<SerialLineSettings>& info) {
    const char* const names[] = {"SevenDataBits", "Parity", "NoSuchBaudRate"};
    return names[info.index];
}

}  // namespace

class SerialLineFailedOpen : public ::testing::TestWithParam<SerialLineSettings> {};

// Each of these fails after the terminal was locked and made exclusive. A process with
// CAP_SYS_ADMIN opens an exclusive terminal all the same, so the flag itself is checked
// as well as a second open.
TEST_P(SerialLineFailedOpen, LeavesTheTerminalFreeForTheNextOpen) {
    PseudoTerminal pty;
    EXPECT_EQ(failingStep(pty.slavePath(), GetParam()), SerialOpenStep::SetParameters);
    EXPECT_FALSE(exclusive(pty));
    EXPECT_TRUE(lockable(pty.slavePath()));
    SerialLine again(pty.slavePath(), make(9600, 8, Parity::None, StopBits::One));
    EXPECT_TRUE(exclusive(pty));
}

INSTANTIATE_TEST_SUITE_P(AfterTheExclusiveMode, SerialLineFailedOpen,
                         ::testing::Values(make(9600, 7, Parity::None, StopBits::One),
                                           make(9600, 8, Parity::Even, StopBits::One),
                                           make(12345, 8, Parity::None, StopBits::One)),
                         failureName);
