#include "app/HeadlessLog.h"

#include <algorithm>

#include "platform/ServiceNotify.h"

namespace tc::app {

namespace {
const char* const kIndicators[] = {"LabelDevice", "LabelEPROM", "LabelChecksum",
                                   "Label6",      "Label9",     "Label10"};
const char* const kLampNames[] = {"grey", "red", "green"};

void appendHex(std::string& out, unsigned char b) {
    static const char kDigits[] = "0123456789abcdef";
    out += "\\x";
    out += kDigits[b >> 4];
    out += kDigits[b & 0x0F];
}

// Length of the well-formed UTF-8 sequence at the start of `s` and its code point, or 0.
std::size_t decodeUtf8(std::string_view s, char32_t& cp) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = b(0);
    std::size_t n;
    char32_t min;
    if (lead >= 0xC2 && lead <= 0xDF) {
        n = 2, cp = lead & 0x1F, min = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        n = 3, cp = lead & 0x0F, min = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        n = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (s.size() < n) return 0;
    for (std::size_t i = 1; i < n; ++i) {
        if ((b(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b(i) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return n;
}

// Characters that a terminal or a log viewer takes as a line break or as a change of
// the order in which the text around them is shown.
bool breaksLines(char32_t cp) {
    return (cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029 ||
           (cp >= 0x202A && cp <= 0x202E) || (cp >= 0x2066 && cp <= 0x2069) || cp == 0x200E ||
           cp == 0x200F || cp == 0x061C;
}

}  // namespace

std::string loggableLine(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            char32_t cp = 0;
            const std::size_t n = decodeUtf8(text.substr(i), cp);
            if (n > 0 && !breaksLines(cp)) {
                out.append(text.substr(i, n));
            } else {
                for (std::size_t k = 0; k < std::max<std::size_t>(n, 1); ++k)
                    appendHex(out, static_cast<unsigned char>(text[i + k]));
            }
            i += std::max<std::size_t>(n, 1);
            continue;
        }
        switch (c) {
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                if (c < 0x20 || c == 0x7F)
                    appendHex(out, c);
                else
                    out += char(c);
        }
        ++i;
    }
    return out;
}

LogStyle standardErrorStyle() {
    return platform::standardErrorIsJournal() ? LogStyle::Journal : LogStyle::Plain;
}

namespace {

void finishLine(std::ostream& out) {
    out.flush();
    // A line that could not be written (a full disk, a reader gone) is lost; the next one
    // is tried again rather than the stream staying failed for good.
    if (!out) out.clear();
}

}  // namespace

void writeProgramLine(std::ostream& out, LogStyle style, LogPriority priority,
                      const std::string& text) {
    if (style == LogStyle::Journal) out << '<' << int(priority) << '>';
    out << "touchcal: " << loggableLine(text) << '\n';
    finishLine(out);
}

HeadlessLog::HeadlessLog(ui::Form& form, platform::EventLoop& loop, std::ostream& out,
                         LogStyle style)
    : loop_(loop), out_(out), style_(style) {
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

void HeadlessLog::line(const std::string& text, LogPriority priority) {
    if (style_ == LogStyle::Journal)
        out_ << '<' << int(priority) << '>';
    else
        out_ << platform::formatTimeStamp(loop_.now()) << ' ';
    out_ << loggableLine(text) << '\n';
    finishLine(out_);
}

void HeadlessLog::error(const std::string& text) {
    line("error: " + text, LogPriority::Error);
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
