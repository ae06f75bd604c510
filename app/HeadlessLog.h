// Without a window, what an operator would see goes to standard error as time-stamped
// lines: every line added to the log memo, every change of a status indicator and of the
// lamp, and every error box. When the journal reads standard error, each line starts with
// its priority ("<3>" errors, "<4>" warnings, "<6>" the rest) instead, as the journal stamps
// the time itself.
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

// The priorities of sd-daemon(3), as far as this program uses them.
enum class LogPriority { Error = 3, Warning = 4, Info = 6 };
// Plain: lines as a terminal or a file gets them. Journal: the priority prefix, no stamp.
enum class LogStyle { Plain, Journal };

// The style for standard error in this process (see platform::standardErrorIsJournal).
LogStyle standardErrorStyle();

// A line of the program itself outside the headless log ("touchcal: <text>"), with the
// priority prefix in the journal style. Written and flushed at once.
void writeProgramLine(std::ostream& out, LogStyle style, LogPriority priority,
                      const std::string& text);

class HeadlessLog : private ui::Observer {
public:
    HeadlessLog(ui::Form& form, platform::EventLoop& loop, std::ostream& out,
                LogStyle style = LogStyle::Plain);
    ~HeadlessLog() override;
    HeadlessLog(const HeadlessLog&) = delete;
    HeadlessLog& operator=(const HeadlessLog&) = delete;

    // The error box.
    void error(const std::string& text);
    // One line, whatever `text` holds (see loggableLine): time-stamped, or in the journal
    // style with its priority.
    void line(const std::string& text, LogPriority priority = LogPriority::Info);
    void warning(const std::string& text) { line(text, LogPriority::Warning); }

private:
    void changed(ui::Control& c, ui::Change what) override;

    platform::EventLoop& loop_;
    std::ostream& out_;
    LogStyle style_;
    std::vector<ui::Control*> watched_;
};

}  // namespace tc::app
