#include "measure/EdgeSweep.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace tc::measure {
namespace {

constexpr LineCounts kPanel{16, 12};

// Every line of the record unmeasured.
LineRanges unmeasured() {
    LineRanges r;
    ResetLineRanges(r, MaxLines, MaxLines);
    return r;
}

// The trackers are 48 KB; keep them off the test's stack.
struct Sweep {
    std::unique_ptr<EdgeSweep> sweep = std::make_unique<EdgeSweep>();
    LineRanges ranges = unmeasured();
    bool feed(int p, int q, std::uint16_t x, std::uint16_t y, LineCounts counts = kPanel) {
        return sweep->ProcessTestSample({p, q, x, y}, counts, extremesOf(ranges));
    }
};

TEST(EdgeSweep, DecodesTheSampleBytes) {
    const std::vector<std::uint8_t> report{0x02, 0x01, 5, 12, 0x34, 0x12, 0x84, 0x03};
    const auto s = decodeTestSample(report);
    ASSERT_TRUE(s);
    EXPECT_EQ(s->p, 5);
    EXPECT_EQ(s->q, 12);
    EXPECT_EQ(s->X, 0x1234);
    EXPECT_EQ(s->Y, 900);
    EXPECT_FALSE(decodeTestSample(std::span(report).first(7)));
}

TEST(EdgeSweep, EdgeSamplesLowerAndRaiseTheirLine) {
    Sweep s;
    EXPECT_TRUE(s.feed(5, 12, 0, 900));  // last column: row minimum
    EXPECT_EQ(s.ranges.RowMin[4], 900);
    EXPECT_TRUE(s.ranges.RowMinSeen[4]);
    EXPECT_TRUE(s.sweep->RedrawPending);
    s.feed(5, 12, 0, 950);  // higher: the minimum stays
    EXPECT_EQ(s.ranges.RowMin[4], 900);
    s.feed(5, 1, 0, 3100);  // first column: row maximum
    EXPECT_EQ(s.ranges.RowMax[4], 3100);
    EXPECT_TRUE(s.ranges.RowMaxSeen[4]);
    s.feed(16, 7, 800, 0);  // last row: column minimum
    s.feed(1, 7, 3200, 0);  // first row: column maximum
    EXPECT_EQ(s.ranges.ColMin[6], 800);
    EXPECT_EQ(s.ranges.ColMax[6], 3200);
    EXPECT_FALSE(s.ranges.RowMinSeen[15]);  // Y = 0 left the rows alone
    EXPECT_FALSE(s.ranges.RowMaxSeen[0]);
}

TEST(EdgeSweep, ZeroValuesAndInnerSamplesTouchNothing) {
    struct Case {
        int p, q;
        std::uint16_t x, y;
    };
    for (const Case c : {Case{5, 12, 0, 0}, Case{1, 1, 0, 0}, Case{8, 6, 2000, 2000}}) {
        Sweep s;
        EXPECT_FALSE(s.feed(c.p, c.q, c.x, c.y)) << c.p << "," << c.q;
        EXPECT_FALSE(s.sweep->RedrawPending);
        EXPECT_EQ(s.sweep->RowMinRun.Line, 0);
        EXPECT_EQ(s.sweep->Corner11.Count, 0);
    }
}

TEST(EdgeSweep, SamplesOutsideThePanelAreDropped) {
    struct Case {
        int p, q;
        LineCounts counts;
    };
    for (const Case c : {Case{0, 12, kPanel}, Case{5, 0, kPanel}, Case{17, 12, kPanel},
                         Case{5, 13, kPanel}, Case{31, 31, {40, 40}}, Case{1, 1, {0, 0}}}) {
        Sweep s;
        EXPECT_FALSE(s.feed(c.p, c.q, 3000, 900, c.counts)) << c.p << "," << c.q;
        EXPECT_FALSE(s.sweep->RedrawPending);
        EXPECT_EQ(s.sweep->RowMaxRun.Line, 0);
        EXPECT_EQ(s.sweep->ColMaxRun.Line, 0);
        EXPECT_EQ(s.sweep->Corner11.Count + s.sweep->Corner1M.Count, 0);
        EXPECT_EQ(s.ranges.RowMin, unmeasured().RowMin);
        EXPECT_EQ(s.ranges.ColMax, unmeasured().ColMax);
    }
}

TEST(EdgeSweep, ALineChangeStoresTheRunsTrimmedAverage) {
    struct Case {
        std::vector<std::uint16_t> values;  // on row 5, the first only opens the run
        std::uint16_t expected;
    };
    for (const Case& c : {Case{{900, 910, 920, 930, 940, 950, 960, 970}, 940},
                          Case{{880, 900}, 900}, Case{{880, 900, 1000, 1100}, 1000}}) {
        Sweep s;
        for (auto v : c.values) s.feed(5, 12, 0, v);
        EXPECT_EQ(s.sweep->RowMinRun.Count, static_cast<int>(c.values.size()) - 1);
        s.feed(6, 12, 0, 2000);
        EXPECT_EQ(s.ranges.RowMin[4], c.expected);
        EXPECT_EQ(s.sweep->RowMinRun.Line, 6);
        EXPECT_EQ(s.sweep->RowMinRun.Count, 0);
        EXPECT_EQ(s.ranges.RowMin[5], 2000);
    }
}

TEST(EdgeSweep, TrimmedAverageChoosesTheMiddleHalf) {
    const std::array<std::int32_t, 8> v{10, 20, 30, 40, 50, 60, 70, 80};
    struct Case {
        int n;
        std::uint16_t expected;
    };
    // n = 8 takes 2..6; n = 5 takes 1..3; n = 3 takes all; n = 0 gives 0.
    for (const Case c : {Case{8, 50}, Case{5, 30}, Case{3, 20}, Case{1, 10}, Case{0, 0}})
        EXPECT_EQ(trimmedAverage(v, c.n), c.expected) << c.n;
}

TEST(EdgeSweep, ARunOpenedOnAnEndLineNeverAverages) {
    Sweep s;
    s.feed(1, 12, 0, 900);  // opens the run on line 1
    s.feed(1, 12, 0, 910);  // end lines store nothing
    s.feed(5, 12, 0, 1000);
    s.feed(5, 12, 0, 990);
    s.feed(6, 12, 0, 2000);
    EXPECT_EQ(s.sweep->RowMinRun.Line, 1);
    EXPECT_EQ(s.sweep->RowMinRun.Count, 0);
    EXPECT_EQ(s.ranges.RowMin[4], 990);  // plain lowering goes on
    s.sweep->resetRunLines();
    s.feed(5, 12, 0, 1200);  // reopens
    s.feed(5, 12, 0, 1300);
    s.feed(6, 12, 0, 2000);
    EXPECT_EQ(s.ranges.RowMin[4], 1300);
}

TEST(EdgeSweep, RunsAndCornerListsStopAtTheirStoreSize) {
    Sweep s;
    for (int k = 0; k < kSweepStoreSize + 10; ++k) {
        s.feed(5, 12, 0, 900);
        s.feed(1, 1, 0, 3000);
    }
    EXPECT_EQ(s.sweep->RowMinRun.Count, kSweepStoreSize);
    EXPECT_EQ(s.sweep->Corner11.Count, kSweepStoreSize);
    s.sweep->clearTrackers();
    EXPECT_EQ(s.sweep->RowMinRun.Line, 0);
    EXPECT_EQ(s.sweep->RowMinRun.Samples[0], 0);
    EXPECT_EQ(s.sweep->Corner11.Count, 0);
    EXPECT_EQ(s.sweep->Corner11.Pairs[0].Y, 0);
}

TEST(EdgeSweep, RowSidesFeedTheCornerNamedForTheirLine) {
    Sweep s;
    s.feed(1, 1, 11, 111);
    s.feed(16, 1, 21, 121);
    s.feed(16, 12, 31, 131);
    s.feed(1, 12, 41, 141);
    s.feed(5, 1, 51, 151);  // inner row: no corner
    const EdgeSweep& e = *s.sweep;
    EXPECT_EQ(e.Corner11.Count, 1);
    EXPECT_EQ(e.Corner11.Pairs[0].X, 11);
    EXPECT_EQ(e.CornerN1.Pairs[0].X, 21);
    EXPECT_EQ(e.CornerNM.Pairs[0].X, 31);
    EXPECT_EQ(e.Corner1M.Pairs[0].Y, 141);
    EXPECT_EQ(e.Corner11.Count + e.CornerN1.Count + e.CornerNM.Count + e.Corner1M.Count, 4);
}

void fill(CornerSamples& list, std::initializer_list<CornerPair> pairs) {
    list.Count = 0;
    for (const auto& pair : pairs) list.Pairs[static_cast<std::size_t>(list.Count++)] = pair;
}

// The seven pairs of the corner example: pair 6 jumps in X, so it and its neighbour go.
const std::initializer_list<CornerPair> kSevenPairs = {{3000, 3100}, {3010, 3110}, {3020, 3120},
                                                       {3030, 3130}, {3040, 3140}, {3600, 3150},
                                                       {3050, 3160}};

TEST(EdgeSweep, CornerAverageDiscardsJumpsAndKeepsTheInnerBand) {
    auto list = std::make_unique<CornerSamples>();
    fill(*list, kSevenPairs);
    EXPECT_EQ(AverageCornerSamples(*list), std::make_pair(3025, 3115));
    EXPECT_EQ(list->Pairs[4].X, 0);
    EXPECT_EQ(list->Pairs[4].Y, 0);
    EXPECT_EQ(list->Pairs[5].X, 0);
    EXPECT_EQ(list->Pairs[6].X, 3050);
    fill(*list, {});
    EXPECT_EQ(AverageCornerSamples(*list), std::make_pair(0, 0));
    fill(*list, {{3000, 3100}});
    EXPECT_EQ(AverageCornerSamples(*list), std::make_pair(0, 0));
}

TEST(EdgeSweep, RefineSendsEachAverageToMaximumOrMinimum) {
    Sweep s;
    s.ranges.RowMax[15] = 1234;
    s.ranges.RowMaxSeen[15] = true;
    fill(s.sweep->Corner11, kSevenPairs);
    fill(s.sweep->Corner1M, {{300, 310}, {310, 320}, {320, 330}, {330, 340}, {340, 350}});
    s.sweep->RefineCornerLines(4000, kPanel, extremesOf(s.ranges));
    EXPECT_EQ(s.ranges.ColMax[0], 3025);  // above 2000: maxima
    EXPECT_EQ(s.ranges.RowMax[0], 3115);
    EXPECT_EQ(s.ranges.ColMin[11], 315);  // below: minima, over CornerNM's 0
    EXPECT_EQ(s.ranges.RowMin[0], 325);
    // Empty lists give 0, stored as a minimum.
    EXPECT_EQ(s.ranges.ColMin[0], 0);
    EXPECT_EQ(s.ranges.RowMin[15], 0);
    EXPECT_EQ(s.ranges.RowMax[15], 1234);
    EXPECT_FALSE(s.ranges.RowMinSeen[0]);
}

TEST(EdgeSweep, RefineWithoutLinesInUseWritesNothing) {
    Sweep s;
    s.sweep->RefineCornerLines(4000, {0, 0}, extremesOf(s.ranges));
    EXPECT_EQ(s.ranges.RowMin, unmeasured().RowMin);
    EXPECT_EQ(s.ranges.ColMin, unmeasured().ColMin);
}

}  // namespace
}  // namespace tc::measure
