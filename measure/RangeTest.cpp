#include "measure/RangeTest.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "measure/LineRanges.h"

namespace tc::measure {

namespace {

struct Run {
    RangeTestOutcome& out;
    std::uint32_t minLimit;
    std::uint32_t maxLimit;
    bool openShortFound = false;
    bool rangeFaultFound = false;

    void openShort(const std::string& text) {
        if (!openShortFound) {
            openShortFound = true;
            // Every first fault turns the verdict red, whichever kind of line it is on.
            out.memo5Lines.clear();
            out.memo5Color = ui::colors::Red;
            out.memo5Lines.push_back("NG");
        }
        out.memo5Lines.push_back(text);
    }

    void rangeFault(const std::string& text) {
        if (!rangeFaultFound) {
            rangeFaultFound = true;
            out.memo6Lines.clear();
            out.memo6Color = ui::colors::Red;
            out.memo6Lines.push_back("NG");
        }
        out.memo6Lines.push_back(text);
    }

    void line(const std::string& prefix, int index, std::uint16_t min, std::uint16_t max,
              bool minSeen, bool maxSeen) {
        const std::string name = prefix + std::to_string(index);
        if (!minSeen && !maxSeen) {
            openShort(name + " Short");
        } else if (minSeen != maxSeen) {
            openShort(name + " Open");
        }
        // The range checks run whatever the open/short state, so a line may be in both.
        if (min > minLimit) rangeFault(name + " Min Error");
        if (max < maxLimit) rangeFault(name + " Max Error");
    }
};

}  // namespace

RangeTestOutcome RunRangeTest(const LineRanges& ranges, int rowCount, int columnCount) {
    RangeTestOutcome out;
    out.memo5Visible = true;
    out.memo5Lines = {"No Open Short"};
    out.memo6Lines = {"No Out of Range"};
    const std::uint32_t r = ranges.AdcReference;
    Run run{out, r / 4, (3 * r) / 4};
    const int rows = ClampLineCount(rowCount);
    const int columns = ClampLineCount(columnCount);
    for (int i = 0; i < rows; ++i) {
        run.line("Row ", i, ranges.RowMin[i], ranges.RowMax[i], ranges.RowMinSeen[i],
                 ranges.RowMaxSeen[i]);
    }
    for (int j = 0; j < columns; ++j) {
        run.line("Col ", j, ranges.ColMin[j], ranges.ColMax[j], ranges.ColMinSeen[j],
                 ranges.ColMaxSeen[j]);
    }
    out.result = run.openShortFound    ? RangeTestOpenShort
                 : run.rangeFaultFound ? RangeTestOutOfRange
                                       : RangeTestPassed;
    return out;
}

}  // namespace tc::measure
