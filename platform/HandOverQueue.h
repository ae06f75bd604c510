// The work other threads hand to the main thread, as both loops keep it: posts, and
// hand-overs whose thread waits until the main thread has run them.
// Threads: push and pushAndWait from any thread; runQueued, size and release from the main
// thread (size from any).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace tc::platform {

class HandOverQueue {
public:
    using Task = std::function<void()>;
    using Runner = std::function<void(const Task&)>;

    // Releases every thread still waiting, so none can hang on a loop that has gone.
    ~HandOverQueue() { release(); }

    void push(Task task);
    // Queues `task`, calls `wake` (so the main thread comes round to it) and waits until
    // the task has run, or the queue was released.
    void pushAndWait(Task task, const std::function<void()>& wake);
    // Runs what was queued when it was called, one item at a time off the shared queue,
    // never a batch moved aside: a handler that waits for a worker runs this again, and
    // the hand-over that worker is blocked in may be queued behind that very handler.
    // What is queued meanwhile waits for the next call, so timers and descriptors still
    // get their turn. Returns whether anything ran.
    bool runQueued(const Runner& run);
    std::size_t size() const;
    void release();

private:
    struct Item {
        Task task;
        bool* done = nullptr;  // set for pushAndWait
    };
    mutable std::mutex mutex_;
    std::condition_variable doneCv_;
    std::deque<Item> items_;
};

}  // namespace tc::platform
