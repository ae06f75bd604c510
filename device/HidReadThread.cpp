#include "device/HidReadThread.h"

#include <algorithm>
#include <vector>

namespace tc::device {

using platform::hid::ReadResult;

HidReadThread::HidReadThread(platform::EventLoop& loop, const platform::PostScope& scope,
                             platform::hid::HidConnection& connection)
    : loop_(loop), scope_(scope), connection_(connection) {}

HidReadThread::~HidReadThread() {
    if (thread_.joinable()) join();
}

void HidReadThread::start(std::size_t length, platform::Millis slice, platform::Millis delay,
                          Deliver deliver, platform::Task onUnplug) {
    loop_.assertMainThread("HidReadThread::start");
    {
        std::lock_guard l(m_);
        if (state_ != State::Idle) return;
        state_ = State::Reading;
    }
    thread_ = std::thread(
        [this, length, slice, delay, deliver = std::move(deliver), onUnplug = std::move(onUnplug)] {
            run(length, slice, delay, deliver, onUnplug);
        });
}

void HidReadThread::run(std::size_t length, platform::Millis slice, platform::Millis delay,
                        const Deliver& deliver, const platform::Task& onUnplug) {
    std::vector<std::uint8_t> buffer(length);
    auto waitUnlessStopped = [this](platform::Millis d) {
        std::unique_lock l(m_);
        cv_.wait_for(l, d, [&] { return state_ != State::Reading; });
    };
    auto reading = [this] {
        std::lock_guard l(m_);
        return state_ == State::Reading;
    };
    if (delay.count() > 0) waitUnlessStopped(delay);
    while (reading()) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const ReadResult res = connection_.read(buffer, slice);
        switch (res.status) {
            case ReadResult::Status::Data: {
                // A report that has been read is handed over even when a stop came
                // meanwhile: the join runs it while it waits, so nothing read is lost.
                if (res.size == 0) break;  // a read of nothing delivers nothing
                {
                    std::lock_guard l(m_);
                    ++handOvers_;
                }
                cv_.notify_all();
                const std::span<const std::uint8_t> report(buffer.data(), res.size);
                scope_.invokeAndWait([&deliver, report] { deliver(report); });
                break;
            }
            case ReadResult::Status::Timeout:
                break;
            case ReadResult::Status::Unplugged:
                // Set before the post, so whatever the posted work finds sees it.
                finish(State::Unplugged);
                scope_.post(onUnplug);
                return;
            case ReadResult::Status::Cancelled:
                finish(State::Ended);
                return;
            case ReadResult::Status::Error:
                // A read that cannot be issued: nobody listens for the error; try again
                // after a slice rather than spin.
                waitUnlessStopped(slice);
                break;
        }
    }
    finish(State::Ended);
}

void HidReadThread::finish(State end) {
    {
        std::lock_guard l(m_);
        state_ = end;
    }
    cv_.notify_all();
}

void HidReadThread::stop() {
    {
        std::lock_guard l(m_);
        if (state_ != State::Reading) return;
        state_ = State::Stopping;
    }
    cv_.notify_all();
    connection_.cancelRead();
}

void HidReadThread::join() {
    loop_.assertMainThread("HidReadThread::join");
    stop();
    if (!thread_.joinable()) return;
    // Keep running the hand-overs the thread queues while we wait for it, or a thread
    // blocked in one and a main thread waiting for the thread would wait for each other.
    for (;;) {
        loop_.runQueuedWork();
        std::unique_lock l(m_);
        if (finished()) break;
        const std::uint64_t seen = handOvers_;
        cv_.wait_for(l, platform::Millis(2), [&] { return finished() || handOvers_ != seen; });
        if (finished()) break;
    }
    thread_.join();
}

HidReadThread::State HidReadThread::state() const {
    std::lock_guard l(m_);
    return state_;
}

bool HidReadThread::running() const {
    const State s = state();
    return s == State::Reading || s == State::Stopping;
}

}  // namespace tc::device
