// The event loop on Qt's own loop: GUI and headless both run it (headless on
// QCoreApplication, which needs no display).
//
// Threads: the loop belongs to the thread that made it, which is the application's (the
// main thread). post, invokeAndWait, queuedWork, quit, now and monotonic may be called
// from any thread; posted work waits in a locked queue that a queued call drains on the
// main thread. Every other call only from the main thread, and they check it
// (EventLoop::assertMainThread): the timers and notifiers behind them are Qt objects of
// that thread. Every handler runs on the main thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "platform/EventLoop.h"
#include "platform/HandOverQueue.h"

namespace tc::qt {

class QtEventLoop final : public QObject, public platform::EventLoop {
public:
    // Needs a Q(Core)Application.
    QtEventLoop();
    ~QtEventLoop() override;

    void post(platform::Task task) override;
    void invokeAndWait(platform::Task task) override;
    void processMessages() override;
    void runQueuedWork() override;
    void sleep(platform::Millis duration) override;
    void setIdleHook(platform::Task hook) override {
        assertMainThread("QtEventLoop::setIdleHook");
        idleHook_ = std::move(hook);
    }
    platform::LocalDateTime now() const override { return platform::systemLocalTime(); }
    platform::Millis monotonic() const override;
    void run() override;
    void quit() override;
    bool isMainThread() const override { return std::this_thread::get_id() == mainThread_; }
    // Posts and hand-overs from other threads that wait to run.
    std::size_t queuedWork() const;

protected:
    platform::TimerId startTimer(platform::Millis interval, platform::Task tick) override;
    void stopTimer(platform::TimerId id) override;
    platform::WatchId watchFd(int fd, platform::FdEvent events,
                              std::function<void(platform::FdEvent)> handler) override;
    void setWatchEvents(platform::WatchId id, platform::FdEvent events) override;
    void removeWatch(platform::WatchId id) override;

private:
    struct Watch {
        int fd;
        platform::FdEvent events;
        std::function<void(platform::FdEvent)> handler;
        std::unique_ptr<QSocketNotifier> read, write;
    };
    void drainQueue();
    void scheduleDrain();
    void wake();
    void fdActivated(platform::WatchId id);
    void applyEvents(Watch& w);

    std::thread::id mainThread_;
    std::map<platform::TimerId, std::unique_ptr<QTimer>> timers_;
    platform::TimerId nextTimer_ = 1;
    std::map<platform::WatchId, Watch> watches_;
    platform::WatchId nextWatch_ = 1;
    platform::Task idleHook_;
    bool inIdle_ = false;

    platform::HandOverQueue queue_;
    std::atomic<bool> drainScheduled_{false};
};

}  // namespace tc::qt
