// The line settings of the label printer's serial port, as the settings file gives them
// after validation.
#pragma once

namespace tc::platform {

enum class Parity { None, Odd, Even, Mark, Space };
enum class StopBits { One, OneAndHalf, Two };

struct SerialLineSettings {
    // The values a port has before the settings file is applied.
    int port = 2;
    int baudRate = 115200;
    int dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool rtsCtsFlowControl = false;

    bool operator==(const SerialLineSettings&) const = default;
};

}  // namespace tc::platform
