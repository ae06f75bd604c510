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

class FormWindow : public QWidget, private ui::Observer {
public:
    // `allowTray` false keeps the lamp inside the window even where the desktop has a
    // notification area (tests).
    FormWindow(ui::Form& form, platform::EventLoop& loop, bool allowTray = true);
    ~FormWindow() override;

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
