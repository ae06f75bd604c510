// What the offscreen window tests share: one application object for the whole run, and a
// way to see whether anything asked it to end its loop.
#pragma once

#include <QApplication>
#include <QEvent>
#include <QObject>

namespace tc::testing {

inline QApplication& application() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: tearing Qt down among the other statics at exit is not safe.
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Counts the requests to end the application's loop.
struct QuitWatch : QObject {
    int count = 0;
    QuitWatch() { qApp->installEventFilter(this); }
    ~QuitWatch() override { qApp->removeEventFilter(this); }
    bool eventFilter(QObject* watched, QEvent* e) override {
        if (watched == qApp && e->type() == QEvent::Quit) ++count;
        return false;
    }
};

}  // namespace tc::testing
