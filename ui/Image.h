// An image control whose canvas is a stream of drawing operations. Observers apply them to
// a bitmap; a test reads them directly. The operations since the last fill of the whole
// canvas are kept, so an observer that comes late can replay the current picture.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/Controls.h"

namespace tc::ui {

struct CanvasOp {
    enum class Type { FillRect, FrameRect, Line, Text };
    Type type = Type::FillRect;
    Rect rect;       // FillRect, FrameRect; Text: its origin in left/top
    Point from, to;  // Line
    Color penColor;
    int penWidth = 1;
    Color brushColor;
    std::string text;  // Text
    bool operator==(const CanvasOp&) const = default;
};

enum class MouseButton { Left, Right, Middle };

// A pointer event on an image, in the image's own pixels. A move reports no button.
struct MouseEvent {
    MouseButton button = MouseButton::Left;
    int x = 0;
    int y = 0;
};

class Image : public Control {
public:
    Image(std::string name, Rect r, std::string parent = {})
        : Control(Kind::Image, std::move(name), r, std::move(parent)) {}

    // Pen and brush, as the drawing code sets them before it draws.
    Color penColor = colors::Black;
    int penWidth = 1;
    Color brushColor = colors::White;

    void fillRect(const Rect& r);
    // Outline of a rectangle with the pen, inside left..left+width-1.
    void frameRect(const Rect& r);
    void moveTo(int x, int y) { pen_ = {x, y}; }
    void lineTo(int x, int y);
    void textOut(int x, int y, const std::string& text);
    Point penPos() const { return pen_; }

    // Pointer input with its place; the renderer calls these, a test may too.
    std::function<void(const MouseEvent&)> onMouseDownAt;
    std::function<void(const MouseEvent&)> onMouseMoveAt;
    std::function<void(const MouseEvent&)> onMouseUpAt;

    // Operations since the last fill of the whole canvas, oldest first.
    const std::vector<CanvasOp>& ops() const { return ops_; }
    // The operation just appended (valid inside a Canvas change notification).
    const CanvasOp& lastOp() const { return ops_.back(); }

private:
    void append(CanvasOp op);
    std::vector<CanvasOp> ops_;
    Point pen_;
};

}  // namespace tc::ui
