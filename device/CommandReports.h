// The reports the program sends to the controller and the layout of the ones it gets.
#pragma once

#include <array>
#include <cstdint>

namespace tc::device {

// Commands carried in byte 1 of feature report 6.
enum class Command : std::uint8_t {
    NormalMode = 0x80,
    RawCoordinates = 0x82,
    TestMode = 0x84,
    TableEntry = 0x86,
    TableCommit = 0x88,
    ReadBlock = 0x8A,
};

inline constexpr std::uint8_t FeatureReportId = 0x06;
inline constexpr std::size_t CommandReportLength = 9;  // both reports, report ID included
using CommandReport = std::array<std::uint8_t, CommandReportLength>;

// 06, command, argument, six zero bytes.
CommandReport featureReport(Command command, std::uint8_t argument);
// 06 86 axis index min-lo min-hi gain-lo gain-hi 00; axis 1 = row line, 0 = column line.
enum class Axis : std::uint8_t { Column = 0, Row = 1 };
CommandReport tableEntryReport(Axis axis, std::uint8_t index, std::uint16_t lineMin,
                               std::uint16_t gainCode);
// The data interface's output report: report ID 0, mode byte 0 (normal reporting).
CommandReport outputReport();

// The first data byte of every input report (ReportFlagByte).
inline constexpr std::uint8_t FlagEpromPresent = 0x20;
inline constexpr std::uint8_t FlagChecksumFailed = 0x10;
inline constexpr std::uint8_t KindMask = 0x0F;
enum class ReportKind : std::uint8_t { TestSample = 2, RomResult = 4, RawBlock = 5 };

inline constexpr std::size_t RawBlockNumberByte = 4;  // in a kind-5 report's data bytes

}  // namespace tc::device
