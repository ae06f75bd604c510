// The draw-test canvas: a borderless full-screen window whose one image shows a 10 x 10
// grid, on which every pointer stroke is drawn as a coloured trail.
#pragma once

#include <array>
#include <functional>

#include "ui/Form.h"

namespace tc::drawtest {

// Trail colours, in the order the space key steps through them.
inline constexpr std::array<ui::Color, 5> PenColors = {
    ui::Color{0, 128, 0},      // green
    ui::Color{0, 0, 255},      // blue
    ui::Color{255, 0, 0},      // red
    ui::Color{255, 0, 255},    // magenta
    ui::Color{128, 128, 128},  // grey
};

// The window's size before it is first shown full screen.
constexpr int kDesignWidth = 862;
constexpr int kDesignHeight = 606;
constexpr int kGridPenWidth = 5;
constexpr int kTrailPenWidth = 2;

// Threads: main thread only. Created once at start-up and never destroyed before the
// program ends, so the trails and the colour choice survive closing and reopening.
class TForm2 {
public:
    // `leaveToTestMode` is the main window's part of leaving with Q: select "Calibration"
    // in its "DeBug Mode" group and run that group's handler.
    explicit TForm2(std::function<void()> leaveToTestMode);
    TForm2(const TForm2&) = delete;
    TForm2& operator=(const TForm2&) = delete;

    // Window events.
    void FormCreate();
    void FormKeyDown(char key);
    void Image1MouseDown(ui::MouseButton button, int x, int y);
    void Image1MouseMove(int x, int y);
    void Image1MouseUp(ui::MouseButton button, int x, int y);

    // Shows the canvas at the screen's size and draws the grid over whatever is there.
    void ShowCanvas(int screenWidth, int screenHeight);
    // The grid with the pen as it is set.
    void DrawGrid();

    bool drawing() const { return Drawing; }
    int penColorIndex() const { return PenColorIndex; }

    // --- controls ---
    ui::Form Form2;
    ui::Image& Image1;

private:
    void ClearCanvas();

    std::function<void()> leaveToTestMode_;
    bool Drawing = false;
    int PenColorIndex = 0;
};

}  // namespace tc::drawtest
