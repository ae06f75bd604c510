#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measure/LineRanges.h"
#include "measure/RangeTest.h"

using namespace tc::measure;
using Lines = std::vector<std::string>;
namespace colors = tc::ui::colors;

namespace {

// Every line in use good: both flags, minimum 100, maximum 2900.
LineRanges goodRanges(int rows, int columns, std::uint16_t reference = 3000) {
    LineRanges r;
    r.AdcReference = reference;
    for (int i = 0; i < rows; ++i) {
        r.RowMin[i] = 100;
        r.RowMax[i] = 2900;
        r.RowMinSeen[i] = r.RowMaxSeen[i] = true;
    }
    for (int j = 0; j < columns; ++j) {
        r.ColMin[j] = 100;
        r.ColMax[j] = 2900;
        r.ColMinSeen[j] = r.ColMaxSeen[j] = true;
    }
    return r;
}

TEST(RangeTest, AllGoodIsBlackAndZero) {
    const RangeTestOutcome out = RunRangeTest(goodRanges(16, 12), 16, 12);
    EXPECT_EQ(out.result, RangeTestPassed);
    EXPECT_EQ(out.memo5Lines, Lines{"No Open Short"});
    EXPECT_EQ(out.memo6Lines, Lines{"No Out of Range"});
    EXPECT_EQ(out.memo5Color, colors::Black);
    EXPECT_EQ(out.memo6Color, colors::Black);
    EXPECT_TRUE(out.memo5Visible);
}

TEST(RangeTest, ThreeRowsTwoColumnsExample) {
    LineRanges r = goodRanges(3, 2);
    r.RowMinSeen[1] = false;
    r.RowMin[1] = 0x0FFF;
    r.ColMin[1] = 800;
    r.ColMax[1] = 2100;
    const RangeTestOutcome out = RunRangeTest(r, 3, 2);
    EXPECT_EQ(out.memo5Lines, (Lines{"NG", "Row 1 Open"}));
    EXPECT_EQ(out.memo6Lines,
              (Lines{"NG", "Row 1 Min Error", "Col 1 Min Error", "Col 1 Max Error"}));
    EXPECT_EQ(out.memo5Color, colors::Red);
    EXPECT_EQ(out.memo6Color, colors::Red);
    EXPECT_EQ(out.result, RangeTestOpenShort);
}

TEST(RangeTest, ThresholdsTruncate) {
    struct Case {
        std::uint16_t reference, min, max;
        int result;
    };
    const Case cases[] = {
        {3000, 750, 2250, RangeTestPassed},
        {3000, 751, 2250, RangeTestOutOfRange},
        {3000, 750, 2249, RangeTestOutOfRange},
        {3001, 750, 2250, RangeTestPassed},
        {3, 0, 2, RangeTestPassed},
        {3, 1, 2, RangeTestOutOfRange},
        {0, 0, 0, RangeTestPassed},
        {0, 1, 0, RangeTestOutOfRange},
    };
    for (const auto& c : cases) {
        LineRanges r = goodRanges(1, 0, c.reference);
        r.RowMin[0] = c.min;
        r.RowMax[0] = c.max;
        EXPECT_EQ(RunRangeTest(r, 1, 0).result, c.result)
            << c.reference << " " << c.min << " " << c.max;
    }
}

TEST(RangeTest, AfterAResetEveryLineIsShortAndOutOfRange) {
    LineRanges r;
    r.AdcReference = 3000;
    ResetLineRanges(r, 2, 1);
    const RangeTestOutcome out = RunRangeTest(r, 2, 1);
    EXPECT_EQ(out.memo5Lines, (Lines{"NG", "Row 0 Short", "Row 1 Short", "Col 0 Short"}));
    EXPECT_EQ(out.memo6Lines, (Lines{"NG", "Row 0 Min Error", "Row 0 Max Error", "Row 1 Min Error",
                                     "Row 1 Max Error", "Col 0 Min Error", "Col 0 Max Error"}));
    EXPECT_EQ(out.result, RangeTestOpenShort);
}

TEST(RangeTest, EveryFirstOpenShortTurnsRed) {
    struct Case {
        bool minSeen, maxSeen;
        std::string text;
    };
    const Case cases[] = {
        {false, true, "Col 11 Open"},
        {true, false, "Col 11 Open"},
        {false, false, "Col 11 Short"},
    };
    for (const auto& c : cases) {
        LineRanges r = goodRanges(0, 12);
        r.ColMinSeen[11] = c.minSeen;
        r.ColMaxSeen[11] = c.maxSeen;
        const RangeTestOutcome out = RunRangeTest(r, 0, 12);
        EXPECT_EQ(out.memo5Lines, (Lines{"NG", c.text}));
        EXPECT_EQ(out.memo5Color, colors::Red) << c.text;
        EXPECT_EQ(out.memo6Lines, Lines{"No Out of Range"});
        EXPECT_EQ(out.result, RangeTestOpenShort);
    }
}

TEST(RangeTest, CountsBoundWhatIsChecked) {
    LineRanges r = goodRanges(30, 30);
    r.RowMinSeen.fill(false);  // rows are not in use below
    EXPECT_EQ(RunRangeTest(r, 0, 30).result, RangeTestPassed);
    // Counts beyond the record check the 30 lines it has.
    r = goodRanges(30, 30);
    EXPECT_EQ(RunRangeTest(r, 45, 31).result, RangeTestPassed);
    EXPECT_EQ(RunRangeTest(r, -3, -1).memo5Lines, Lines{"No Open Short"});
}

}  // namespace
