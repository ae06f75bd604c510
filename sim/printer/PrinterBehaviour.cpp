#include "sim/printer/PrinterBehaviour.h"

namespace tc::sim {

namespace {
constexpr std::string_view kGap = "\r\n\r\n";  // the 4 bytes between the echo and the status
}

std::string printerAnswer(std::string_view command, PrinterAnswer kind) {
    std::string a;
    switch (kind) {
        case PrinterAnswer::Silent:
        case PrinterAnswer::Disconnect:
            return a;
        case PrinterAnswer::Ok:
        case PrinterAnswer::Slow:
            a.append(command).append(kGap).append("Ok");
            return a;
        case PrinterAnswer::Error:
            a.append(command).append(kGap).append("Error");
            return a;
        case PrinterAnswer::Short:
            a.append(command).append(kGap).append("O");
            return a;
    }
    return a;
}

void PrinterBehaviour::scriptAnswers(std::vector<PrinterAnswer> answers) {
    script_.assign(answers.begin(), answers.end());
}

std::vector<PrinterReply> PrinterBehaviour::feed(std::string_view bytes) {
    std::vector<PrinterReply> replies;
    for (const char c : bytes) {
        if (c != '\n') {
            line_.push_back(c);
            if (line_.size() < kMaxLine) continue;
        }
        replies.push_back(replyTo(line_));
        line_.clear();
    }
    return replies;
}

PrinterReply PrinterBehaviour::replyTo(const std::string& command) {
    commands_.push_back(command);
    PrinterAnswer kind = answer_;
    if (!script_.empty()) {
        kind = script_.front();
        script_.pop_front();
    }
    PrinterReply r{printerAnswer(command, kind)};
    if (kind == PrinterAnswer::Slow) r.delay = slowDelay_;
    if (kind == PrinterAnswer::Disconnect) r.disconnect = true;
    return r;
}

}  // namespace tc::sim
