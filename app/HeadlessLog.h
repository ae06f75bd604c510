// Without a window, what an operator would see goes to standard error as time-stamped
// lines: every line added to the log memo, every change of a status indicator and of the
// lamp, and every error box.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "ui/Form.h"

namespace tc::app {

class HeadlessLog : private ui::Observer {
public:
    HeadlessLog(ui::Form& form, platform::EventLoop& loop, std::ostream& out);
    ~HeadlessLog() override;
    HeadlessLog(const HeadlessLog&) = delete;
    HeadlessLog& operator=(const HeadlessLog&) = delete;

    // The error box.
    void error(const std::string& text);
    void line(const std::string& text);

private:
    void changed(ui::Control& c, ui::Change what) override;

    platform::EventLoop& loop_;
    std::ostream& out_;
    std::vector<ui::Control*> watched_;
};

}  // namespace tc::app
