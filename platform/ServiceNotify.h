// Telling the service manager how the program is doing, by the datagram protocol that
// sd_notify(3) documents: each message is one datagram of KEY=VALUE lines to the Unix socket
// named in NOTIFY_SOCKET ("@name" for an abstract one). Without NOTIFY_SOCKET nothing is sent
// and every call does nothing, so the program runs the same outside a service.
//
// Threads: main thread only.
#pragma once

#include <optional>
#include <string>

#include "platform/Calendar.h"
#include "platform/EventLoop.h"
#include "platform/UniqueFd.h"

namespace tc::platform {

// What the service manager asked for, as the environment gives it.
struct ServiceEnvironment {
    std::string notifySocket;        // NOTIFY_SOCKET; empty: no service manager listens
    std::optional<Millis> watchdog;  // WATCHDOG_USEC for this process (WATCHDOG_PID, when set,
                                     // names it); nothing without a watchdog
};

// Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID. A WATCHDOG_USEC that is no positive
// whole number, or a WATCHDOG_PID of another process, means no watchdog.
ServiceEnvironment serviceEnvironment();
// The same from given texts (nullptr for a variable that is not set); `pid` is this process.
ServiceEnvironment serviceEnvironment(const char* notifySocket, const char* watchdogUsec,
                                      const char* watchdogPid, long pid);

class ServiceNotifier {
public:
    // Tells nobody.
    ServiceNotifier() = default;
    explicit ServiceNotifier(ServiceEnvironment env);
    // The watchdog's timer points at the notifier, so it stays where it was made.
    ServiceNotifier(const ServiceNotifier&) = delete;
    ServiceNotifier& operator=(const ServiceNotifier&) = delete;

    // A service manager listens (NOTIFY_SOCKET names a usable socket).
    bool enabled() const { return socket_.valid(); }

    // "READY=1": start-up has finished. `statusText`, when given, goes with it.
    void ready(const std::string& statusText = {});
    // "STATUS=<text>", one line (line breaks become blanks); a text equal to the last one
    // sent is not sent again.
    void status(const std::string& text);
    // "WATCHDOG=1".
    void watchdogPing();
    // "STOPPING=1": the program has begun to end (said once, however many ways lead there).
    void stopping();

    // Half of the watchdog time the manager gave, nothing without a watchdog.
    std::optional<Millis> watchdogInterval() const;
    // Pings from `loop` at watchdogInterval() for as long as the handle lives, so a main
    // loop that stops turning stops the pings; an empty handle without a watchdog.
    [[nodiscard]] TimerHandle startWatchdog(EventLoop& loop);

    // The errno of the last message that could not be sent, 0 after one that was.
    int lastError() const { return lastError_; }

private:
    void send(const std::string& message);

    UniqueFd socket_;
    std::string address_;  // sockaddr_un bytes of the manager's socket
    std::optional<Millis> watchdog_;
    std::string lastStatus_;
    bool stopping_ = false;
    int lastError_ = 0;
};

// Whether the descriptor is the journal's stream: JOURNAL_STREAM ("<device>:<inode>")
// names the very file that `fd` is. `journalStream` nullptr: the variable is not set.
bool isJournalStream(const char* journalStream, int fd);
// The same for standard error and the environment.
bool standardErrorIsJournal();

}  // namespace tc::platform
