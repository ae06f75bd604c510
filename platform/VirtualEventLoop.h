// An event loop on a simulated clock, for tests: sleeps and timers move the clock instead
// of waiting, so a sequence with 100 ms, 1000 ms and 5000 ms waits runs in microseconds and
// always in the same order. Work from real threads and real descriptors still arrives.
//
// Threads: the loop belongs to the thread that made it, its main thread. post,
// invokeAndWait and queuedWork may be called from any thread; every other call, the clocks
// and the test controls included, only from the main thread (the simulated clock moves
// there), and the calls that run or register work check it (EventLoop::assertMainThread).
// Every handler runs on the main thread.
#pragma once

#include <atomic>
#include <map>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/HandOverQueue.h"
#include "platform/UniqueFd.h"

namespace tc::platform {

class VirtualEventLoop final : public EventLoop {
public:
    explicit VirtualEventLoop(LocalDateTime start = {2026, 12, 10, 9, 0, 0, 0});
    ~VirtualEventLoop() override;

    void post(Task task) override;
    void invokeAndWait(Task task) override;
    void processMessages() override;
    void runQueuedWork() override;
    void sleep(Millis duration) override;
    void setIdleHook(Task hook) override {
        assertMainThread("VirtualEventLoop::setIdleHook");
        idleHook_ = std::move(hook);
    }
    LocalDateTime now() const override;
    Millis monotonic() const override { return clock_; }
    void run() override;
    void quit() override {
        assertMainThread("VirtualEventLoop::quit");
        quit_ = true;
    }
    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }

    // Test controls.
    // Set the wall clock (the simulated monotonic clock is not touched).
    void setNow(const LocalDateTime& t);
    // Run what is pending without moving the clock; the idle hook runs when the queue
    // has become empty.
    void runPending();
    // Move the clock forward by `d`, running every timer in deadline order on the way.
    void advance(Millis d);
    // Run until `done` holds: pending work first, then the next timer (moving the clock),
    // and, when no timer is set, a real wait for other threads or descriptors. Gives up
    // after `virtualLimit` of simulated or `realLimit` of real time. Returns done().
    bool runUntil(const std::function<bool()>& done, Millis virtualLimit = Millis(60000),
                  Millis realLimit = Millis(5000));
    // How long to wait for real descriptors and threads before the clock jumps to the
    // next timer (0 by default: a purely simulated test never waits).
    void setRealWaitSlice(Millis slice) { realSlice_ = slice; }
    // Posts and hand-overs from other threads that wait to run.
    std::size_t queuedWork() const;

protected:
    TimerId startTimer(Millis interval, Task tick) override;
    void stopTimer(TimerId id) override;
    WatchId watchFd(int fd, FdEvent events, std::function<void(FdEvent)> handler) override;
    void setWatchEvents(WatchId id, FdEvent events) override;
    void removeWatch(WatchId id) override;

private:
    struct TimerEntry {
        Millis interval;
        Millis due;
        std::uint64_t order;
        Task tick;
    };
    struct Watch {
        int fd;
        FdEvent events;
        std::function<void(FdEvent)> handler;
    };
    void wake();                   // makes the wake descriptor readable
    bool runQueuedOnce();          // returns true when anything ran
    bool pollFds(int timeoutMs);   // returns true when a handler ran
    bool runDueTimers();           // returns true when a timer ran
    bool runRound(bool withIdle);  // one round of everything ready now
    const TimerEntry* nextTimer() const;

    std::thread::id mainThread_;
    Millis clock_{0};
    LocalDateTime startWall_;
    Millis wallOffset_{0};
    std::map<TimerId, TimerEntry> timers_;
    TimerId nextTimerId_ = 1;
    std::uint64_t order_ = 0;
    std::map<WatchId, Watch> watches_;
    WatchId nextWatchId_ = 1;
    Task idleHook_;
    bool quit_ = false;
    Millis realSlice_{0};

    HandOverQueue queue_;
    UniqueFd wakeFd_;  // readable while work from other threads waits
};

}  // namespace tc::platform
