// The main thread's event loop: the one place where timers, posted work, hand-overs from
// other threads, file-descriptor readiness and the idle hook are run. All of the program's
// own logic runs inside it, one handler at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace tc::platform {

using Millis = std::chrono::milliseconds;
using Task = std::function<void()>;

// Local calendar time as the program shows and stores it.
struct LocalDateTime {
    int year = 2000;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

// Readiness of a watched descriptor.
enum class FdEvent : unsigned { None = 0, Read = 1, Write = 2, Error = 4, HangUp = 8 };
constexpr FdEvent operator|(FdEvent a, FdEvent b) {
    return FdEvent(unsigned(a) | unsigned(b));
}
constexpr FdEvent operator&(FdEvent a, FdEvent b) {
    return FdEvent(unsigned(a) & unsigned(b));
}
constexpr bool any(FdEvent e) {
    return e != FdEvent::None;
}

using TimerId = std::uint64_t;
using WatchId = std::uint64_t;

class EventLoop {
public:
    // Receives the text of an exception that escaped a handler. Until one is set the
    // text goes to standard error.
    using ErrorSink = std::function<void(const std::string&)>;

    virtual ~EventLoop() = default;

    // --- timers (main thread) ---
    // A repeating timer: `tick` runs every `interval` from now until it is stopped.
    virtual TimerId startTimer(Millis interval, Task tick) = 0;
    virtual void stopTimer(TimerId id) = 0;

    // --- work from any thread ---
    // Queue `task` to run on the main thread; returns at once.
    virtual void post(Task task) = 0;
    // Run `task` on the main thread and wait until it has returned. On the main thread it
    // runs at once. An exception in the task goes to the error sink, not to the caller.
    virtual void invokeAndWait(Task task) = 0;

    // --- main thread only ---
    // Run everything that is pending now (posted work, due timers, ready descriptors),
    // once. The idle hook does not run inside it.
    virtual void processMessages() = 0;
    // Run only the work queued from other threads (posts and hand-overs). A main thread
    // that waits for a worker uses it so the worker's hand-overs never deadlock.
    virtual void runQueuedWork() = 0;
    // Block the main thread; nothing runs meanwhile, work from other threads queues up.
    virtual void sleep(Millis duration) = 0;
    // Runs each time the queue becomes empty, before the loop waits. It must not post work.
    virtual void setIdleHook(Task hook) = 0;

    // Watch a descriptor for readiness; `handler` runs on the main thread with what is
    // ready. Error and hang-up are always reported.
    virtual WatchId watchFd(int fd, FdEvent events, std::function<void(FdEvent)> handler) = 0;
    virtual void setWatchEvents(WatchId id, FdEvent events) = 0;
    virtual void removeWatch(WatchId id) = 0;

    // Local date and time, and a monotonic clock in milliseconds.
    virtual LocalDateTime now() const = 0;
    virtual Millis monotonic() const = 0;

    // Run until quit(); quit may be called from any handler.
    virtual void run() = 0;
    virtual void quit() = 0;

    virtual bool isMainThread() const = 0;

    void setErrorSink(ErrorSink sink) { errorSink_ = std::move(sink); }
    // Show the text of an error the way the program's error box does.
    void reportError(const std::string& text) const;

    // Runs a handler; an exception ends the handler and is reported, the loop goes on.
    // Every entry into the program's logic (a timer, a click, a report) goes through it.
    void dispatch(const Task& task) const noexcept;

private:
    ErrorSink errorSink_;
};

// A timer as the window's components know it: an interval, an enabled flag and a tick
// handler. Enabling an enabled timer does not restart it; disabling and enabling again
// starts the interval anew; changing the interval of an enabled timer restarts it.
class Timer {
public:
    Timer(EventLoop& loop, Millis interval, Task onTimer = {});
    ~Timer();
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    void setOnTimer(Task onTimer) { onTimer_ = std::move(onTimer); }
    void setEnabled(bool enabled);
    bool enabled() const { return id_ != 0; }
    void setInterval(Millis interval);
    Millis interval() const { return interval_; }

private:
    EventLoop& loop_;
    Millis interval_;
    Task onTimer_;
    TimerId id_ = 0;
};

// "yyyymmdd" and similar small formatters over LocalDateTime.
std::string formatDate(const LocalDateTime& t);       // yyyymmdd
std::string formatTimeStamp(const LocalDateTime& t);  // yyyy-mm-dd hh:mm:ss.mmm

// The local date and time from the system clock.
LocalDateTime systemLocalTime();

}  // namespace tc::platform
