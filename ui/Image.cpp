#include "ui/Image.h"

#include <utility>

namespace tc::ui {

void Image::append(CanvasOp op) {
    // A fill of the whole canvas hides everything before it.
    if (op.type == CanvasOp::Type::FillRect && op.rect.left <= 0 && op.rect.top <= 0 &&
        op.rect.left + op.rect.width >= rect().width &&
        op.rect.top + op.rect.height >= rect().height)
        ops_.clear();
    ops_.push_back(std::move(op));
    notify(Change::Canvas);
}

void Image::fillRect(const Rect& r) {
    CanvasOp op;
    op.type = CanvasOp::Type::FillRect;
    op.rect = r;
    op.brushColor = brushColor;
    append(op);
}

void Image::frameRect(const Rect& r) {
    CanvasOp op;
    op.type = CanvasOp::Type::FrameRect;
    op.rect = r;
    op.penColor = penColor;
    op.penWidth = penWidth;
    append(op);
}

void Image::lineTo(int x, int y) {
    CanvasOp op;
    op.type = CanvasOp::Type::Line;
    op.from = pen_;
    op.to = {x, y};
    op.penColor = penColor;
    op.penWidth = penWidth;
    pen_ = {x, y};
    append(op);
}

void Image::textOut(int x, int y, const std::string& text) {
    CanvasOp op;
    op.type = CanvasOp::Type::Text;
    op.rect = {x, y, 0, 0};
    op.penColor = penColor;
    op.brushColor = brushColor;
    op.text = text;
    append(op);
}

}  // namespace tc::ui
