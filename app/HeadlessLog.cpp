#include "app/HeadlessLog.h"

namespace tc::app {

namespace {
const char* const kIndicators[] = {"LabelDevice", "LabelEPROM", "LabelChecksum",
                                   "Label6",      "Label9",     "Label10"};
const char* const kLampNames[] = {"grey", "red", "green"};
}  // namespace

HeadlessLog::HeadlessLog(ui::Form& form, platform::EventLoop& loop, std::ostream& out)
    : loop_(loop), out_(out) {
    std::vector<std::string> names(std::begin(kIndicators), std::end(kIndicators));
    names.push_back("Memo1");
    names.push_back("CoolTrayIcon1");
    for (const auto& n : names) {
        if (auto* c = form.tryFind(n)) {
            c->addObserver(this);
            watched_.push_back(c);
        }
    }
}

HeadlessLog::~HeadlessLog() {
    for (auto* c : watched_) c->removeObserver(this);
}

void HeadlessLog::line(const std::string& text) {
    out_ << platform::formatTimeStamp(loop_.now()) << ' ' << text << '\n';
    out_.flush();
}

void HeadlessLog::error(const std::string& text) {
    line("error: " + text);
}

void HeadlessLog::changed(ui::Control& c, ui::Change what) {
    if (c.kind() == ui::Kind::Memo) {
        if (what == ui::Change::LineAdded) line(static_cast<ui::Memo&>(c).lines().back());
        return;
    }
    if (c.kind() == ui::Kind::TrayLamp) {
        const int i = static_cast<ui::TrayLamp&>(c).index();
        line(std::string("lamp: ") + (i >= 0 && i < 3 ? kLampNames[i] : "?"));
        return;
    }
    if (what == ui::Change::Text) line(c.name() + ": " + c.text());
}

}  // namespace tc::app
