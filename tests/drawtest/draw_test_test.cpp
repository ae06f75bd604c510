#include <gtest/gtest.h>

#include <vector>

#include "drawtest/Unit2.h"

namespace tc::drawtest {
namespace {

using ui::CanvasOp;
using ui::MouseButton;
using ui::MouseEvent;
using ui::Point;

struct Canvas : ::testing::Test {
    int leaves = 0;
    TForm2 f{[this] { ++leaves; }};

    std::vector<CanvasOp> lines() const {
        std::vector<CanvasOp> out;
        for (const auto& op : f.Image1.ops())
            if (op.type == CanvasOp::Type::Line) out.push_back(op);
        return out;
    }
    void down(int x, int y, MouseButton b = MouseButton::Left) {
        f.Image1.onMouseDownAt(MouseEvent{b, x, y});
    }
    void move(int x, int y) { f.Image1.onMouseMoveAt(MouseEvent{MouseButton::Left, x, y}); }
    void up(int x, int y) { f.Image1.onMouseUpAt(MouseEvent{MouseButton::Left, x, y}); }
};

TEST_F(Canvas, StartsHiddenBorderlessAndLeavesTheProgramRunningWhenClosed) {
    EXPECT_FALSE(f.Form2.visible());
    EXPECT_TRUE(f.Form2.borderless);
    EXPECT_TRUE(f.Form2.maximized);
    EXPECT_FALSE(f.Form2.quitOnClose);
    EXPECT_EQ(f.Form2.text(), "Form2");
    EXPECT_EQ(f.Image1.rect(), (ui::Rect{0, 0, kDesignWidth, kDesignHeight}));
    EXPECT_FALSE(f.drawing());
    EXPECT_EQ(f.penColorIndex(), 0);
    EXPECT_TRUE(f.Image1.ops().empty());
}

TEST(FormDefaults, KeepAnOrdinaryWindow) {
    ui::Form form("Form1", {0, 0, 10, 10});
    EXPECT_FALSE(form.borderless);
    EXPECT_FALSE(form.maximized);
    EXPECT_TRUE(form.quitOnClose);
}

TEST_F(Canvas, GridOnAScreenThatIsNoMultipleOfTen) {
    f.ShowCanvas(1366, 768);
    EXPECT_TRUE(f.Form2.visible());
    EXPECT_EQ(f.Image1.rect(), (ui::Rect{0, 0, 1366, 768}));
    const auto l = lines();
    ASSERT_EQ(l.size(), 18u);
    for (int i = 1; i <= 9; ++i) {
        const CanvasOp& v = l[static_cast<std::size_t>(2 * (i - 1))];
        const CanvasOp& h = l[static_cast<std::size_t>(2 * (i - 1) + 1)];
        EXPECT_EQ(v.from, (Point{136 * i, 0}));
        EXPECT_EQ(v.to, (Point{136 * i, 768}));
        EXPECT_EQ(h.from, (Point{0, 76 * i}));
        EXPECT_EQ(h.to, (Point{1366, 76 * i}));
        for (const CanvasOp* op : {&v, &h}) {
            EXPECT_EQ(op->penColor, ui::colors::Black);
            EXPECT_EQ(op->penWidth, kGridPenWidth);
        }
    }
}

TEST_F(Canvas, AStrokeDrawsTrailsFromWhereItStartedInTheCurrentColour) {
    f.ShowCanvas(1000, 500);
    const std::size_t grid = f.Image1.ops().size();
    down(10, 20);
    EXPECT_TRUE(f.drawing());
    EXPECT_EQ(f.Image1.ops().size(), grid);  // the press only places the pen
    move(30, 40);
    move(50, 45);
    up(50, 45);
    EXPECT_FALSE(f.drawing());
    move(90, 90);  // released: nothing more

    const auto& ops = f.Image1.ops();
    ASSERT_EQ(ops.size(), grid + 2);
    EXPECT_EQ(ops[grid].from, (Point{10, 20}));
    EXPECT_EQ(ops[grid].to, (Point{30, 40}));
    EXPECT_EQ(ops[grid + 1].from, (Point{30, 40}));
    EXPECT_EQ(ops[grid + 1].to, (Point{50, 45}));
    for (std::size_t i = grid; i < ops.size(); ++i) {
        EXPECT_EQ(ops[i].penColor, PenColors[0]);
        EXPECT_EQ(ops[i].penWidth, kTrailPenWidth);
    }
}

TEST_F(Canvas, AMoveWithoutAPressDrawsNothing) {
    move(5, 5);
    EXPECT_FALSE(f.drawing());
    EXPECT_TRUE(f.Image1.ops().empty());
}

TEST_F(Canvas, AnyButtonStartsAStroke) {
    for (MouseButton b : {MouseButton::Left, MouseButton::Right, MouseButton::Middle}) {
        down(1, 1, b);
        EXPECT_TRUE(f.drawing());
        up(1, 1);
        EXPECT_FALSE(f.drawing());
    }
}

TEST_F(Canvas, SpaceStepsThroughTheColoursAndWrapsAfterFive) {
    const Point from{0, 0};
    for (int press = 0; press <= 5; ++press) {
        SCOPED_TRACE(press);
        down(from.x, from.y);
        move(press + 1, press + 1);
        up(press + 1, press + 1);
        EXPECT_EQ(f.Image1.lastOp().penColor, PenColors[static_cast<std::size_t>(press % 5)]);
        f.FormKeyDown(' ');
    }
    EXPECT_EQ(f.penColorIndex(), 1);
}

TEST_F(Canvas, TheColourOutlivesAClose) {
    f.FormKeyDown(' ');
    f.FormKeyDown('q');
    f.ShowCanvas(100, 100);
    EXPECT_EQ(f.penColorIndex(), 1);
}

struct KeyCase {
    char key;
    int leaves;
    bool visible;
    bool cleared;
    int colourIndex;
};

class Keys : public Canvas, public ::testing::WithParamInterface<KeyCase> {};

TEST_P(Keys, DoWhatTheyAreFor) {
    const KeyCase& k = GetParam();
    f.ShowCanvas(200, 100);
    down(1, 1);
    move(50, 50);
    f.Form2.onKeyPress(k.key);

    EXPECT_EQ(leaves, k.leaves);
    EXPECT_EQ(f.Form2.visible(), k.visible);
    EXPECT_EQ(f.penColorIndex(), k.colourIndex);
    const auto& ops = f.Image1.ops();
    if (k.cleared) {
        // A white fill of the whole image, then the grid in black over it.
        ASSERT_EQ(ops.size(), 19u);
        EXPECT_EQ(ops[0].type, CanvasOp::Type::FillRect);
        EXPECT_EQ(ops[0].rect, (ui::Rect{0, 0, 200, 100}));
        EXPECT_EQ(ops[0].brushColor, ui::colors::White);
        EXPECT_EQ(ops.back().penColor, ui::colors::Black);
        EXPECT_EQ(ops.back().penWidth, kGridPenWidth);
    } else {
        EXPECT_EQ(ops.size(), 19u);  // grid and the one trail
        EXPECT_EQ(ops.back().penColor, PenColors[0]);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Canvas, Keys,
    ::testing::Values(KeyCase{'q', 1, false, false, 0}, KeyCase{'Q', 1, false, false, 0},
                      KeyCase{'c', 0, true, true, 0}, KeyCase{'C', 0, true, true, 0},
                      KeyCase{' ', 0, true, false, 1}, KeyCase{'x', 0, true, false, 0},
                      KeyCase{'1', 0, true, false, 0}));

TEST_F(Canvas, ShowingAgainDrawsTheGridOverTheTrails) {
    f.ShowCanvas(100, 100);
    down(1, 1);
    move(2, 2);
    up(2, 2);
    f.ShowCanvas(100, 100);
    const auto& ops = f.Image1.ops();
    ASSERT_EQ(ops.size(), 18u + 1u + 18u);
    EXPECT_EQ(ops[18].penColor, PenColors[0]);
}

TEST_F(Canvas, AStrokeHeldThroughAClearGoesOnFromTheFinger) {
    f.ShowCanvas(100, 100);
    down(10, 10);
    move(20, 20);
    f.FormKeyDown('c');
    move(30, 30);
    EXPECT_EQ(f.Image1.lastOp().from, (Point{20, 20}));
    EXPECT_EQ(f.Image1.lastOp().to, (Point{30, 30}));
}

TEST_F(Canvas, LeavingEndsAStrokeWhoseReleaseTheHiddenWindowNeverSees) {
    f.ShowCanvas(100, 100);
    down(10, 10);
    f.FormKeyDown('Q');
    EXPECT_FALSE(f.drawing());
    f.ShowCanvas(100, 100);
    const std::size_t n = f.Image1.ops().size();
    move(40, 40);
    EXPECT_EQ(f.Image1.ops().size(), n);
}

TEST_F(Canvas, LeavingWithoutAMainWindowHookOnlyHides) {
    TForm2 lone{{}};
    lone.ShowCanvas(100, 100);
    lone.FormKeyDown('q');
    EXPECT_FALSE(lone.Form2.visible());
}

}  // namespace
}  // namespace tc::drawtest
