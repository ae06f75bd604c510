// The Qt window of a form: built from the form's description, kept up to date by observing
// its controls, and feeding clicks, typing and lifecycle events back into them.
#pragma once

#include <QImage>
#include <QWidget>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "ui/Form.h"

class QSystemTrayIcon;
class QLabel;

namespace tc::qt {

// The error box: modal, over `parent` (or on its own), showing `text` as it is; an empty
// text gives an empty box. Each one is noted in the debug log as well. When
// `closeWhenReadable` is a descriptor, the box also closes as soon as it can be read (the
// program is told to end).
void showErrorBox(QWidget* parent, const std::string& text, int closeWhenReadable = -1);

// A plain message for the operator: modal, with an OK button, over `parent`.
void showMessageBox(QWidget* parent, const std::string& text);

class FormWindow : public QWidget, private ui::Observer {
public:
    // `allowTray` false keeps the lamp inside the window even where the desktop has a
    // notification area (tests).
    // The program ends only when a form that says so (the main window) closes: hiding it,
    // closing a secondary form, or closing any other window while it is hidden, leaves the
    // application running. A borderless form gets no frame; a maximised one fills the screen
    // whenever it is shown.
    FormWindow(ui::Form& form, platform::EventLoop& loop, bool allowTray = true);
    ~FormWindow() override;

    // The outer size, frame included, that a window of this kind gets around a client area
    // of `client`, as far as the platform can tell before any such window is shown (a window
    // manager that adds its frame only on mapping may make this the client size itself).
    static QSize outerSizeFor(QSize client);

    // The error box, over this window while it is visible.
    void showError(const std::string& text);
    // A message box, over this window while it is visible.
    void showMessage(const std::string& text);

    // The widget made for a control, or nullptr (hidden value holders get none).
    QWidget* widgetFor(const std::string& name) const;
    bool lampInTray() const { return tray_ != nullptr; }
    // The lamp images the program draws itself, by index 0 grey, 1 red, 2 green.
    static QImage lampImage(int index);

protected:
    void showEvent(QShowEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    bool eventFilter(QObject* watched, QEvent* e) override;

private:
    void changed(ui::Control& control, ui::Change what) override;
    void build(ui::Control& c);
    void buildLamp(ui::TrayLamp& lamp);
    void updateWidget(ui::Control& c, ui::Change what);
    void run(const std::function<void()>& handler);

    ui::Form& form_;
    platform::EventLoop& loop_;
    bool allowTray_;
    QWidget* client_ = nullptr;
    std::map<std::string, QWidget*> widgets_;
    std::vector<ui::Control*> observed_;
    QSystemTrayIcon* tray_ = nullptr;
    QLabel* lampLabel_ = nullptr;
    int addedHandler_ = 0;
    bool updating_ = false;
    // a model change being shown must not echo back as typing
};

}  // namespace tc::qt
