#include "tools/station/StationClient.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "platform/Calendar.h"
#include "platform/Error.h"

namespace tc::tools {

using station::CommandId;
using Clock = std::chrono::steady_clock;
using WallClock = std::chrono::system_clock;

namespace {

constexpr long long kLongestWait = 24LL * 3600 * 1000;  // a day, for any of the waits

std::optional<long long> parseCount(std::string_view text, long long lo, long long hi) {
    long long v = 0;
    const auto* end = text.data() + text.size();
    const auto [p, ec] = std::from_chars(text.data(), end, v);
    if (text.empty() || ec != std::errc() || p != end || v < lo || v > hi) return std::nullopt;
    return v;
}

bool contains(std::span<const std::string_view> words, std::string_view w) {
    return std::find(words.begin(), words.end(), w) != words.end();
}

bool beginsLongerWord(std::string_view w) {
    for (const auto other : station::allReplyWords())
        if (other.size() > w.size() && other.starts_with(w)) return true;
    return false;
}

// One line whatever the text holds.
std::string printable(std::string_view text) {
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\\') {
            out += "\\\\";
        } else if (u < 0x20 || u >= 0x7F) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string stamp(WallClock::time_point t) {
    const std::time_t secs = WallClock::to_time_t(t);
    std::tm tm{};
    localtime_r(&secs, &tm);
    platform::LocalDateTime d;
    d.year = tm.tm_year + 1900;
    d.month = tm.tm_mon + 1;
    d.day = tm.tm_mday;
    d.hour = tm.tm_hour;
    d.minute = tm.tm_min;
    d.second = tm.tm_sec;
    d.millisecond = int(std::chrono::duration_cast<Millis>(t.time_since_epoch()).count() % 1000);
    return platform::formatTimeStamp(d);
}

std::string hostAndPort(const std::string& host, std::uint16_t port) {
    const bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

int pollMillis(Clock::time_point until) {
    const auto left = std::chrono::ceil<Millis>(until - Clock::now()).count();
    return int(std::clamp<long long>(left, 1, kLongestWait));
}

// Waits for `events` on `fd` until `until`; false when the time ran out.
bool waitFor(int fd, short events, Clock::time_point until) {
    while (Clock::now() < until) {
        pollfd p{fd, events, 0};
        const int r = ::poll(&p, 1, pollMillis(until));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) platform::throwErrno("poll");
    }
    return false;
}

int exitStatusOf(ReplyStatus s) {
    switch (s) {
        case ReplyStatus::Good:
            return ExitOk;
        case ReplyStatus::Failed:
        case ReplyStatus::Unexpected:
            return ExitFailed;
        case ReplyStatus::TimedOut:
            return ExitTimedOut;
        case ReplyStatus::Closed:
            break;
    }
    return ExitConnection;
}

}  // namespace

std::string usageText() {
    return R"(Usage: touchcal-station [--host H] [--port N] [--timeout MS] [--quiet MS] COMMAND...
       touchcal-station [--host H] [--port N] [--timeout MS] [--round-wait MS] --cycle
       touchcal-station --help

Sends each COMMAND to a running touchcal as one text (exactly its bytes, no line end),
waits for its reply and prints both with the time and how long the reply took.

  --host H         the program's host name or address (default 127.0.0.1)
  --port N         its station port (default 10000)
  --timeout MS     how long each command may wait for its reply (default 10000)
  --quiet MS       a reply that is a text of the program's ("GetVender" ...) ends when no
                   further byte has come for this long (default 300)
  --cycle          one unit: ReadyToAcquire (READY), the pen round, DrawFinished (DATA_OK),
                   WriteROM (ROM_OK), WriteBarCode (BARCODE_OK), then ReportError, which
                   is asked even when a step has failed; the cycle stops at the first step
                   that fails
  --round-wait MS  with --cycle: time for the pen round after READY (default 2500)
  --               everything after it is a command, even when it begins with --

A reply fails when it is a ..._NG word, NO_DEVICE or UNKNOWED_COMMAND, or is not a reply
of its command; ReportError's words are answers, not failures. Every command is sent in
turn; a time-out or a closed connection ends the run. The program answers only its oldest
station connection: while another station is connected, this one gets no replies.

Exit status: 0 every reply good, 1 a failed or unexpected reply, 2 a bad command line,
3 no reply in time, 4 no connection, or the connection closed.
)";
}

ParsedArguments parseArguments(std::span<const std::string> args) {
    ClientOptions o;
    bool optionsEnd = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnd || !a.starts_with("-") || a == "-") {
            if (a.empty())
                return {std::nullopt,
                        "an empty command cannot be sent: the program would see "
                        "no text at all"};
            o.commands.push_back(a);
            continue;
        }
        if (a == "--") {
            optionsEnd = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            o.help = true;
            return {o, {}};
        }
        if (a == "--cycle") {
            o.cycle = true;
            continue;
        }
        // An option with a value: "--name value" or "--name=value".
        std::string name = a;
        std::optional<std::string> value;
        if (const auto eq = a.find('='); eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        }
        const bool takesValue = name == "--host" || name == "--port" || name == "--timeout" ||
                                name == "--quiet" || name == "--round-wait";
        if (!takesValue) return {std::nullopt, "unknown option '" + name + "'"};
        if (!value) {
            if (i + 1 >= args.size()) return {std::nullopt, name + " needs a value"};
            value = args[++i];
        }
        if (name == "--host") {
            if (value->empty()) return {std::nullopt, "--host needs a host name or address"};
            o.host = *value;
        } else if (name == "--port") {
            const auto v = parseCount(*value, 1, 65535);
            if (!v)
                return {std::nullopt,
                        "--port takes a number from 1 to 65535, not '" + *value + "'"};
            o.port = std::uint16_t(*v);
        } else {
            const long long lo = name == "--round-wait" ? 0 : 1;
            const auto v = parseCount(*value, lo, kLongestWait);
            if (!v)
                return {std::nullopt, name + " takes milliseconds from " + std::to_string(lo) +
                                          " to " + std::to_string(kLongestWait) + ", not '" +
                                          *value + "'"};
            (name == "--timeout" ? o.timeout
             : name == "--quiet" ? o.quiet
                                 : o.roundWait) = Millis(*v);
        }
    }
    if (o.cycle && !o.commands.empty())
        return {std::nullopt, "--cycle sends its own commands; give either --cycle or COMMAND..."};
    if (!o.cycle && o.commands.empty())
        return {std::nullopt, "nothing to send: give COMMAND... or --cycle"};
    return {o, {}};
}

std::optional<std::vector<std::string_view>> splitReplyWords(std::string_view text) {
    if (text.empty()) return std::nullopt;
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < text.size()) {
        std::string_view best;
        for (const auto w : station::allReplyWords())
            if (w.size() > best.size() && text.substr(at).starts_with(w)) best = w;
        if (best.empty()) return std::nullopt;
        words.push_back(best);
        at += best.size();
    }
    return words;
}

bool isFailureWord(std::string_view word) {
    return word.ends_with("_NG") || word == station::ReplyNoDevice ||
           word == station::ReplyUnknownCommand;
}

std::string_view statusName(ReplyStatus s) {
    switch (s) {
        case ReplyStatus::Good:
            return "good";
        case ReplyStatus::Failed:
            return "failed";
        case ReplyStatus::Unexpected:
            return "unexpected";
        case ReplyStatus::TimedOut:
            return "timed out";
        case ReplyStatus::Closed:
            break;
    }
    return "closed";
}

ReplyReading readReply(CommandId id, std::string_view received, bool settled) {
    ReplyReading r;
    if (received.empty()) return r;
    const auto own = station::possibleReplies(id);
    const bool anyWord = id == CommandId::Unknown;
    if (!own.empty()) {
        if (const auto words = splitReplyWords(received)) {
            const auto mine = std::find_if(words->begin(), words->end(), [&](std::string_view w) {
                return anyWord || contains(own, w);
            });
            if (mine != words->end()) {
                r.reply = *mine;
                for (auto w = words->begin(); w != words->end(); ++w)
                    if (w != mine) r.others.emplace_back(*w);
                r.complete = settled || !beginsLongerWord(words->back());
                return r;
            }
            // Only words of other commands: a late reply; this one's may still come.
            return r;
        }
    }
    r.reply = received;
    r.complete = settled;
    return r;
}

ReplyStatus judgeReply(CommandId id, const ReplyReading& reading) {
    const auto own = station::possibleReplies(id);
    if (own.empty()) return ReplyStatus::Good;  // a text of the program's
    if (isFailureWord(reading.reply)) return ReplyStatus::Failed;
    if (id == CommandId::Unknown || contains(own, reading.reply)) return ReplyStatus::Good;
    return ReplyStatus::Unexpected;
}

StationClient::StationClient(const std::string& host, std::uint16_t port, Millis timeout) {
    const std::string where = hostAndPort(host, port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo* found = nullptr;
    const std::string service = std::to_string(port);
    if (const int e = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found); e != 0)
        throw std::runtime_error("cannot connect to " + where + ": " + ::gai_strerror(e));
    std::unique_ptr<addrinfo, decltype(&::freeaddrinfo)> list(found, ::freeaddrinfo);
    const auto until = Clock::now() + timeout;
    std::string reason = "no address";
    for (const addrinfo* a = found; a; a = a->ai_next) {
        platform::UniqueFd fd(
            ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol));
        if (!fd) {
            reason = platform::errnoText(errno);
            continue;
        }
        int error = 0;
        if (::connect(fd.get(), a->ai_addr, a->ai_addrlen) != 0) {
            // A signal breaking in leaves the connect going on, like a non-blocking one.
            if (errno != EINPROGRESS && errno != EINTR) {
                reason = platform::errnoText(errno);
                continue;
            }
            if (!waitFor(fd.get(), POLLOUT, until)) {
                reason = "no answer within " + std::to_string(timeout.count()) + " ms";
                break;
            }
            socklen_t len = sizeof error;
            ::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &error, &len);
        }
        if (error == 0) {
            fd_ = std::move(fd);
            return;
        }
        reason = platform::errnoText(error);
    }
    throw std::runtime_error("cannot connect to " + where + ": " + reason);
}

std::string StationClient::takeWaiting() {
    std::string got;
    while (!closed_) {
        char buf[4096];
        const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
        if (n > 0) {
            got.append(buf, std::size_t(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            closed_ = true;
        }
    }
    if (closed_ && got.empty()) throw std::runtime_error("the program closed the connection");
    return got;
}

Exchange StationClient::ask(const std::string& command, Millis timeout, Millis quiet) {
    Exchange ex;
    ex.command = command;
    const CommandId id = station::matchCommand(command);
    const auto sent = Clock::now();
    ex.sentAt = WallClock::now();
    const auto deadline = sent + timeout;
    std::optional<Clock::time_point> lastByte;
    const auto finish = [&](ReplyStatus status) {
        ex.status = status;
        const auto end = lastByte && status != ReplyStatus::TimedOut ? *lastByte : Clock::now();
        ex.duration = std::chrono::duration_cast<Millis>(end - sent);
        ex.repliedAt = ex.sentAt + std::chrono::duration_cast<WallClock::duration>(end - sent);
        return ex;
    };
    const auto endOfConnection = [&] {
        closed_ = true;
        ex.reading = readReply(id, ex.received, true);
        return finish(ex.reading.complete ? judgeReply(id, ex.reading) : ReplyStatus::Closed);
    };

    // The command's bytes as they are.
    std::size_t off = 0;
    while (off < command.size()) {
        if (closed_) return finish(ReplyStatus::Closed);
        const ssize_t n =
            ::send(fd_.get(), command.data() + off, command.size() - off, MSG_NOSIGNAL);
        if (n >= 0) {
            off += std::size_t(n);
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!waitFor(fd_.get(), POLLOUT, deadline)) return finish(ReplyStatus::TimedOut);
        } else if (errno != EINTR) {
            closed_ = true;
            return finish(ReplyStatus::Closed);
        }
    }

    for (;;) {
        const auto now = Clock::now();
        const bool settled = lastByte && now - *lastByte >= quiet;
        ex.reading = readReply(id, ex.received, settled);
        if (ex.reading.complete) return finish(judgeReply(id, ex.reading));
        if (now >= deadline) {
            if (ex.received.empty()) return finish(ReplyStatus::TimedOut);
            ex.reading = readReply(id, ex.received, true);
            if (ex.reading.complete) return finish(judgeReply(id, ex.reading));
            // Bytes came, but none of them this command's reply.
            ex.reading.complete = true;
            if (const auto words = splitReplyWords(ex.received))
                ex.reading.others.assign(words->begin(), words->end());
            return finish(ReplyStatus::Unexpected);
        }
        const auto until = lastByte && !settled ? std::min(deadline, *lastByte + quiet) : deadline;
        pollfd p{fd_.get(), POLLIN, 0};
        const int r = ::poll(&p, 1, pollMillis(until));
        if (r < 0 && errno != EINTR) platform::throwErrno("poll");
        if (r <= 0) continue;
        char buf[4096];
        const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
        if (n > 0) {
            ex.received.append(buf, std::size_t(n));
            lastByte = Clock::now();
        } else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
            return endOfConnection();
        }
    }
}

namespace {

// One run of the client: the exchanges and what they are printed as.
class Session {
public:
    Session(StationClient& client, const ClientOptions& o, std::ostream& out, std::ostream& err)
        : client_(client), o_(o), out_(out), err_(err) {}

    int commands() {
        int status = ExitOk;
        for (const auto& c : o_.commands) {
            const Exchange ex = exchange(c);
            if (status == ExitOk) status = exitStatusOf(ex.status);
            if (ex.status == ReplyStatus::TimedOut || ex.status == ReplyStatus::Closed) break;
        }
        return status;
    }

    int cycle() {
        struct Step {
            std::string_view command, expected;
        };
        const Step steps[] = {
            {"ReadyToAcquire", station::ReplyReady},
            {"DrawFinished", station::ReplyDataOk},
            {"WriteROM", station::ReplyRomOk},
            {"WriteBarCode", station::ReplyBarcodeOk},
        };
        int status = ExitOk;
        std::string failedAt;
        bool closed = false;
        for (const auto& s : steps) {
            const Exchange ex = exchange(std::string(s.command));
            if (ex.status != ReplyStatus::Good || ex.reading.reply != s.expected) {
                status = ex.status == ReplyStatus::Good ? ExitFailed : exitStatusOf(ex.status);
                failedAt = std::string(s.command) + " (expected " + std::string(s.expected) + ")";
                closed = ex.status == ReplyStatus::Closed;
                break;
            }
            if (s.command == "ReadyToAcquire") {
                line(WallClock::now(),
                     "waiting " + std::to_string(o_.roundWait.count()) + " ms for the pen round");
                std::this_thread::sleep_for(o_.roundWait);
            }
        }
        if (!closed) {
            const Exchange ex = exchange("ReportError");
            if (status == ExitOk) status = exitStatusOf(ex.status);
        }
        if (failedAt.empty() && status == ExitOk)
            line(WallClock::now(), "cycle passed");
        else
            line(WallClock::now(), "cycle failed" + (failedAt.empty() ? "" : " at " + failedAt));
        return status;
    }

private:
    Exchange exchange(const std::string& command) {
        try {
            if (const std::string late = client_.takeWaiting(); !late.empty())
                line(WallClock::now(), "< " + printable(late) + " (came late, before " +
                                           printable(command) + " was sent)");
        } catch (const std::runtime_error&) {
            // The ask below reports the closed connection.
        }
        line(WallClock::now(), "> " + printable(command));
        const Exchange ex = client_.ask(command, o_.timeout, o_.quiet);
        const std::string took = " (" + std::to_string(ex.duration.count()) + " ms)";
        switch (ex.status) {
            case ReplyStatus::Good:
                line(ex.repliedAt, "< " + printable(ex.reading.reply) + took);
                break;
            case ReplyStatus::Failed:
                line(ex.repliedAt, "< " + printable(ex.reading.reply) + took + " failed");
                break;
            case ReplyStatus::Unexpected:
                line(ex.repliedAt, "< " + printable(ex.received) + took + " unexpected: not a " +
                                       "reply of " + printable(command));
                break;
            case ReplyStatus::TimedOut:
                err_ << "touchcal-station: no reply to " << printable(command) << " within "
                     << o_.timeout.count() << " ms" << timeoutHint(command) << std::endl;
                break;
            case ReplyStatus::Closed:
                err_ << "touchcal-station: the program closed the connection before "
                     << printable(command) << " was answered" << std::endl;
                break;
        }
        if (ex.status != ReplyStatus::Unexpected && !ex.reading.others.empty()) {
            std::string words;
            for (const auto& w : ex.reading.others) words += (words.empty() ? "" : " ") + w;
            line(ex.repliedAt, "< also received: " + words);
        }
        return ex;
    }

    static std::string timeoutHint(const std::string& command) {
        const CommandId id = station::matchCommand(command);
        if (id == CommandId::WriteBarCode)
            return " (a second WriteBarCode for the same unit is not answered)";
        if (station::possibleReplies(id).empty())
            return " (an empty text comes as no bytes at all)";
        return " (is another station connected? replies go to the oldest connection)";
    }

    void line(WallClock::time_point t, const std::string& text) {
        out_ << stamp(t) << ' ' << text << std::endl;
    }

    StationClient& client_;
    const ClientOptions& o_;
    std::ostream& out_;
    std::ostream& err_;
};

}  // namespace

int runClient(const ClientOptions& options, std::ostream& out, std::ostream& err) {
    std::optional<StationClient> client;
    try {
        client.emplace(options.host, options.port, options.timeout);
    } catch (const std::runtime_error& e) {
        err << "touchcal-station: " << e.what() << std::endl;
        return ExitConnection;
    }
    Session session(*client, options, out, err);
    return options.cycle ? session.cycle() : session.commands();
}

int stationMain(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
    const ParsedArguments parsed = parseArguments(args);
    if (!parsed.options) {
        err << "touchcal-station: " << parsed.error << "\n"
            << "Try 'touchcal-station --help'." << std::endl;
        return ExitUsage;
    }
    if (parsed.options->help) {
        out << usageText();
        return ExitOk;
    }
    return runClient(*parsed.options, out, err);
}

}  // namespace tc::tools
