#include "ui/Controls.h"

#include <algorithm>

namespace tc::ui {

Control::Control(Kind kind, std::string name, Rect rect, std::string parent)
    : kind_(kind), name_(std::move(name)), rect_(rect), parent_(std::move(parent)) {}

void Control::setRect(const Rect& r) {
    if (r == rect_) return;
    rect_ = r;
    notify(Change::Geometry);
}

void Control::setVisible(bool v) {
    if (v == visible_) return;
    visible_ = v;
    notify(Change::Visible);
}

void Control::setText(const std::string& t) {
    if (t == text_) return;
    text_ = t;
    notify(Change::Text);
}

void Control::setFont(const Font& f) {
    if (f == font_) return;
    font_ = f;
    notify(Change::Font);
}

void Control::setFontColor(Color c) {
    if (c == font_.color) return;
    font_.color = c;
    notify(Change::Font);
}

void Control::setColor(Color c) {
    if (hasColor_ && c == color_) return;
    color_ = c;
    hasColor_ = true;
    notify(Change::Color);
}

void Control::addObserver(Observer* o) {
    observers_.push_back(o);
}

void Control::removeObserver(Observer* o) {
    observers_.erase(std::remove(observers_.begin(), observers_.end(), o), observers_.end());
}

void Control::notify(Change what) {
    // An observer may detach itself while being told; walk a copy.
    const auto observers = observers_;
    for (auto* o : observers) o->changed(*this, what);
}

void CheckBox::setChecked(bool c) {
    if (c == checked_) return;
    checked_ = c;
    notify(Change::Checked);
}

void RadioGroup::setItemIndex(int i) {
    if (i == itemIndex_) return;
    itemIndex_ = i;
    notify(Change::ItemIndex);
}

void RadioGroup::userSelect(int i) {
    setItemIndex(i);
    if (onClick) onClick();
}

void Memo::add(const std::string& line) {
    lines_.push_back(line);
    bytes_ += line.size();
    trim();
    notify(Change::LineAdded);
}

void Memo::clear() {
    if (lines_.empty()) return;
    lines_.clear();
    bytes_ = 0;
    notify(Change::Lines);
}

void Memo::setLines(const std::vector<std::string>& lines) {
    lines_.assign(lines.begin(), lines.end());
    bytes_ = 0;
    for (const auto& l : lines_) bytes_ += l.size();
    trim();
    notify(Change::Lines);
}

void Memo::setMaxLines(std::size_t n) {
    maxLines_ = n;
    if (trim()) notify(Change::Lines);
}

void Memo::setMaxBytes(std::size_t n) {
    maxBytes_ = n;
    if (trim()) notify(Change::Lines);
}

bool Memo::trim() {
    const std::size_t before = bytes_;
    const std::size_t count = lines_.size();
    const auto popFront = [this] {
        bytes_ -= lines_.front().size();
        lines_.pop_front();
    };
    while (maxLines_ && lines_.size() > maxLines_) popFront();
    if (!maxBytes_) return lines_.size() != count;
    while (bytes_ > maxBytes_ && lines_.size() > 1) popFront();
    if (bytes_ > maxBytes_) {
        // The newest line stays, cut, so the box keeps showing that something came.
        std::string& last = lines_.back();
        last.resize(maxBytes_);
        last.shrink_to_fit();
        bytes_ = last.size();
    }
    return lines_.size() != count || bytes_ != before;
}

std::string Memo::joinedText() const {
    std::string s;
    for (const auto& l : lines_) {
        s += l;
        s += "\r\n";
    }
    return s;
}

void TrayLamp::setIndex(int i) {
    if (i == index_) return;
    index_ = i;
    notify(Change::Lamp);
}

}  // namespace tc::ui
