// The per-line record of the panel's ADC ranges, the controller's gain code that stands
// for a line's maximum, and the decode of the four raw blocks the controller sends back.
// Plain data and plain functions: the window applies the results to its controls.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "measure/RangeTest.h"

namespace tc::measure {

// The record and the line texts hold 30 lines each way.
inline constexpr int MaxLines = 30;
// A raw block carries a 7-byte head and at most 28 values (block bytes 7..62).
inline constexpr int ValuesPerBlock = 28;
inline constexpr std::size_t RawSlotSize = 64;
inline constexpr std::size_t RawSlotCount = 4;
inline constexpr std::size_t RawStoreSize = RawSlotSize * RawSlotCount;

// Markers of a value not measured yet.
inline constexpr std::uint16_t UnmeasuredMin = 0x0FFF;
inline constexpr std::uint16_t UnmeasuredMax = 0;

// Store offsets (into all four slots) of the raw format; 16-bit values are little-endian.
inline constexpr std::size_t RowCountOffset = 2;
inline constexpr std::size_t ColumnCountOffset = 3;
inline constexpr std::size_t ReferenceOffset = 5;
inline constexpr std::size_t RowMinOffset = 7;     // block 0
inline constexpr std::size_t RowGainOffset = 71;   // block 1
inline constexpr std::size_t ColMinOffset = 135;   // block 2
inline constexpr std::size_t ColGainOffset = 199;  // block 3

inline constexpr std::uint16_t InitialAdcFullScale = 4096;

// Index = line - 1. The gains are the controller's codes, kept until the next read or
// ROM write computes new ones; the seen flags say whether a value was obtained at all.
struct LineRanges {
    std::array<std::uint16_t, MaxLines> RowMin{};
    std::array<std::uint16_t, MaxLines> RowMax{};
    std::array<std::uint16_t, MaxLines> RowGain{};
    std::array<std::uint16_t, MaxLines> ColMin{};
    std::array<std::uint16_t, MaxLines> ColMax{};
    std::array<std::uint16_t, MaxLines> ColGain{};
    std::array<bool, MaxLines> RowMinSeen{};
    std::array<bool, MaxLines> RowMaxSeen{};
    std::array<bool, MaxLines> ColMinSeen{};
    std::array<bool, MaxLines> ColMaxSeen{};
    // 0 until the first raw read; kept by a reset.
    std::uint16_t AdcReference = 0;
};

// The line box texts. The row values form reads "Rol", as the station and the saved
// files have always seen it.
std::string ResetRowText(int index);     // "Row %2d:0x0FFF-0x0000"
std::string ResetColumnText(int index);  // "Col %2d:0x0FFF-0x0000"
std::string RowRangeText(int index, std::uint16_t min, std::uint16_t max);     // "Rol ..."
std::string ColumnRangeText(int index, std::uint16_t min, std::uint16_t max);  // "Col ..."

struct LineTexts {
    std::vector<std::string> rows;     // one per row line in use, index order
    std::vector<std::string> columns;  // one per column line in use
};

// Counts outside 0..30 are cut to that range: the record has no lines beyond it.
int ClampLineCount(int count);

// Minima to the marker 0x0FFF, maxima to 0, flags false for the lines in use; the gains,
// the reference and the lines beyond the counts keep their values. Returns the reset
// texts of the lines in use.
LineTexts ResetLineRanges(LineRanges& ranges, int rowCount, int columnCount);

// The values form of every line in use.
LineTexts LineRangeTexts(const LineRanges& ranges, int rowCount, int columnCount);

// The ADC value drawn at the full width or height of the picture: the reference plus the
// 0.2 V head-room of the 3.3 V converter. Above a reference of 65287 the sum no longer
// fits 16 bits; it is held at 65535 instead of wrapping, so a decode never yields a
// scale of 0 (or a scale far below the reference).
std::uint16_t AdcFullScale(std::uint16_t reference);

// extent * value / fullScale, truncated. A full scale of 0 (an operator's "0") has no
// meaning as a divisor: every value is placed at 0 instead of dividing by it.
int ScaleToExtent(std::uint16_t value, int extent, std::uint16_t fullScale);

// The maximum a stored gain code stands for: min + R*65536/D with D = code for
// code >= 0x7FFF, else code + 65536; rounded to a float, truncated, low 16 bits.
std::uint16_t MaxFromGainCode(std::uint16_t min, std::uint16_t code, std::uint16_t reference);

// The gain code for a measured range, the inverse of MaxFromGainCode:
//   d = max - min; R <= d: x = R/d * 65536, else x = (R-d)/d * 65536; float, truncated.
// The code can carry spans from R*65536/98302 (code 0x7FFE) up to R*65536/32767
// (code 0x7FFF) only. Outside that band the plain formula wraps into a code that reads
// back as a quite different maximum, so the code is held at the nearest end instead:
// 0x7FFE for a narrower span (and for max <= min, which has no span at all), 0x7FFF for
// a wider one. With R = 0 every code reads back as the minimum; the formula gives 0.
std::uint16_t GainCodeFromRange(std::uint16_t min, std::uint16_t max, std::uint16_t reference);

inline constexpr std::uint16_t NarrowestGainCode = 0x7FFE;
inline constexpr std::uint16_t WidestGainCode = 0x7FFF;

struct RawDecodeResult {
    int RowCount = 0;
    int ColumnCount = 0;
    std::uint16_t AdcFullScale = InitialAdcFullScale;
    RangeTestOutcome rangeTest;    // the first judgement of the table just read
    std::vector<std::string> log;  // lines for Memo1, e.g. a count that had to be cut
};

// Decodes the raw block store (four 64-byte slots; bytes beyond a shorter span read as
// 0) into `ranges`: reference, reset, then per line in use the stored minimum and gain
// code, the maximum they stand for and both flags set. A count above 28 would read past
// its block into the next block's head (and past the store for the columns' gains), so it
// is cut to 28 and the cut is logged.
RawDecodeResult DecodeRawBlocks(std::span<const std::uint8_t> store, LineRanges& ranges);

}  // namespace tc::measure
