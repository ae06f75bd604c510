// Which HID interfaces belong to the touch controller. The built-in values are this build's;
// a controller file (docs/hid.md) replaces them at start, so another controller needs no
// rebuild. packaging/udev holds the access rule for the built-in tables.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tc::device {

struct IdPair {
    std::uint16_t vendorId;
    std::uint16_t productId;
    friend constexpr bool operator==(const IdPair&, const IdPair&) = default;
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

// Both tables and the family pair as one value.
struct ControllerIds {
    std::optional<IdPair> family;  // the first pair of both tables; nothing: no family rule
    std::vector<IdPair> data;      // the data table's further pairs, in table order
    std::vector<IdPair> command;   // the command table's further pairs, in table order

    bool inFamily(std::uint16_t vendorId, std::uint16_t productId) const;
    // One of the table's pairs exactly (the family pair counts as the first of both).
    bool inDataTable(std::uint16_t vendorId, std::uint16_t productId) const;
    bool inCommandTable(std::uint16_t vendorId, std::uint16_t productId) const;
    friend bool operator==(const ControllerIds&, const ControllerIds&) = default;
};

// The tables above.
const ControllerIds& builtInControllerIds();
// The tables in force: the built-in ones until setControllerIds. Set once at start, before
// any interface is looked at; read on the main thread.
const ControllerIds& controllerIds();
void setControllerIds(ControllerIds ids);

// A controller file that cannot be read or understood; what() names the file and, for a
// broken line, its number.
class ControllerIdsError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A controller file's text: "KIND VVVV:PPPP" a line, KIND "family" (at most once, product
// ending in 00), "data" or "command"; "#" starts a comment, blank lines are skipped.
// `fileName` is only for the messages. Throws ControllerIdsError.
ControllerIds parseControllerIds(std::string_view text, const std::string& fileName);
ControllerIds loadControllerIds(const std::filesystem::path& file);

// The udev rule that gives the operator at the seat and the group "touchcal" access to the
// hidraw nodes of every interface the tables accept.
std::string udevRule(const ControllerIds& ids);

}  // namespace tc::device
