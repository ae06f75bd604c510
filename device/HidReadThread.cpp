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
    // The reports read for one hand-over: the one that ended the wait, and those the
    // interface had queued behind it.
    std::vector<std::vector<std::uint8_t>> batch(MaxBatch, std::vector<std::uint8_t>(length));
    std::vector<std::size_t> sizes(MaxBatch);
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
        std::size_t taken = 0;
        ReadResult res;
        for (;;) {
            std::vector<std::uint8_t>& buffer = batch[taken];
            std::fill(buffer.begin(), buffer.end(), 0);
            // The first read waits; the rest take only what is there already.
            res = connection_.read(buffer, taken == 0 ? slice : platform::Millis(0));
            if (res.status != ReadResult::Status::Data) break;
            if (res.size == 0) break;  // a read of nothing delivers nothing
            sizes[taken] = res.size;
            if (++taken == MaxBatch) break;
        }
        if (taken > 0) {
            // Reports that have been read are handed over even when a stop came
            // meanwhile: the join runs them while it waits, so nothing read is lost. One
            // hand-over carries them all, so a message pass of the main thread receives
            // everything that had arrived by then, not one report of it.
            {
                std::lock_guard l(m_);
                ++handOvers_;
            }
            cv_.notify_all();
            scope_.invokeAndWait([&] {
                for (std::size_t i = 0; i < taken; ++i)
                    deliver(std::span<const std::uint8_t>(batch[i].data(), sizes[i]));
            });
            if (res.status == ReadResult::Status::Data || res.status == ReadResult::Status::Timeout)
                continue;
        }
        switch (res.status) {
            case ReadResult::Status::Data:
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
