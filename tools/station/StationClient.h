// touchcal-station: a test station on the command line. It sends station commands to a
// running touchcal over TCP, waits for each reply, prints it with its time and duration,
// and says through its exit status whether every reply was a good one.
//
// The program sends its replies without any terminator, so a reply is taken as complete
// when the bytes received form one of the words the command answers with (at once, unless
// that word is also the beginning of a longer one), or, for the commands that answer with a
// text of their own ("GetVender" ...), when no further byte has come for a quiet gap.
#pragma once

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UniqueFd.h"
#include "station/StationProtocol.h"

namespace tc::tools {

using Millis = std::chrono::milliseconds;

// Exit statuses.
inline constexpr int ExitOk = 0;          // every reply was a good one
inline constexpr int ExitFailed = 1;      // a failure word or a reply the command does not give
inline constexpr int ExitUsage = 2;       // the command line was not understood
inline constexpr int ExitTimedOut = 3;    // a reply did not come (complete) in time
inline constexpr int ExitConnection = 4;  // no connection, or the program closed it

struct ClientOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = 10000;
    Millis timeout{10000};   // per command, from sending it to its complete reply
    Millis quiet{300};       // bytes stopping this long end a reply that is not a known word
    Millis roundWait{2500};  // --cycle: the pen round between ReadyToAcquire and DrawFinished
    bool cycle = false;
    bool help = false;
    std::vector<std::string> commands;  // sent as they are, in order
};

// The command line without the program's name: the options, or what is wrong with it.
struct ParsedArguments {
    std::optional<ClientOptions> options;
    std::string error;
};
ParsedArguments parseArguments(std::span<const std::string> args);
std::string usageText();

// The text as known reply words back to back, the longest word first at each place;
// nothing when the text is not made of them (or is empty).
std::optional<std::vector<std::string_view>> splitReplyWords(std::string_view text);

// The words taken as a command's failure: every "..._NG" word, "NO_DEVICE" and
// "UNKNOWED_COMMAND". "ReportError"'s words are answers, not failures.
bool isFailureWord(std::string_view word);

enum class ReplyStatus {
    Good,        // the reply, and not a failure word
    Failed,      // a failure word
    Unexpected,  // bytes that are not a reply of this command
    TimedOut,    // nothing within the time-out
    Closed,      // the program closed the connection first
};
std::string_view statusName(ReplyStatus s);

// What has arrived for one command, read as its reply.
struct ReplyReading {
    bool complete = false;            // nothing more to wait for
    std::string reply;                // the command's own reply (everything, for a text reply)
    std::vector<std::string> others;  // known words that came with it but are not its reply
};
// `received`: every byte taken since the command was sent. `settled`: no byte has come
// for the quiet gap. A word command is complete at a word of its own (when that word
// begins no longer word, or once settled), or once settled on bytes that are not words;
// words of other commands alone (a late reply) keep it waiting. A text command, and a text
// that is no command, is complete once settled.
ReplyReading readReply(station::CommandId id, std::string_view received, bool settled);
// How a complete reading counts.
ReplyStatus judgeReply(station::CommandId id, const ReplyReading& reading);

// One command and its reply.
struct Exchange {
    std::string command;
    ReplyReading reading;
    ReplyStatus status = ReplyStatus::TimedOut;
    std::string received;  // every byte taken while waiting, as it came
    std::chrono::system_clock::time_point sentAt;
    std::chrono::system_clock::time_point repliedAt;  // the last byte of the reply
    Millis duration{0};                               // from sending to that byte
};

// A connection to the program, non-blocking underneath; every wait is bounded.
class StationClient {
public:
    // Resolves `host` (IPv4 or IPv6) and connects within `timeout`. Throws
    // std::runtime_error "cannot connect to <host>:<port>: <reason>".
    StationClient(const std::string& host, std::uint16_t port, Millis timeout);

    // What has arrived unasked (a late reply of an earlier command), without waiting.
    // Throws std::runtime_error when the program has closed the connection.
    std::string takeWaiting();
    // Sends the command's bytes as they are and waits for its reply.
    Exchange ask(const std::string& command, Millis timeout, Millis quiet);

private:
    platform::UniqueFd fd_;
    bool closed_ = false;
};

// Runs what the options ask for, writing every exchange to `out` and problems to `err`;
// returns the exit status.
int runClient(const ClientOptions& options, std::ostream& out, std::ostream& err);
// The whole program: parse, then --help or run.
int stationMain(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace tc::tools
