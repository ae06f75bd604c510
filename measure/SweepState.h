// The per-line extremes that the edge sweep lowers and raises, seen as plain arrays, so
// that the sweep works on whichever record owns them.
#pragma once

#include <cstdint>
#include <span>

#include "measure/LineRanges.h"

namespace tc::measure {

// Views onto the minima, maxima and seen-flags of the row and column lines (index = line - 1).
// The sweep never writes past a span's size.
struct SweepExtremes {
    std::span<std::uint16_t> RowMin, RowMax, ColMin, ColMax;
    std::span<bool> RowMinSeen, RowMaxSeen, ColMinSeen, ColMaxSeen;
};

// The extremes of a line record.
inline SweepExtremes extremesOf(LineRanges& r) {
    return {r.RowMin,     r.RowMax,     r.ColMin,     r.ColMax,
            r.RowMinSeen, r.RowMaxSeen, r.ColMinSeen, r.ColMaxSeen};
}

// The numbers of row and column lines in use.
struct LineCounts {
    int rows = 0;
    int columns = 0;
};

}  // namespace tc::measure
