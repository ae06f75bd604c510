#include "station/RomWrite.h"

namespace tc::station {

std::vector<device::CommandReport> BuildRomTable(measure::LineRanges& r, int rowCount,
                                                 int columnCount) {
    const int rows = measure::ClampLineCount(rowCount);
    const int columns = measure::ClampLineCount(columnCount);
    for (std::size_t i = 0; i < std::size_t(rows); ++i)
        r.RowGain[i] = measure::GainCodeFromRange(r.RowMin[i], r.RowMax[i], r.AdcReference);
    for (std::size_t j = 0; j < std::size_t(columns); ++j)
        r.ColGain[j] = measure::GainCodeFromRange(r.ColMin[j], r.ColMax[j], r.AdcReference);
    std::vector<device::CommandReport> table;
    table.reserve(std::size_t(rows + columns));
    for (std::size_t i = 0; i < std::size_t(rows); ++i)
        table.push_back(device::tableEntryReport(device::Axis::Row, std::uint8_t(i), r.RowMin[i],
                                                 r.RowGain[i]));
    for (std::size_t j = 0; j < std::size_t(columns); ++j)
        table.push_back(device::tableEntryReport(device::Axis::Column, std::uint8_t(j), r.ColMin[j],
                                                 r.ColGain[j]));
    return table;
}

RomResultOutcome evaluateRomResult(const device::RomWriteResult& result) {
    if (result.checksumFailed()) return {false, ReplyRomNg, ErrorRomChecksum};
    if (result.epromPresent()) return {true, ReplyRomOk, std::nullopt};
    return {false, ReplyRomNg, ErrorNoRom};
}

}  // namespace tc::station
