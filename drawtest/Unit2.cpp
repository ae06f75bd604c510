#include "drawtest/Unit2.h"

#include <utility>

namespace tc::drawtest {

TForm2::TForm2(std::function<void()> leaveToTestMode)
    : Form2("Form2", {0, 0, kDesignWidth, kDesignHeight}),
      Image1(Form2.add<ui::Image>("Image1", ui::Rect{0, 0, kDesignWidth, kDesignHeight})),
      leaveToTestMode_(std::move(leaveToTestMode)) {
    Form2.setText("Form2");
    Form2.borderless = true;
    Form2.maximized = true;
    // Leaving the canvas only hides it; the program goes on in the main window.
    Form2.quitOnClose = false;
    // The image takes no keyboard focus, so the keys reach the window through its preview.
    Form2.keyPreview = true;
    Form2.fixedSize = false;
    // Created at start-up, shown only by "Draw".
    Form2.setVisible(false);

    Form2.onKeyPress = [this](char key) { FormKeyDown(key); };
    Image1.onMouseDownAt = [this](const ui::MouseEvent& e) { Image1MouseDown(e.button, e.x, e.y); };
    Image1.onMouseMoveAt = [this](const ui::MouseEvent& e) { Image1MouseMove(e.x, e.y); };
    Image1.onMouseUpAt = [this](const ui::MouseEvent& e) { Image1MouseUp(e.button, e.x, e.y); };
    FormCreate();
}

void TForm2::FormCreate() {
    Drawing = false;
}

void TForm2::Image1MouseDown(ui::MouseButton, int x, int y) {
    // Any button starts a stroke: a touch may arrive as any of them.
    Drawing = true;
    Image1.moveTo(x, y);
}

void TForm2::Image1MouseMove(int x, int y) {
    if (!Drawing) return;
    Image1.penColor = PenColors[static_cast<std::size_t>(PenColorIndex)];
    Image1.penWidth = kTrailPenWidth;
    Image1.lineTo(x, y);
}

void TForm2::Image1MouseUp(ui::MouseButton, int, int) {
    Drawing = false;
}

void TForm2::FormKeyDown(char key) {
    switch (key) {
        case 'q':
        case 'Q':
            if (leaveToTestMode_) leaveToTestMode_();
            // A stroke cut short by the close must not draw on when the canvas comes back.
            Drawing = false;
            Form2.setVisible(false);
            break;
        case 'c':
        case 'C':
            ClearCanvas();
            break;
        case ' ':
            if (++PenColorIndex > static_cast<int>(PenColors.size()) - 1) PenColorIndex = 0;
            break;
        default:
            break;
    }
}

void TForm2::ClearCanvas() {
    const ui::Rect& r = Image1.rect();
    Image1.brushColor = ui::colors::White;
    Image1.fillRect({0, 0, r.width, r.height});
    Image1.penColor = ui::colors::Black;
    Image1.penWidth = kGridPenWidth;
    DrawGrid();
}

void TForm2::ShowCanvas(int screenWidth, int screenHeight) {
    Form2.setRect({0, 0, screenWidth, screenHeight});
    Form2.setVisible(true);
    Image1.setRect({0, 0, screenWidth, screenHeight});
    // Earlier trails stay; the grid goes over them.
    Image1.penColor = ui::colors::Black;
    Image1.penWidth = kGridPenWidth;
    DrawGrid();
}

void TForm2::DrawGrid() {
    const int w = Image1.rect().width;
    const int h = Image1.rect().height;
    // The last cell takes what the division leaves over.
    const int dx = w / 10;
    const int dy = h / 10;
    // A stroke held through the redraw goes on from where the finger is, not from the grid.
    const ui::Point pen = Image1.penPos();
    for (int i = 1; i <= 9; ++i) {
        Image1.moveTo(i * dx, 0);
        Image1.lineTo(i * dx, h);
        Image1.moveTo(0, i * dy);
        Image1.lineTo(w, i * dy);
    }
    Image1.moveTo(pen.x, pen.y);
}

}  // namespace tc::drawtest
