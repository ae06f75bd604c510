#include "platform/EventLoop.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>

#include "platform/ThreadAffinity.h"

namespace tc::platform {

void EventLoop::reportError(const std::string& text) const {
    if (errorSink_) {
        errorSink_(text);
    } else {
        std::cerr << text << '\n';
    }
}

void EventLoop::showMessage(const std::string& text) const {
    if (messageSink_) {
        messageSink_(text);
    } else {
        std::cerr << text << '\n';
    }
}

void EventLoop::dispatch(const Task& task) const noexcept {
    try {
        task();
    } catch (const std::exception& e) {
        reportError(e.what());
    } catch (...) {
        // Anything that is not an exception is shown with an empty message.
        reportError("");
    }
}

void LoopHandle::reset() noexcept {
    if (!loop_) return;
    EventLoop* loop = loop_;
    loop_ = nullptr;
    over_.reset();
    switch (kind_) {
        case Kind::Watch:
            loop->removeWatch(id_);
            break;
        case Kind::Timer:
            loop->stopTimer(id_);
            break;
        case Kind::None:
            break;
    }
    kind_ = Kind::None;
    id_ = 0;
}

bool LoopHandle::active() const noexcept {
    return loop_ && !(over_ && *over_);
}

void LoopHandle::take(LoopHandle& o) noexcept {
    loop_ = o.loop_;
    kind_ = o.kind_;
    id_ = o.id_;
    over_ = std::move(o.over_);
    o.loop_ = nullptr;
    o.kind_ = Kind::None;
    o.id_ = 0;
}

void WatchHandle::setEvents(FdEvent events) {
    if (loop_) loop_->setWatchEvents(id_, events);
}

WatchHandle EventLoop::watch(int fd, FdEvent events, std::function<void(FdEvent)> handler) {
    assertMainThread("EventLoop::watch");
    return WatchHandle(*this, LoopHandle::Kind::Watch, watchFd(fd, events, std::move(handler)));
}

TimerHandle EventLoop::every(Millis interval, Task tick) {
    assertMainThread("EventLoop::every");
    return TimerHandle(*this, LoopHandle::Kind::Timer, startTimer(interval, std::move(tick)));
}

TimerHandle EventLoop::after(Millis delay, Task fn) {
    assertMainThread("EventLoop::after");
    // The timer stops itself before `fn` runs, so `fn` may start a new one-shot, reset its
    // own handle or destroy the handle's owner.
    struct OneShot {
        TimerId id = 0;
        Task fn;
    };
    auto shot = std::make_shared<OneShot>();
    auto over = std::make_shared<bool>(false);
    shot->fn = std::move(fn);
    shot->id = startTimer(delay, [this, shot, over] {
        auto keep = shot;
        auto done = over;
        stopTimer(keep->id);
        *done = true;
        Task f = std::move(keep->fn);
        if (f) f();
    });
    return TimerHandle(*this, LoopHandle::Kind::Timer, shot->id, over);
}

void EventLoop::assertMainThread(const char* where) const {
    assertThread(isMainThread(), where);
}

struct PostScopeState {
    std::atomic<bool> open{true};
};

PostScope::PostScope(EventLoop& loop) : loop_(loop), state_(std::make_shared<PostScopeState>()) {}

Task PostScope::guarded(Task task) const {
    return [state = state_, task = std::move(task)] {
        if (state->open.load(std::memory_order_acquire)) task();
    };
}

void PostScope::post(Task task) const {
    loop_.post(guarded(std::move(task)));
}

void PostScope::invokeAndWait(Task task) const {
    loop_.invokeAndWait(guarded(std::move(task)));
}

void PostScope::close() noexcept {
    state_->open.store(false, std::memory_order_release);
}

bool PostScope::open() const noexcept {
    return state_->open.load(std::memory_order_acquire);
}

Timer::Timer(EventLoop& loop, Millis interval, Task onTimer)
    : loop_(loop), interval_(interval), onTimer_(std::move(onTimer)) {}

Timer::~Timer() = default;

void Timer::setEnabled(bool enabled) {
    if (enabled == this->enabled()) return;
    if (enabled) {
        handle_ = loop_.every(interval_, [this] {
            if (onTimer_) onTimer_();
        });
    } else {
        handle_.reset();
    }
}

void Timer::setInterval(Millis interval) {
    if (interval == interval_) return;
    interval_ = interval;
    if (enabled()) {
        setEnabled(false);
        setEnabled(true);
    }
}

}  // namespace tc::platform
