// Control models: plain objects that the program's logic reads and writes. Each tells its
// observers what changed; a renderer is one observer, a test another. No toolkit here.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tc::ui {

struct Rect {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool operator==(const Rect&) const = default;
};

struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

struct Color {
    std::uint8_t r = 0, g = 0, b = 0;
    bool operator==(const Color&) const = default;
};

namespace colors {
constexpr Color Black{0, 0, 0};
constexpr Color White{255, 255, 255};
constexpr Color Red{255, 0, 0};
constexpr Color Green{0, 128, 0};
constexpr Color Lime{0, 255, 0};
constexpr Color Blue{0, 0, 255};
constexpr Color Yellow{255, 255, 0};
constexpr Color Gray{128, 128, 128};
constexpr Color Silver{192, 192, 192};
constexpr Color SkyBlue{166, 202, 240};
constexpr Color MoneyGreen{192, 220, 192};
constexpr Color ButtonFace{212, 208, 200};
}  // namespace colors

struct Font {
    std::string family;   // empty: the form's font
    int pixelHeight = 0;  // 0: the form's size
    bool bold = false;
    Color color = colors::Black;
    bool operator==(const Font&) const = default;
};

enum class Kind {
    Form,
    Label,
    Memo,
    Edit,
    Button,
    RadioGroup,
    CheckBox,
    GroupBox,
    Image,
    TrayLamp
};

enum class ScrollBars { None, Vertical, Horizontal, Both };

// What changed on a control.
enum class Change {
    Text,  // caption or text
    Visible,
    Geometry,
    Font,
    Color,      // background
    LineAdded,  // Memo: one line appended at the end
    Lines,      // Memo: the whole list replaced or emptied
    Checked,
    ItemIndex,
    Lamp,
    Canvas,  // Image: a drawing operation was appended
    Focus,   // the control asks for the keyboard focus
};

class Control;

class Observer {
public:
    virtual ~Observer() = default;
    virtual void changed(Control& control, Change what) = 0;
};

class Control {
public:
    Control(Kind kind, std::string name, Rect rect, std::string parent = {});
    virtual ~Control() = default;
    Control(const Control&) = delete;
    Control& operator=(const Control&) = delete;

    Kind kind() const { return kind_; }
    const std::string& name() const { return name_; }
    // The name of the control this one sits in; empty for the form's client area.
    const std::string& parent() const { return parent_; }

    const Rect& rect() const { return rect_; }
    void setRect(const Rect& r);

    bool visible() const { return visible_; }
    void setVisible(bool v);
    // Hidden value holders are never shown, whatever their flag says.
    bool holder() const { return holder_; }
    void setHolder(bool h) { holder_ = h; }

    // Caption of a label, button, group box, check box or form; text of an edit box.
    const std::string& text() const { return text_; }
    void setText(const std::string& t);

    const Font& font() const { return font_; }
    void setFont(const Font& f);
    void setFontColor(Color c);
    const Color& color() const { return color_; }
    bool hasColor() const { return hasColor_; }
    void setColor(Color c);

    void setFocus() { notify(Change::Focus); }

    std::function<void()> onClick;
    std::function<void()> onMouseUp;
    std::function<void()> onDblClick;

    void addObserver(Observer* o);
    void removeObserver(Observer* o);

protected:
    void notify(Change what);

private:
    Kind kind_;
    std::string name_;
    Rect rect_;
    std::string parent_;
    bool visible_ = true;
    bool holder_ = false;
    std::string text_;
    Font font_;
    Color color_ = colors::White;
    bool hasColor_ = false;
    std::vector<Observer*> observers_;
};

class Label : public Control {
public:
    Label(std::string name, Rect r, std::string parent = {})
        : Control(Kind::Label, std::move(name), r, std::move(parent)) {}
};

class Edit : public Control {
public:
    Edit(std::string name, Rect r, std::string parent = {})
        : Control(Kind::Edit, std::move(name), r, std::move(parent)) {}
};

class Button : public Control {
public:
    Button(std::string name, Rect r, std::string parent = {})
        : Control(Kind::Button, std::move(name), r, std::move(parent)) {}
};

class GroupBox : public Control {
public:
    GroupBox(std::string name, Rect r, std::string parent = {})
        : Control(Kind::GroupBox, std::move(name), r, std::move(parent)) {}
};

class CheckBox : public Control {
public:
    CheckBox(std::string name, Rect r, std::string parent = {})
        : Control(Kind::CheckBox, std::move(name), r, std::move(parent)) {}
    bool checked() const { return checked_; }
    void setChecked(bool c);

private:
    bool checked_ = false;
};

class RadioGroup : public Control {
public:
    RadioGroup(std::string name, Rect r, std::string parent = {})
        : Control(Kind::RadioGroup, std::move(name), r, std::move(parent)) {}
    const std::vector<std::string>& items() const { return items_; }
    void setItems(std::vector<std::string> items) { items_ = std::move(items); }
    int itemIndex() const { return itemIndex_; }
    // Selecting from the program does not run the click handler.
    void setItemIndex(int i);
    // The operator picked item i: select it and run the click handler.
    void userSelect(int i);

private:
    std::vector<std::string> items_;
    int itemIndex_ = -1;
};

// A multi-line text box. A positive line limit, and a positive byte limit on the text of
// all lines together, drop the oldest lines first; a single line longer than the whole
// byte limit is kept cut to it, so the box never holds more than the limit.
class Memo : public Control {
public:
    Memo(std::string name, Rect r, std::string parent = {})
        : Control(Kind::Memo, std::move(name), r, std::move(parent)) {}
    const std::deque<std::string>& lines() const { return lines_; }
    void add(const std::string& line);
    void clear();
    void setLines(const std::vector<std::string>& lines);
    // All lines, each followed by CR LF, as the text of the box reads.
    std::string joinedText() const;

    std::size_t maxLines() const { return maxLines_; }
    void setMaxLines(std::size_t n);
    std::size_t maxBytes() const { return maxBytes_; }
    void setMaxBytes(std::size_t n);
    // Bytes of text in all lines, line ends not counted.
    std::size_t textBytes() const { return bytes_; }
    ScrollBars scrollBars() const { return scrollBars_; }
    void setScrollBars(ScrollBars s) { scrollBars_ = s; }
    bool readOnly() const { return readOnly_; }
    void setReadOnly(bool r) { readOnly_ = r; }

private:
    // Drops (and cuts) to the limits; true when anything went.
    bool trim();
    std::deque<std::string> lines_;
    std::size_t bytes_ = 0;
    std::size_t maxLines_ = 0;
    std::size_t maxBytes_ = 0;
    ScrollBars scrollBars_ = ScrollBars::None;
    bool readOnly_ = false;
};

// The notification-area lamp: one of three images.
class TrayLamp : public Control {
public:
    TrayLamp(std::string name) : Control(Kind::TrayLamp, std::move(name), {0, 0, 32, 32}) {}
    int index() const { return index_; }
    // Setting the index it already shows changes nothing, so nothing is redrawn.
    void setIndex(int i);
    // Where the window shows the lamp when the desktop has no notification area.
    const Rect& fallbackPlace() const { return fallback_; }
    const std::string& fallbackParent() const { return fallbackParent_; }
    void setFallbackPlace(Rect r, std::string parent) {
        fallback_ = r;
        fallbackParent_ = std::move(parent);
    }

private:
    int index_ = 0;
    Rect fallback_;
    std::string fallbackParent_;
};

}  // namespace tc::ui
