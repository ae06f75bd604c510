// One read thread on an opened HID interface: it reads in slices and hands each report to
// the main thread, waiting until the report has been handled, so reports arrive in order,
// one at a time, and the buffer stays valid meanwhile.
//
// Threads: the constructor, start, join and the destructor run on the main thread; stop
// and state on any thread. The thread itself calls only the connection's read and the
// scope's post and invokeAndWait. The connection outlives the read thread.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <span>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/hid/HidBackend.h"

namespace tc::device {

class HidReadThread {
public:
    enum class State {
        Idle,       // not started
        Reading,    // in its loop
        Stopping,   // asked to stop; it leaves its loop after the read or hand-over in hand
        Ended,      // has left its loop: stopped, or its reads were cancelled
        Unplugged,  // has left its loop because the interface seemed gone
    };
    // Runs on the main thread, once per report (report ID first).
    using Deliver = std::function<void(std::span<const std::uint8_t>)>;
    // The most reports one hand-over carries: what a hidraw node queues.
    static constexpr std::size_t MaxBatch = 64;

    HidReadThread(platform::EventLoop& loop, const platform::PostScope& scope,
                  platform::hid::HidConnection& connection);
    // Stops and joins a thread that is still running.
    ~HidReadThread();
    HidReadThread(const HidReadThread&) = delete;
    HidReadThread& operator=(const HidReadThread&) = delete;

    // Reads reports of up to `length` bytes in slices of `slice`, after waiting `delay`.
    // `onUnplug` is posted when it stops because the interface seemed gone.
    void start(std::size_t length, platform::Millis slice, platform::Millis delay, Deliver deliver,
               platform::Task onUnplug);
    // Asks the thread to leave its loop and wakes a read in progress; returns at once. A
    // report already read is still handed over.
    void stop();
    // Waits until the thread has ended, running the work queued for the main thread
    // meanwhile (the thread may be blocked in a hand-over). Calls stop() first.
    void join();

    State state() const;
    // In its loop, or asked to stop and not out of it yet.
    bool running() const;

private:
    void run(std::size_t length, platform::Millis slice, platform::Millis delay,
             const Deliver& deliver, const platform::Task& onUnplug);
    void finish(State end);
    bool finished() const { return state_ == State::Ended || state_ == State::Unplugged; }

    platform::EventLoop& loop_;
    const platform::PostScope& scope_;
    platform::hid::HidConnection& connection_;
    std::thread thread_;
    mutable std::mutex m_;
    std::condition_variable cv_;
    State state_ = State::Idle;    // under m_
    std::uint64_t handOvers_ = 0;  // under m_: counts hand-overs queued, to wake a join
};

}  // namespace tc::device
