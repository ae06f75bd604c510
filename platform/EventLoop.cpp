#include "platform/EventLoop.h"

#include <sys/time.h>
#include <cstdio>
#include <ctime>
#include <exception>
#include <iostream>

namespace tc::platform {

void EventLoop::reportError(const std::string& text) const {
    if (errorSink_) {
        errorSink_(text);
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

Timer::Timer(EventLoop& loop, Millis interval, Task onTimer)
    : loop_(loop), interval_(interval), onTimer_(std::move(onTimer)) {}

Timer::~Timer() {
    setEnabled(false);
}

void Timer::setEnabled(bool enabled) {
    if (enabled == this->enabled()) return;
    if (enabled) {
        id_ = loop_.startTimer(interval_, [this] {
            if (onTimer_) onTimer_();
        });
    } else {
        loop_.stopTimer(id_);
        id_ = 0;
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

std::string formatDate(const LocalDateTime& t) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", t.year % 10000, t.month % 100, t.day % 100);
    return buf;
}

std::string formatTimeStamp(const LocalDateTime& t) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year % 10000,
                  t.month % 100, t.day % 100, t.hour % 100, t.minute % 100, t.second % 100,
                  t.millisecond % 1000);
    return buf;
}

LocalDateTime systemLocalTime() {
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::tm tm{};
    localtime_r(&tv.tv_sec, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1,         tm.tm_mday, tm.tm_hour, tm.tm_min,
            tm.tm_sec,         int(tv.tv_usec / 1000)};
}

}  // namespace tc::platform
