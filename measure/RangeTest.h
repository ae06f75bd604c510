// The judgement of every line in use: open or shorted (a minimum or maximum was never
// obtained) and out of range (minimum above R/4, maximum below 3R/4 of the controller's
// reference). The verdict lines are also what the station reads back, word for word.
#pragma once

#include <string>
#include <vector>

#include "ui/Controls.h"

namespace tc::measure {

struct LineRanges;

// 0 all lines good, 2 range faults only, 3 an open or shorted line. Never 1.
using RangeTestResult = int;
inline constexpr RangeTestResult RangeTestPassed = 0;
inline constexpr RangeTestResult RangeTestOutOfRange = 2;
inline constexpr RangeTestResult RangeTestOpenShort = 3;

// What a run leaves in the two memos. Memo5 is always shown by a run; Memo6's visibility
// is not the test's business.
struct RangeTestOutcome {
    RangeTestResult result = RangeTestPassed;
    std::vector<std::string> memo5Lines;  // open/short verdict
    std::vector<std::string> memo6Lines;  // range verdict
    ui::Color memo5Color = ui::colors::Black;
    ui::Color memo6Color = ui::colors::Black;
    bool memo5Visible = true;
};

// Counts outside 0..30 are cut to that range. Reads `ranges` only.
RangeTestOutcome RunRangeTest(const LineRanges& ranges, int rowCount, int columnCount);

}  // namespace tc::measure
