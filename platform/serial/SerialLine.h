// A termios serial line: the device path rule for port numbers, the settings-to-termios
// mapping, and an exclusively opened, non-blocking descriptor with those settings.
#pragma once

#include <termios.h>

#include <optional>
#include <string>

#include "platform/UniqueFd.h"
#include "platform/WordedError.h"
#include "platform/serial/SerialSettings.h"

namespace tc::platform {

// Port n is the n-th serial port of the machine, the first being /dev/ttyS0, so port n
// opens /dev/ttyS<n-1>. Ports below 1 have no device ("" is returned). USB adapters
// (/dev/ttyUSB*, /dev/ttyACM*) and pseudo-terminals are named by their path instead.
std::string serialDevicePath(int port);

struct TermiosMapping {
    termios tio{};
    // A line for the log when a setting had to be mapped onto what termios offers;
    // empty otherwise.
    std::string note;
};

// The raw-mode termios for `s`: receiver on, no modem-control hang-up handling (CLOCAL),
// no input or output processing, no software flow control, reads that never wait.
// Termios has no 1.5 stop bits: they become 2 stop bits (a receiver set for 1.5 accepts
// the longer gap; on a classic UART with 5 data bits the same flag gives 1.5 anyway) and
// the note says so. Nothing when a value has no termios form (baud rate, data bits).
std::optional<TermiosMapping> mapToTermios(const SerialLineSettings& s);

// The log line for the 1.5 stop bits mapping.
inline constexpr const char* kOneAndHalfStopBitsNote =
    "---StopBits 1.5 : not available on this line, 2 stop bits used---";

// Why an open failed, by the step that failed.
enum class SerialOpenStep { Open, ReadParameters, SetParameters };

// what() names the call, the path and the reason ("open /dev/ttyS1: No such file or
// directory"); error() is the errno of the failed call, 0 for a mismatch.
class SerialOpenError : public WordedError {
public:
    SerialOpenError(SerialOpenStep step, int error, std::string what)
        : WordedError(error, std::move(what)), step_(step) {}
    SerialOpenStep step() const { return step_; }

private:
    SerialOpenStep step_;
};

// An open serial line. The descriptor is non-blocking and close-on-exec.
class SerialLine {
public:
    // Opens `path` for reading and writing, takes it for this process alone (flock and
    // TIOCEXCL), applies `settings` and raises DTR. Modem-control calls that the device
    // does not have (a pseudo-terminal) are skipped. Throws SerialOpenError.
    SerialLine(const std::string& path, const SerialLineSettings& settings);
    ~SerialLine();
    SerialLine(const SerialLine&) = delete;
    SerialLine& operator=(const SerialLine&) = delete;

    int fd() const { return fd_.get(); }
    const std::string& note() const { return note_; }

    // Discards what the driver holds on the way in or out.
    void flushInput();
    void flushOutput();

private:
    UniqueFd fd_;
    std::string note_;
};

}  // namespace tc::platform
