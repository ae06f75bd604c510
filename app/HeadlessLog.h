// Without a window, what an operator would see goes to standard error as time-stamped
// lines: every line added to the log memo, every change of a status indicator and of the
// lamp, and every error box.
#pragma once

#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventLoop.h"
#include "ui/Form.h"

namespace tc::app {

// `text` made safe to be one line of a log: every control character is written out
// (\r, \n, \t, \\ and \xHH for the other bytes), and so is every byte that is not part of
// well-formed UTF-8 and every character that breaks or reorders lines on a terminal
// (C1 controls, line and paragraph separators, direction overrides), as its bytes in
// \xHH. Everything else passes unchanged, so the result reads back to exactly `text`.
std::string loggableLine(std::string_view text);

class HeadlessLog : private ui::Observer {
public:
    HeadlessLog(ui::Form& form, platform::EventLoop& loop, std::ostream& out);
    ~HeadlessLog() override;
    HeadlessLog(const HeadlessLog&) = delete;
    HeadlessLog& operator=(const HeadlessLog&) = delete;

    // The error box.
    void error(const std::string& text);
    // One time-stamped line, whatever `text` holds (see loggableLine).
    void line(const std::string& text);

private:
    void changed(ui::Control& c, ui::Change what) override;

    platform::EventLoop& loop_;
    std::ostream& out_;
    std::vector<ui::Control*> watched_;
};

}  // namespace tc::app
