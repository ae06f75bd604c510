// The per-line extremes that the edge sweep lowers and raises, seen as plain arrays, so
// that the sweep works on whichever record owns them.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace tc::measure {

// Lines per axis that the controller's table can hold.
inline constexpr int kMaxLines = 30;

// Not-yet-measured markers: a minimum still at this value, a maximum still at 0.
inline constexpr std::uint16_t kUnmeasuredMin = 0x0FFF;

// Views onto the minima, maxima and seen-flags of the row and column lines (index = line - 1).
// The sweep never writes past a span's size.
struct SweepExtremes {
    std::span<std::uint16_t> RowMin, RowMax, ColMin, ColMax;
    std::span<bool> RowMinSeen, RowMaxSeen, ColMinSeen, ColMaxSeen;
};

// An owning record of those arrays at their reset values, for callers (and tests) that have
// no record of their own yet.
struct SweepRanges {
    std::array<std::uint16_t, kMaxLines> RowMin{}, RowMax{}, ColMin{}, ColMax{};
    std::array<bool, kMaxLines> RowMinSeen{}, RowMaxSeen{}, ColMinSeen{}, ColMaxSeen{};

    SweepRanges() { reset(); }
    void reset() {
        RowMin.fill(kUnmeasuredMin);
        ColMin.fill(kUnmeasuredMin);
        RowMax.fill(0);
        ColMax.fill(0);
        RowMinSeen.fill(false);
        RowMaxSeen.fill(false);
        ColMinSeen.fill(false);
        ColMaxSeen.fill(false);
    }
    SweepExtremes view() {
        return {RowMin, RowMax, ColMin, ColMax, RowMinSeen, RowMaxSeen, ColMinSeen, ColMaxSeen};
    }
};

// The numbers of row and column lines in use.
struct LineCounts {
    int rows = 0;
    int columns = 0;
};

}  // namespace tc::measure
