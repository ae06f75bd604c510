// The calibration table as the controller takes it, and what its answer to the commit
// means for the station.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "device/CommandReports.h"
#include "device/ControllerLink.h"
#include "measure/LineRanges.h"
#include "station/StationProtocol.h"

namespace tc::station {

// Computes every line's gain code from its range into `ranges` (rows first), and returns
// one table entry per row line, then one per column line, in ascending order. The counts
// are cut to the record's 30 lines.
std::vector<device::CommandReport> BuildRomTable(measure::LineRanges& ranges, int rowCount,
                                                 int columnCount);

// The reply to a taken result: a failed checksum is "ROM_NG" with ErrorRomChecksum; no
// EEPROM "ROM_NG" with ErrorNoRom; otherwise the table is stored, "ROM_OK".
struct RomResultOutcome {
    bool stored = false;
    std::string_view reply;
    std::optional<ErrorCode> errorCode;
};
RomResultOutcome evaluateRomResult(const device::RomWriteResult& result);

// The line logged for every result taken, whatever it says.
inline constexpr std::string_view LogUpdateSuccess = "Update success!";

}  // namespace tc::station
