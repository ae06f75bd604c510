#include "qt/QtEventLoop.h"

#include <poll.h>

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QElapsedTimer>

#include <stdexcept>

namespace tc::qt {

using platform::FdEvent;

namespace {

QElapsedTimer& startClock() {
    static QElapsedTimer t = [] {
        QElapsedTimer e;
        e.start();
        return e;
    }();
    return t;
}

FdEvent readyNow(int fd, FdEvent wanted) {
    pollfd p{fd, 0, 0};
    if (any(wanted & FdEvent::Read)) p.events |= POLLIN;
    if (any(wanted & FdEvent::Write)) p.events |= POLLOUT;
    if (::poll(&p, 1, 0) <= 0) return FdEvent::None;
    FdEvent e = FdEvent::None;
    if (p.revents & (POLLIN | POLLPRI)) e = e | FdEvent::Read;
    if (p.revents & POLLOUT) e = e | FdEvent::Write;
    if (p.revents & (POLLERR | POLLNVAL)) e = e | FdEvent::Error;
    if (p.revents & POLLHUP) e = e | FdEvent::HangUp;
    return e;
}

}  // namespace

QtEventLoop::QtEventLoop() : mainThread_(std::this_thread::get_id()) {
    if (!QCoreApplication::instance() || !QAbstractEventDispatcher::instance())
        throw std::logic_error("the event loop needs the application object first");
    startClock();

    // The idle hook runs each time the loop is about to wait for events.
    connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] {
                if (!idleHook_ || inIdle_) return;
                inIdle_ = true;
                dispatch(idleHook_);
                inIdle_ = false;
            });
}

QtEventLoop::~QtEventLoop() = default;

platform::TimerId QtEventLoop::startTimer(platform::Millis interval, platform::Task tick) {
    assertMainThread("QtEventLoop::startTimer");
    const auto id = nextTimer_++;
    auto t = std::make_unique<QTimer>();
    t->setTimerType(Qt::PreciseTimer);
    t->setInterval(int(interval.count()));
    connect(t.get(), &QTimer::timeout, this, [this, tick = std::move(tick)] { dispatch(tick); });
    t->start();
    timers_[id] = std::move(t);
    return id;
}

void QtEventLoop::stopTimer(platform::TimerId id) {
    assertMainThread("QtEventLoop::stopTimer");
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second->stop();
    // A timer may stop itself from its own tick: delete it once the tick has returned.
    it->second.release()->deleteLater();
    timers_.erase(it);
}

void QtEventLoop::scheduleDrain() {
    QMetaObject::invokeMethod(
        this, [this] { drainQueue(); }, Qt::QueuedConnection);
}

void QtEventLoop::wake() {
    // One drain queued at a time; what is posted once it has started schedules the next.
    if (!drainScheduled_.exchange(true)) scheduleDrain();
}

void QtEventLoop::post(platform::Task task) {
    queue_.push(std::move(task));
    wake();
}

void QtEventLoop::invokeAndWait(platform::Task task) {
    if (isMainThread()) {
        dispatch(task);
        return;
    }
    queue_.pushAndWait(std::move(task), [this] { wake(); });
}

void QtEventLoop::drainQueue() {
    drainScheduled_ = false;
    queue_.runQueued([this](const platform::Task& t) { dispatch(t); });
}

std::size_t QtEventLoop::queuedWork() const {
    return queue_.size();
}

void QtEventLoop::runQueuedWork() {
    assertMainThread("QtEventLoop::runQueuedWork");
    drainQueue();
}

void QtEventLoop::processMessages() {
    assertMainThread("QtEventLoop::processMessages");
    drainQueue();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventLoop::sleep(platform::Millis duration) {
    assertMainThread("QtEventLoop::sleep");
    std::this_thread::sleep_for(duration);
}

void QtEventLoop::applyEvents(Watch& w) {
    // The read notifier stays on even when only writing is wanted: it is how an error or
    // a hang-up is seen. fdActivated quiets it if it fires for data nobody asked for.
    w.read->setEnabled(true);
    w.write->setEnabled(any(w.events & FdEvent::Write));
}

platform::WatchId QtEventLoop::watchFd(int fd, FdEvent events,
                                       std::function<void(FdEvent)> handler) {
    assertMainThread("QtEventLoop::watchFd");
    const auto id = nextWatch_++;
    Watch w{fd, events, std::move(handler), nullptr, nullptr};
    w.read = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Read);
    w.write = std::make_unique<QSocketNotifier>(fd, QSocketNotifier::Write);
    connect(w.read.get(), &QSocketNotifier::activated, this, [this, id] { fdActivated(id); });
    connect(w.write.get(), &QSocketNotifier::activated, this, [this, id] { fdActivated(id); });
    applyEvents(w);
    watches_.emplace(id, std::move(w));
    return id;
}

void QtEventLoop::setWatchEvents(platform::WatchId id, FdEvent events) {
    assertMainThread("QtEventLoop::setWatchEvents");
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    it->second.events = events;
    applyEvents(it->second);
}

void QtEventLoop::removeWatch(platform::WatchId id) {
    assertMainThread("QtEventLoop::removeWatch");
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    it->second.read->setEnabled(false);
    it->second.write->setEnabled(false);
    it->second.read.release()->deleteLater();
    it->second.write.release()->deleteLater();
    watches_.erase(it);
}

void QtEventLoop::fdActivated(platform::WatchId id) {
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    const FdEvent wanted = it->second.events;
    FdEvent ready = readyNow(it->second.fd, wanted) & (wanted | FdEvent::Error | FdEvent::HangUp);
    if (!any(ready)) {
        // Readable only in the sense that matters to nobody: a read watch that is not
        // wanted. Keep it quiet until the owner asks again.
        if (!any(wanted & FdEvent::Read)) it->second.read->setEnabled(false);
        return;
    }
    auto handler = it->second.handler;
    dispatch([&] { handler(ready); });
}

platform::Millis QtEventLoop::monotonic() const {
    return platform::Millis(startClock().elapsed());
}

void QtEventLoop::run() {
    assertMainThread("QtEventLoop::run");
    QCoreApplication::exec();
}

void QtEventLoop::quit() {
    QCoreApplication::quit();
}

}  // namespace tc::qt
