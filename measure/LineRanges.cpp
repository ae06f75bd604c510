#include "measure/LineRanges.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tc::measure {

namespace {

std::string formatLine(const char* format, int index) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, format, index);
    return buffer;
}

std::string formatLine(const char* format, int index, std::uint16_t min, std::uint16_t max) {
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, format, index, unsigned(min), unsigned(max));
    return buffer;
}

// The controller's float step: round to a 32-bit float, truncate toward zero, keep the
// low 16 bits. Every caller's value is non-negative and below 2^32.
std::uint16_t floatToWord(long double x) {
    const float f = static_cast<float>(x);
    return static_cast<std::uint16_t>(static_cast<std::int64_t>(std::trunc(f)) & 0xFFFF);
}

std::uint8_t byteAt(std::span<const std::uint8_t> store, std::size_t offset) {
    return offset < store.size() ? store[offset] : 0;
}

std::uint16_t wordAt(std::span<const std::uint8_t> store, std::size_t offset) {
    return std::uint16_t(byteAt(store, offset) | (byteAt(store, offset + 1) << 8));
}

int boundToBlock(int count, const char* name, std::vector<std::string>& log) {
    if (count <= ValuesPerBlock) return count;
    log.push_back(std::string("---") + name + " " + std::to_string(count) +
                  " above the 28 lines a block carries : 28 used---");
    return ValuesPerBlock;
}

}  // namespace

std::string ResetRowText(int index) {
    return formatLine("Row %2d:0x0FFF-0x0000", index);
}

std::string ResetColumnText(int index) {
    return formatLine("Col %2d:0x0FFF-0x0000", index);
}

std::string RowRangeText(int index, std::uint16_t min, std::uint16_t max) {
    return formatLine("Rol %2d:0x%04X-0x%04X", index, min, max);
}

std::string ColumnRangeText(int index, std::uint16_t min, std::uint16_t max) {
    return formatLine("Col %2d:0x%04X-0x%04X", index, min, max);
}

int ClampLineCount(int count) {
    return std::clamp(count, 0, MaxLines);
}

LineTexts ResetLineRanges(LineRanges& ranges, int rowCount, int columnCount) {
    LineTexts texts;
    const int rows = ClampLineCount(rowCount);
    const int columns = ClampLineCount(columnCount);
    for (int i = 0; i < rows; ++i) {
        ranges.RowMin[i] = UnmeasuredMin;
        ranges.RowMax[i] = UnmeasuredMax;
        ranges.RowMinSeen[i] = ranges.RowMaxSeen[i] = false;
        texts.rows.push_back(ResetRowText(i));
    }
    for (int j = 0; j < columns; ++j) {
        ranges.ColMin[j] = UnmeasuredMin;
        ranges.ColMax[j] = UnmeasuredMax;
        ranges.ColMinSeen[j] = ranges.ColMaxSeen[j] = false;
        texts.columns.push_back(ResetColumnText(j));
    }
    return texts;
}

LineTexts LineRangeTexts(const LineRanges& ranges, int rowCount, int columnCount) {
    LineTexts texts;
    const int rows = ClampLineCount(rowCount);
    const int columns = ClampLineCount(columnCount);
    for (int i = 0; i < rows; ++i)
        texts.rows.push_back(RowRangeText(i, ranges.RowMin[i], ranges.RowMax[i]));
    for (int j = 0; j < columns; ++j) {
        texts.columns.push_back(ColumnRangeText(j, ranges.ColMin[j], ranges.ColMax[j]));
    }
    return texts;
}

std::uint16_t AdcFullScale(std::uint16_t reference) {
    const long double volts = (static_cast<long double>(reference) / 4096.0L) * 3.3L + 0.2L;
    const long double scale = volts * (1.0L / 3.3L) * 4096.0L;
    const auto value = static_cast<std::int64_t>(std::trunc(scale));
    return static_cast<std::uint16_t>(std::min<std::int64_t>(value, 0xFFFF));
}

int ScaleToExtent(std::uint16_t value, int extent, std::uint16_t fullScale) {
    if (fullScale == 0) return 0;
    return static_cast<int>(static_cast<std::int64_t>(extent) * value / fullScale);
}

std::uint16_t MaxFromGainCode(std::uint16_t min, std::uint16_t code, std::uint16_t reference) {
    const long double divisor = code >= 0x7FFF ? code : code + 65536.0L;
    const long double x = static_cast<long double>(reference) * 65536.0L / divisor + min;
    return floatToWord(x);
}

std::uint16_t GainCodeFromRange(std::uint16_t min, std::uint16_t max, std::uint16_t reference) {
    const int d = int(max) - int(min);
    if (d <= 0) return NarrowestGainCode;
    const long double r = reference;
    const long double span = d;
    const bool wide = r <= span;
    const long double x = wide ? (r / span) * 65536.0L : ((r - span) / span) * 65536.0L;
    const auto code = static_cast<std::int64_t>(std::trunc(static_cast<float>(x)));
    // A wide span is carried by the codes 0x7FFF..0xFFFF (and 0 for exactly R); below
    // 0x7FFF it would read back as a divisor above 65536. A narrow span is carried by
    // 0..0x7FFE; from 0x7FFF on it would read back as a divisor below 65536.
    if (wide && reference != 0 && code < WidestGainCode) return WidestGainCode;
    if (!wide && code >= WidestGainCode) return NarrowestGainCode;
    return static_cast<std::uint16_t>(code & 0xFFFF);
}

RawDecodeResult DecodeRawBlocks(std::span<const std::uint8_t> store, LineRanges& ranges) {
    RawDecodeResult out;
    out.RowCount = boundToBlock(byteAt(store, RowCountOffset), "Row Number", out.log);
    out.ColumnCount = boundToBlock(byteAt(store, ColumnCountOffset), "Column Number", out.log);
    ranges.AdcReference = wordAt(store, ReferenceOffset);
    out.AdcFullScale = AdcFullScale(ranges.AdcReference);
    ResetLineRanges(ranges, out.RowCount, out.ColumnCount);
    for (int i = 0; i < out.RowCount; ++i) {
        ranges.RowMin[i] = wordAt(store, RowMinOffset + 2 * std::size_t(i));
        ranges.RowGain[i] = wordAt(store, RowGainOffset + 2 * std::size_t(i));
        ranges.RowMax[i] =
            MaxFromGainCode(ranges.RowMin[i], ranges.RowGain[i], ranges.AdcReference);
        ranges.RowMinSeen[i] = ranges.RowMaxSeen[i] = true;
    }
    for (int j = 0; j < out.ColumnCount; ++j) {
        ranges.ColMin[j] = wordAt(store, ColMinOffset + 2 * std::size_t(j));
        ranges.ColGain[j] = wordAt(store, ColGainOffset + 2 * std::size_t(j));
        ranges.ColMax[j] =
            MaxFromGainCode(ranges.ColMin[j], ranges.ColGain[j], ranges.AdcReference);
        ranges.ColMinSeen[j] = ranges.ColMaxSeen[j] = true;
    }
    out.rangeTest = RunRangeTest(ranges, out.RowCount, out.ColumnCount);
    return out;
}

}  // namespace tc::measure
