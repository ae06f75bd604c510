// A window: its controls, its caption, its lifecycle events and key preview.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/Controls.h"
#include "ui/Image.h"

namespace tc::ui {

class Form : public Control {
public:
    Form(std::string name, Rect clientRect) : Control(Kind::Form, std::move(name), clientRect) {}

    template <class T, class... Args>
    T& add(Args&&... args) {
        auto c = std::make_unique<T>(std::forward<Args>(args)...);
        T& ref = *c;
        controls_.push_back(std::move(c));
        for (auto& [id, h] : addedHandlers_) h(ref);
        return ref;
    }

    // The control of that name; throws when there is none.
    Control& find(const std::string& name) const;
    Control* tryFind(const std::string& name) const;
    template <class T>
    T& get(const std::string& name) const {
        return dynamic_cast<T&>(find(name));
    }
    const std::vector<std::unique_ptr<Control>>& controls() const { return controls_; }

    // The caption the desktop shows for the window (task bar), apart from the title text.
    const std::string& systemCaption() const { return systemCaption_; }
    void setSystemCaption(const std::string& c) { systemCaption_ = c; }
    bool fixedSize = true;
    bool keyPreview = false;
    // A window without border or caption bar.
    bool borderless = false;
    // Shown filling the whole screen.
    bool maximized = false;
    // Closing this window ends the program; a secondary window that is only hidden says no.
    bool quitOnClose = true;
    Font defaultFont;

    // Events. OnKeyPress sees every character typed while the form is active, before the
    // focused control; the character still reaches the control.
    std::function<void()> onShow;
    std::function<void()> onClose;
    std::function<void(char)> onKeyPress;

    // A renderer learns of controls created after it was built (the line boxes).
    // Returns a number for removeControlAddedHandler, for an observer that goes first.
    int onControlAdded(std::function<void(Control&)> f);
    void removeControlAddedHandler(int id);

private:
    std::vector<std::unique_ptr<Control>> controls_;
    std::map<int, std::function<void(Control&)>> addedHandlers_;
    int lastHandler_ = 0;

    std::string systemCaption_;
};

}  // namespace tc::ui
