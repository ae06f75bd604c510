#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "measure/Display.h"
#include "measure/LineRanges.h"
#include "ui/Image.h"

using namespace tc::measure;
using tc::ui::CanvasOp;
using tc::ui::Color;
using tc::ui::Image;
using tc::ui::Point;
using tc::ui::Rect;

namespace {

constexpr int W = 537;
constexpr int H = 466;

Image makeImage() {
    return Image("Image1", {16, 40, W, H});
}

struct Line {
    Point from, to;
    Color color;
    int width;
    bool operator==(const Line&) const = default;
};

std::vector<Line> linesOf(const Image& image) {
    std::vector<Line> lines;
    for (const CanvasOp& op : image.ops())
        if (op.type == CanvasOp::Type::Line)
            lines.push_back({op.from, op.to, op.penColor, op.penWidth});
    return lines;
}

// A record as "Clear" leaves it: every value at its not-measured marker.
LineRanges unmeasured() {
    LineRanges ranges;
    ResetLineRanges(ranges, MaxLines, MaxLines);
    return ranges;
}

TEST(DisplayTest, ColoursAreTheFrameworkValues) {
    // Framework values keep blue in the high byte: 0x0000FF is red, 0xFF0000 blue.
    EXPECT_EQ(GridColor, (Color{0x80, 0x80, 0x80}));
    EXPECT_EQ(MinTickColor, (Color{0xFF, 0, 0}));
    EXPECT_EQ(MaxTickColor, (Color{0, 0, 0xFF}));
    EXPECT_EQ(BackgroundColor, (Color{0xFF, 0xFF, 0xFF}));
}

TEST(DisplayTest, ClearImageFillsTheWholePictureWhite) {
    Image image = makeImage();
    image.brushColor = tc::ui::colors::Red;
    image.moveTo(1, 1);
    image.lineTo(5, 5);
    ClearImage(image);
    ASSERT_EQ(image.ops().size(), 1u);
    EXPECT_EQ(image.ops()[0].type, CanvasOp::Type::FillRect);
    EXPECT_EQ(image.ops()[0].rect, (Rect{0, 0, W, H}));
    EXPECT_EQ(image.ops()[0].brushColor, BackgroundColor);
}

struct GridCase {
    int rows, columns;
    std::vector<int> xs, ys;
};

class DrawGridTest : public ::testing::TestWithParam<GridCase> {};

TEST_P(DrawGridTest, OutlineThenOneLinePerStripEdge) {
    const GridCase& c = GetParam();
    Image image = makeImage();
    DrawGrid(image, c.rows, c.columns);
    ASSERT_FALSE(image.ops().empty());
    const CanvasOp& frame = image.ops()[0];
    EXPECT_EQ(frame.type, CanvasOp::Type::FrameRect);
    EXPECT_EQ(frame.rect, (Rect{0, 0, W, H}));
    EXPECT_EQ(frame.penColor, GridColor);
    EXPECT_EQ(frame.penWidth, 3);

    std::vector<Line> expected;
    for (int x : c.xs) expected.push_back({{x, 0}, {x, H}, GridColor, 3});
    for (int y : c.ys) expected.push_back({{0, y}, {W, y}, GridColor, 3});
    EXPECT_EQ(linesOf(image), expected);
    EXPECT_EQ(image.ops().size(), 1 + expected.size());
    EXPECT_EQ(image.penWidth, 2);  // left for the ticks
}

INSTANTIATE_TEST_SUITE_P(SmallCounts, DrawGridTest,
                         ::testing::Values(GridCase{0, 0, {}, {}}, GridCase{1, 1, {0}, {0}},
                                           GridCase{3, 2, {0, 179, 358}, {0, 233}},
                                           GridCase{4, 4, {0, 134, 268, 402}, {0, 116, 233, 349}}));

struct TickCase {
    int line;
    bool horizontal;
    Point from, to;
};

class DrawLineTickTest : public ::testing::TestWithParam<TickCase> {};

// Four rows across 537 pixels, four columns down 466, numbered from the far side.
TEST_P(DrawLineTickTest, StripFromTheFarSide) {
    const TickCase& c = GetParam();
    Image image = makeImage();
    image.penWidth = 2;
    DrawLineTick(image, c.line, c.line, MaxTickColor, c.horizontal, 100, 200, 4, 4);
    EXPECT_EQ(linesOf(image), (std::vector<Line>{{c.from, c.to, MaxTickColor, 2}}));
}

INSTANTIATE_TEST_SUITE_P(
    FourByFour, DrawLineTickTest,
    ::testing::Values(TickCase{1, true, {402, 100}, {536, 100}},  // rightmost, 134 long
                      TickCase{2, true, {268, 100}, {402, 100}},
                      TickCase{3, true, {134, 100}, {268, 100}},
                      TickCase{4, true, {0, 100}, {134, 100}},     // leftmost
                      TickCase{1, false, {200, 349}, {200, 465}},  // bottom, 116 long
                      TickCase{4, false, {200, 0}, {200, 116}}));  // top

TEST(DisplayTest, TickWithNoLinesThatWayDrawsNothing) {
    Image image = makeImage();
    DrawLineTick(image, 1, 1, MinTickColor, true, 10, 10, 0, 4);
    DrawLineTick(image, 1, 1, MinTickColor, false, 10, 10, 4, 0);
    EXPECT_TRUE(image.ops().empty());
    // A row tick needs no column count, a column tick no row count.
    DrawLineTick(image, 1, 1, MinTickColor, true, 10, 10, 4, 0);
    DrawLineTick(image, 1, 1, MinTickColor, false, 10, 10, 0, 4);
    EXPECT_EQ(linesOf(image).size(), 2u);
}

TEST(DisplayTest, RedrawPlacesRowMinimumOfHalfScaleMidHeight) {
    LineRanges ranges = unmeasured();
    ranges.RowMin[0] = 2048;
    ranges.ColMax[1] = 2048;
    Image image = makeImage();
    RedrawLineRanges(image, ranges, 4, 4, 4096);
    // Clear, outline, 4 + 4 grid lines, then the two set values only.
    ASSERT_EQ(image.ops().size(), 1u + 1u + 8u + 2u);
    EXPECT_EQ(image.ops()[0].type, CanvasOp::Type::FillRect);
    const std::vector<Line> lines = linesOf(image);
    EXPECT_EQ(lines[8], (Line{{402, 233}, {536, 233}, MinTickColor, 2}));
    // Column line 2 of 4 is the third strip from the top: 233..349; x = 537 * 2048 / 4096.
    EXPECT_EQ(lines[9], (Line{{268, 233}, {268, 349}, MaxTickColor, 2}));
}

TEST(DisplayTest, RedrawSkipsOnlyTheNotMeasuredMarkers) {
    LineRanges ranges = unmeasured();
    ranges.RowMin[0] = 0x0FFE;  // just below the marker: drawn
    ranges.RowMax[0] = 1;       // just above the marker: drawn
    ranges.ColMin[0] = 0;       // a measured 0 is a value too
    Image image = makeImage();
    RedrawLineRanges(image, ranges, 2, 2, 4096);
    const std::vector<Line> lines = linesOf(image);
    ASSERT_EQ(lines.size(), 4u + 3u);
    EXPECT_EQ(lines[4].from.y, H * 0x0FFE / 4096);
    EXPECT_EQ(lines[4].color, MinTickColor);
    EXPECT_EQ(lines[5].from.y, 0);
    EXPECT_EQ(lines[5].color, MaxTickColor);
    EXPECT_EQ(lines[6].from, (Point{0, 233}));  // column line 1 of 2: the bottom strip
    EXPECT_EQ(lines[6].color, MinTickColor);
}

TEST(DisplayTest, ShowDrawsEveryTickOverThePictureInOrder) {
    const LineRanges ranges = unmeasured();
    Image image = makeImage();
    RedrawLineRanges(image, ranges, 2, 1, 4096);
    const std::size_t before = image.ops().size();
    ShowLineRanges(image, ranges, 2, 1, 4096);
    // Nothing cleared, no grid: row 0 min, max; row 1 min, max; column 0 min, max.
    ASSERT_EQ(image.ops().size(), before + 6);
    const int yMin = H * 0x0FFF / 4096;
    const std::vector<Line> lines = linesOf(image);
    const std::vector<Line> ticks(lines.end() - 6, lines.end());
    EXPECT_EQ(ticks,
              (std::vector<Line>{{{268, yMin}, {536, yMin}, MinTickColor, 2},
                                 {{268, 0}, {536, 0}, MaxTickColor, 2},
                                 {{0, yMin}, {268, yMin}, MinTickColor, 2},
                                 {{0, 0}, {268, 0}, MaxTickColor, 2},
                                 {{W * 0x0FFF / 4096, 0}, {W * 0x0FFF / 4096, H}, MinTickColor, 2},
                                 {{0, 0}, {0, H}, MaxTickColor, 2}}));
}

TEST(DisplayTest, FullScaleOfZeroPlacesEveryTickAtZero) {
    LineRanges ranges = unmeasured();
    ranges.RowMin[0] = 100;
    ranges.ColMax[0] = 200;
    Image image = makeImage();
    RedrawLineRanges(image, ranges, 1, 1, 0);
    ShowLineRanges(image, ranges, 1, 1, 0);
    // Redraw: the two set values; show: all four. Rows along y = 0, columns along x = 0.
    const std::vector<Line> lines = linesOf(image);
    ASSERT_EQ(lines.size(), 2u + 2u + 4u);
    for (std::size_t k = 2; k < lines.size(); ++k) {
        const bool row = lines[k].to.y == 0;
        EXPECT_EQ(lines[k].from, (Point{0, 0})) << k;
        EXPECT_EQ(lines[k].to, row ? (Point{W, 0}) : (Point{0, H})) << k;
    }
}

TEST(DisplayTest, BoxesShowValuesOfLinesInUseAndHideTheRest) {
    LineRanges ranges = unmeasured();
    ranges.RowMin[3] = 0x0123;
    ranges.RowMax[3] = 0x0F00;
    ranges.ColMin[11] = 0x00AB;
    ranges.ColMax[11] = 0x0CDE;
    Image image = makeImage();
    const LineBoxes boxes = ShowLineRanges(image, ranges, 16, 12, 4096);
    EXPECT_EQ(boxes.rowTexts[3], "Rol  3:0x0123-0x0F00");
    EXPECT_EQ(boxes.columnTexts[11], "Col 11:0x00AB-0x0CDE");
    for (int i = 0; i < MaxLines; ++i) {
        EXPECT_EQ(boxes.rowVisible[i], i < 16) << i;
        EXPECT_EQ(boxes.columnVisible[i], i < 12) << i;
        // The boxes not in use keep whatever text they have.
        EXPECT_EQ(boxes.rowTexts[i].has_value(), i < 16) << i;
        EXPECT_EQ(boxes.columnTexts[i].has_value(), i < 12) << i;
    }
}

TEST(DisplayTest, BoxCountsOutsideTheRecordAreCut) {
    const LineBoxes boxes = LineBoxesFor(unmeasured(), 40, -3);
    for (int i = 0; i < MaxLines; ++i) {
        EXPECT_TRUE(boxes.rowVisible[i]);
        EXPECT_FALSE(boxes.columnVisible[i]);
    }
    EXPECT_EQ(boxes.rowTexts[29], "Rol 29:0x0FFF-0x0000");
}

}  // namespace
