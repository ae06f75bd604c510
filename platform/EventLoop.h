// The main thread's event loop: the one place where timers, posted work, hand-overs from
// other threads, file-descriptor readiness and the idle hook are run. All of the program's
// own logic runs inside it, one handler at a time.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/Calendar.h"

namespace tc::platform {

using Task = std::function<void()>;

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

class EventLoop;

// A registration with the loop that is undone when its handle goes (or on reset()), so no
// owner removes its watches and timers by hand. Move-only; main thread only. The loop
// outlives every handle of its own.
class LoopHandle {
public:
    LoopHandle() = default;
    ~LoopHandle() { reset(); }
    LoopHandle(LoopHandle&& o) noexcept { take(o); }
    LoopHandle& operator=(LoopHandle&& o) noexcept {
        if (this != &o) {
            reset();
            take(o);
        }
        return *this;
    }
    LoopHandle(const LoopHandle&) = delete;
    LoopHandle& operator=(const LoopHandle&) = delete;

    // Unregisters now; safe to call again, also from inside the registration's own handler.
    void reset() noexcept;
    // Registered and not yet over (a one-shot that has fired is over).
    bool active() const noexcept;
    explicit operator bool() const noexcept { return active(); }

protected:
    enum class Kind : unsigned char { None, Watch, Timer };
    LoopHandle(EventLoop& loop, Kind kind, std::uint64_t id, std::shared_ptr<bool> over = {})
        : loop_(&loop), kind_(kind), id_(id), over_(std::move(over)) {}
    EventLoop* loop_ = nullptr;
    Kind kind_ = Kind::None;
    std::uint64_t id_ = 0;
    std::shared_ptr<bool> over_;  // set by a one-shot when it fires

private:
    void take(LoopHandle& o) noexcept;
    friend class EventLoop;
};

// A descriptor watch; its events can change while it stays registered.
class WatchHandle : public LoopHandle {
public:
    WatchHandle() = default;
    void setEvents(FdEvent events);

private:
    using LoopHandle::LoopHandle;
    friend class EventLoop;
};

// A repeating timer (EventLoop::every) or a one-shot (EventLoop::after).
class TimerHandle : public LoopHandle {
public:
    TimerHandle() = default;

private:
    using LoopHandle::LoopHandle;
    friend class EventLoop;
};

class EventLoop {
public:
    // Receives the text of an exception that escaped a handler. Until one is set the
    // text goes to standard error.
    using ErrorSink = std::function<void(const std::string&)>;

    virtual ~EventLoop() = default;

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

    // Local date and time, and a monotonic clock in milliseconds.
    virtual LocalDateTime now() const = 0;
    virtual Millis monotonic() const = 0;

    // Run until quit(); quit may be called from any handler.
    virtual void run() = 0;
    virtual void quit() = 0;

    virtual bool isMainThread() const = 0;

    // --- registrations as handles (main thread) ---
    // Each is undone when the handle it returns goes. A watch's handler runs on the main
    // thread with what is ready; error and hang-up are always reported.
    [[nodiscard]] WatchHandle watch(int fd, FdEvent events, std::function<void(FdEvent)> handler);
    [[nodiscard]] TimerHandle every(Millis interval, Task tick);
    // Runs `fn` once, `delay` from now, unless the handle went first.
    [[nodiscard]] TimerHandle after(Millis delay, Task fn);

    // Ends the program with a message when called off the main thread, in builds with
    // thread checks (TOUCHCAL_THREAD_CHECKS, on in the everyday and test builds). Entry
    // points that must run on the main thread call it first.
    void assertMainThread(const char* where) const;

    void setErrorSink(ErrorSink sink) { errorSink_ = std::move(sink); }
    // Show the text of an error the way the program's error box does.
    void reportError(const std::string& text) const;
    // A plain message for the operator (an information box that waits for its OK). Until
    // a sink is set the text goes to standard error.
    void setMessageSink(ErrorSink sink) { messageSink_ = std::move(sink); }
    void showMessage(const std::string& text) const;

    // Runs a handler; an exception ends the handler and is reported, the loop goes on.
    // Every entry into the program's logic (a timer, a click, a report) goes through it.
    void dispatch(const Task& task) const noexcept;

protected:
    // What each loop implements for the handles; only handles reach these, so no owner
    // can forget to remove a registration. Stopping or removing an id that is gone
    // already, also from inside its own handler, is harmless.
    // A repeating timer: `tick` runs every `interval` from now until it is stopped.
    virtual TimerId startTimer(Millis interval, Task tick) = 0;
    virtual void stopTimer(TimerId id) = 0;
    virtual WatchId watchFd(int fd, FdEvent events, std::function<void(FdEvent)> handler) = 0;
    virtual void setWatchEvents(WatchId id, FdEvent events) = 0;
    virtual void removeWatch(WatchId id) = 0;

private:
    friend class LoopHandle;
    friend class WatchHandle;
    ErrorSink errorSink_;
    ErrorSink messageSink_;
};

// Work that other threads hand to the main thread on behalf of one owner. The owner holds
// the scope; once the scope has gone (or close() ran), work still queued is skipped when
// its turn comes, so a late post never reaches a destroyed owner.
// post and invokeAndWait: any thread. close and the destructor: main thread, after the
// owner's threads have stopped posting.
class PostScope {
public:
    explicit PostScope(EventLoop& loop);
    ~PostScope() { close(); }
    PostScope(const PostScope&) = delete;
    PostScope& operator=(const PostScope&) = delete;

    void post(Task task) const;
    // Runs `task` on the main thread and waits for it; a task of a closed scope is skipped
    // and the wait still returns.
    void invokeAndWait(Task task) const;
    void close() noexcept;
    bool open() const noexcept;

private:
    Task guarded(Task task) const;
    EventLoop& loop_;
    std::shared_ptr<struct PostScopeState> state_;
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
    bool enabled() const { return handle_.active(); }
    void setInterval(Millis interval);
    Millis interval() const { return interval_; }

private:
    EventLoop& loop_;
    Millis interval_;
    Task onTimer_;
    TimerHandle handle_;
};

}  // namespace tc::platform
