// Which HID interfaces belong to the touch controller. The values are this build's; see
// docs/hid.md for where they come from and packaging/udev for the matching access rules.
#pragma once

#include <array>
#include <cstdint>

namespace tc::device {

struct IdPair {
    std::uint16_t vendorId;
    std::uint16_t productId;
};

// The first pair of both tables stands for the whole product family: any product whose
// high byte equals its product's high byte (the low byte of the family pair is zero).
inline constexpr IdPair ControllerFamily{0x1B2F, 0x4100};

// The data interface: input reports of 63 data bytes (64 with the report ID byte) and
// the 9-byte output report.
inline constexpr std::array<IdPair, 4> DataInterfaceIds{{
    ControllerFamily,
    {0x1B2F, 0x4121},
    {0x1B2F, 0x4131},
    {0x0A2D, 0x0F20},
}};
inline constexpr std::uint16_t DataInputReportLength = 64;

// The command interface: a touch screen in the digitizer page taking feature report 6.
// Pairs 2, 3 and 5 are the data table's pairs 2 to 4; pair 4 is found only here.
inline constexpr std::array<IdPair, 5> FeatureInterfaceIds{{
    ControllerFamily,
    {0x1B2F, 0x4121},
    {0x1B2F, 0x4131},
    {0x1B2F, 0x5001},
    {0x0A2D, 0x0F20},
}};
inline constexpr std::uint16_t CommandUsagePage = 0x0D;  // digitizer
inline constexpr std::uint16_t CommandUsage = 0x04;      // touch screen

constexpr bool inFamily(std::uint16_t vendorId, std::uint16_t productId) {
    return vendorId == ControllerFamily.vendorId &&
           (productId & 0xFF00) == ControllerFamily.productId;
}

}  // namespace tc::device
