// Turns the controller's live test samples, taken while a pen strokes the panel's edges,
// into per-line extremes: lowering and raising minima and maxima, averaging runs on inner
// lines and collecting samples near the corners for the first and last lines.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>

#include "measure/SweepState.h"

namespace tc::measure {

// Fixed stores, so that nothing is allocated per sample.
inline constexpr int kSweepStoreSize = 1000;

// One test sample: the 1-based row line p and column line q under the touch (0 = none) and
// the two ADC values.
struct TestSample {
    int p = 0;
    int q = 0;
    std::uint16_t X = 0;
    std::uint16_t Y = 0;
};

// Reads a sample out of a test-data report copied from its flag byte on (p at byte 2, q at
// 3, X at 4-5, Y at 6-7, little-endian). Nothing when the report is too short to hold one.
// Whether the report carries a sample at all (its marker byte) is the report handler's call.
std::optional<TestSample> decodeTestSample(std::span<const std::uint8_t> report);

// The samples of the current run of consecutive samples on one line.
struct EdgeRun {
    int Line = 0;   // 1-based line of the current run, 0 = no run yet
    int Count = 0;  // samples stored, 0..kSweepStoreSize
    std::array<std::int32_t, kSweepStoreSize> Samples{};
};

struct CornerPair {
    std::int32_t X = 0;
    std::int32_t Y = 0;
};

// The (X, Y) values of samples taken on the first or last row line near one corner.
struct CornerSamples {
    int Count = 0;  // pairs stored, 0..kSweepStoreSize
    std::array<CornerPair, kSweepStoreSize> Pairs{};
};

// The trimmed average of the first `count` values: all of them below four, otherwise the
// values count/4 through 3*count/4 (both included); truncated; 0 for no values.
std::uint16_t trimmedAverage(std::span<const std::int32_t> samples, int count);

// (a, b): X averaged over the pairs whose Y lies in the inner half of the Y spread, and Y
// over the pairs whose X lies in the inner half of the X spread. A pair that jumps by 150 or
// more from its successor is discarded first and left as (0, 0) in the list, so that a slip
// of the pen does not pull the corner. An empty list gives (0, 0).
std::pair<std::int32_t, std::int32_t> AverageCornerSamples(CornerSamples& list);

class EdgeSweep {
public:
    EdgeRun RowMinRun, RowMaxRun, ColMinRun, ColMaxRun;
    CornerSamples Corner11;  // first row line, first columns
    CornerSamples CornerN1;  // last row line, first columns
    CornerSamples CornerNM;  // last row line, last columns
    CornerSamples Corner1M;  // first row line, last columns

    // How many lines at each end of the other axis count as an edge: EdgeWidthY counts
    // columns for the row lines, EdgeWidthX counts rows for the column lines.
    int EdgeWidthX = 1;
    int EdgeWidthY = 1;

    // A minimum or maximum was touched since the owner last redrew and cleared it.
    bool RedrawPending = false;

    // Clear and Read: every run and list empty, every stored value 0.
    void clearTrackers();
    // Default: the runs start over on their next sample; what they hold stays.
    void resetRunLines();

    // One sample: runs the row-minimum, row-maximum, column-minimum and column-maximum
    // sides in that order. Returns whether any extreme was touched (RedrawPending is set
    // as well). A sample whose p or q is 0, above the line counts or beyond the arrays is
    // dropped whole: its lines do not exist on this panel, and letting the sides that would
    // not index it run anyway would feed runs and corners with a sample from nowhere.
    // Whether a sample is pending at all, the redraw and the line texts stay with the idle
    // handler that calls this.
    bool ProcessTestSample(const TestSample& sample, LineCounts counts, SweepExtremes ranges);

    // Replaces the first and last lines' values from the four corner lists (in the order
    // Corner11, CornerN1, CornerNM, Corner1M, later ones winning): each average goes to the
    // line's maximum when above adcReference / 2, else to its minimum. Seen-flags stay as
    // they are. Lines outside the counts or the arrays (no lines in use) are left alone.
    void RefineCornerLines(std::uint16_t adcReference, LineCounts counts, SweepExtremes ranges);
};

}  // namespace tc::measure
