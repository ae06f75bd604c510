#include "platform/ServiceNotify.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace tc::platform {

namespace {

// A whole unsigned decimal number and nothing else.
std::optional<unsigned long long> wholeNumber(std::string_view text) {
    unsigned long long v = 0;
    const auto* end = text.data() + text.size();
    const auto r = std::from_chars(text.data(), end, v);
    if (text.empty() || r.ec != std::errc{} || r.ptr != end) return std::nullopt;
    return v;
}

// The socket address of NOTIFY_SOCKET: a path, or "@name" for the abstract namespace.
// Anything else (an empty text, a relative path, a name too long for sun_path, another
// transport) gives nothing.
std::optional<std::string> unixAddress(const std::string& name) {
    if (name.size() < 2 || (name[0] != '/' && name[0] != '@')) return std::nullopt;
    sockaddr_un a{};
    if (name.size() > sizeof a.sun_path - (name[0] == '/' ? 1 : 0)) return std::nullopt;
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, name.data(), name.size());
    std::size_t length = offsetof(sockaddr_un, sun_path) + name.size();
    if (name[0] == '@')
        a.sun_path[0] = '\0';
    else
        ++length;  // the terminating zero of a path
    return std::string(reinterpret_cast<const char*>(&a), length);
}

}  // namespace

ServiceEnvironment serviceEnvironment(const char* notifySocket, const char* watchdogUsec,
                                      const char* watchdogPid, long pid) {
    ServiceEnvironment env;
    if (notifySocket) env.notifySocket = notifySocket;
    if (watchdogPid) {
        const auto p = wholeNumber(watchdogPid);
        if (!p || *p != static_cast<unsigned long long>(pid)) return env;
    }
    if (watchdogUsec) {
        const auto us = wholeNumber(watchdogUsec);
        if (us && *us > 0) env.watchdog = Millis(std::max<unsigned long long>(*us / 1000, 1));
    }
    return env;
}

ServiceEnvironment serviceEnvironment() {
    return serviceEnvironment(std::getenv("NOTIFY_SOCKET"), std::getenv("WATCHDOG_USEC"),
                              std::getenv("WATCHDOG_PID"), long(::getpid()));
}

ServiceNotifier::ServiceNotifier(ServiceEnvironment env) {
    const auto address = unixAddress(env.notifySocket);
    if (!address) return;
    UniqueFd fd(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd) {
        lastError_ = errno;
        return;
    }
    socket_ = std::move(fd);
    address_ = *address;
    watchdog_ = env.watchdog;
}

void ServiceNotifier::send(const std::string& message) {
    if (!enabled()) return;
    for (;;) {
        const ssize_t n = ::sendto(socket_.get(), message.data(), message.size(), MSG_NOSIGNAL,
                                   reinterpret_cast<const sockaddr*>(address_.data()),
                                   socklen_t(address_.size()));
        if (n >= 0) {
            lastError_ = 0;
            return;
        }
        if (errno != EINTR) break;
    }
    // The manager went away or its queue is full: the message is lost, the program goes on.
    lastError_ = errno;
}

void ServiceNotifier::ready(const std::string& statusText) {
    if (!enabled()) return;
    std::string message = "READY=1";
    if (!statusText.empty()) {
        std::string line = statusText;
        for (char& c : line)
            if (c == '\n' || c == '\r') c = ' ';
        message += "\nSTATUS=" + line;
        lastStatus_ = line;
    }
    send(message);
}

void ServiceNotifier::status(const std::string& text) {
    if (!enabled()) return;
    std::string line = text;
    for (char& c : line)
        if (c == '\n' || c == '\r') c = ' ';
    if (line == lastStatus_) return;
    lastStatus_ = line;
    send("STATUS=" + line);
}

void ServiceNotifier::watchdogPing() {
    send("WATCHDOG=1");
}

void ServiceNotifier::stopping() {
    if (stopping_) return;
    stopping_ = true;
    send("STOPPING=1");
}

std::optional<Millis> ServiceNotifier::watchdogInterval() const {
    if (!enabled() || !watchdog_) return std::nullopt;
    return std::max(*watchdog_ / 2, Millis(1));
}

TimerHandle ServiceNotifier::startWatchdog(EventLoop& loop) {
    const auto interval = watchdogInterval();
    if (!interval) return {};
    return loop.every(*interval, [this] { watchdogPing(); });
}

bool isJournalStream(const char* journalStream, int fd) {
    if (!journalStream) return false;
    const std::string_view text(journalStream);
    const auto colon = text.find(':');
    if (colon == std::string_view::npos) return false;
    const auto device = wholeNumber(text.substr(0, colon));
    const auto inode = wholeNumber(text.substr(colon + 1));
    struct stat st {};
    if (!device || !inode || ::fstat(fd, &st) != 0) return false;
    return static_cast<unsigned long long>(st.st_dev) == *device &&
           static_cast<unsigned long long>(st.st_ino) == *inode;
}

bool standardErrorIsJournal() {
    return isJournalStream(std::getenv("JOURNAL_STREAM"), STDERR_FILENO);
}

}  // namespace tc::platform
