// What the virtual label printer does with the bytes it is sent: it splits them into
// command lines (each ended by a line feed), remembers every command, and answers each
// one the way the switches say. The answer the label job accepts is the command echoed,
// a blank line (CR LF CR LF), then "Ok": L + 4 bytes before the "Ok", L being the
// command's length.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

namespace tc::sim {

enum class PrinterAnswer {
    Ok,          // echo, CR LF CR LF, "Ok"
    Silent,      // nothing at all
    Error,       // echo, CR LF CR LF, "Error": no "Ok" where the job looks
    Short,       // echo, CR LF CR LF, "O": one byte short of an acknowledgement
    Slow,        // the Ok answer, but only after the slow delay
    Disconnect,  // the printer goes away (its end of the line closes)
};

// The bytes of an answer to `command` (without its line feed); empty for Silent and
// Disconnect. Slow gives the Ok bytes.
std::string printerAnswer(std::string_view command, PrinterAnswer kind);

struct PrinterReply {
    std::string bytes;
    std::chrono::milliseconds delay{0};
    bool disconnect = false;
};

class PrinterBehaviour {
public:
    // A line longer than this without a line feed is taken as a command as it stands.
    static constexpr std::size_t kMaxLine = 64 * 1024;
    // Past the label job's longest answer wait (1200 ms).
    static constexpr std::chrono::milliseconds kDefaultSlowDelay{2000};

    // The answer to every command from now on (Ok at the start).
    void setAnswer(PrinterAnswer a) { answer_ = a; }
    // Answers for the next commands, one each in order; then the answer above again.
    void scriptAnswers(std::vector<PrinterAnswer> answers);
    void setSlowDelay(std::chrono::milliseconds d) { slowDelay_ = d; }

    // Takes bytes from the line; returns one reply per completed command.
    std::vector<PrinterReply> feed(std::string_view bytes);
    // Forgets a command line that has not been ended yet.
    void dropPartialLine() { line_.clear(); }

    const std::vector<std::string>& commands() const { return commands_; }
    void clearCommands() { commands_.clear(); }

private:
    PrinterReply replyTo(const std::string& command);

    PrinterAnswer answer_ = PrinterAnswer::Ok;
    std::deque<PrinterAnswer> script_;
    std::chrono::milliseconds slowDelay_ = kDefaultSlowDelay;
    std::string line_;
    std::vector<std::string> commands_;
};

}  // namespace tc::sim
