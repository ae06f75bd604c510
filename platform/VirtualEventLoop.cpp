#include "platform/VirtualEventLoop.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "platform/Error.h"

namespace tc::platform {

namespace {

short toPoll(FdEvent e) {
    short p = 0;
    if (any(e & FdEvent::Read)) p |= POLLIN;
    if (any(e & FdEvent::Write)) p |= POLLOUT;
    return p;
}

FdEvent fromPoll(short p) {
    FdEvent e = FdEvent::None;
    if (p & (POLLIN | POLLPRI)) e = e | FdEvent::Read;
    if (p & POLLOUT) e = e | FdEvent::Write;
    if (p & (POLLERR | POLLNVAL)) e = e | FdEvent::Error;
    if (p & POLLHUP) e = e | FdEvent::HangUp;
    return e;
}

}  // namespace

VirtualEventLoop::VirtualEventLoop(LocalDateTime start)
    : mainThread_(std::this_thread::get_id()),
      startWall_(start),
      wakeFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!wakeFd_) throwErrno("eventfd");
}

VirtualEventLoop::~VirtualEventLoop() = default;

TimerId VirtualEventLoop::startTimer(Millis interval, Task tick) {
    assertMainThread("VirtualEventLoop::startTimer");
    const TimerId id = nextTimerId_++;
    timers_[id] = {interval, clock_ + interval, order_++, std::move(tick)};
    return id;
}

void VirtualEventLoop::stopTimer(TimerId id) {
    assertMainThread("VirtualEventLoop::stopTimer");
    timers_.erase(id);
}

void VirtualEventLoop::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = write(wakeFd_.get(), &one, sizeof one);
}

void VirtualEventLoop::post(Task task) {
    queue_.push(std::move(task));
    wake();
}

void VirtualEventLoop::invokeAndWait(Task task) {
    if (isMainThread()) {
        dispatch(task);
        return;
    }
    queue_.pushAndWait(std::move(task), [this] { wake(); });
}

bool VirtualEventLoop::runQueuedOnce() {
    std::uint64_t drained;
    [[maybe_unused]] auto n = read(wakeFd_.get(), &drained, sizeof drained);
    const bool ran = queue_.runQueued([this](const Task& t) { dispatch(t); });
    // The wake-up was consumed above; keep a waiting poll from sleeping past what is left.
    if (queue_.size() > 0) wake();
    return ran;
}

std::size_t VirtualEventLoop::queuedWork() const {
    return queue_.size();
}

void VirtualEventLoop::runQueuedWork() {
    assertMainThread("VirtualEventLoop::runQueuedWork");
    runQueuedOnce();
}

bool VirtualEventLoop::pollFds(int timeoutMs) {
    std::vector<pollfd> fds;
    std::vector<WatchId> ids;
    fds.push_back({wakeFd_.get(), POLLIN, 0});
    ids.push_back(0);
    for (auto& [id, w] : watches_) {
        fds.push_back({w.fd, toPoll(w.events), 0});
        ids.push_back(id);
    }
    const int n = ::poll(fds.data(), fds.size(), timeoutMs);
    if (n <= 0) return false;
    bool ran = false;
    for (std::size_t i = 1; i < fds.size(); ++i) {
        if (!fds[i].revents) continue;
        auto it = watches_.find(ids[i]);
        if (it == watches_.end()) continue;  // removed by an earlier handler
        const FdEvent ready =
            fromPoll(fds[i].revents) & (it->second.events | FdEvent::Error | FdEvent::HangUp);
        if (!any(ready)) continue;
        auto handler = it->second.handler;
        dispatch([&] { handler(ready); });
        ran = true;
    }
    return ran;
}

bool VirtualEventLoop::runDueTimers() {
    // Each due timer ticks once; a timer that fell behind (a long sleep) does not catch up.
    std::vector<std::pair<std::uint64_t, TimerId>> due;
    for (auto& [id, t] : timers_)
        if (t.due <= clock_) due.push_back({t.order, id});
    std::sort(due.begin(), due.end(), [&](auto& a, auto& b) {
        const auto& ta = timers_[a.second];
        const auto& tb = timers_[b.second];
        return ta.due != tb.due ? ta.due < tb.due : a.first < b.first;
    });
    for (auto& [order, id] : due) {
        auto it = timers_.find(id);
        if (it == timers_.end()) continue;
        it->second.due = clock_ + it->second.interval;
        auto tick = it->second.tick;
        dispatch(tick);
    }
    return !due.empty();
}

bool VirtualEventLoop::runRound(bool withIdle) {
    bool ran = runQueuedOnce();
    ran |= pollFds(0);
    ran |= runDueTimers();
    if (withIdle && ran && idleHook_) dispatch(idleHook_);
    return ran;
}

void VirtualEventLoop::processMessages() {
    assertMainThread("VirtualEventLoop::processMessages");
    runRound(false);
}

void VirtualEventLoop::sleep(Millis duration) {
    assertMainThread("VirtualEventLoop::sleep");
    clock_ += duration;
}

WatchId VirtualEventLoop::watchFd(int fd, FdEvent events, std::function<void(FdEvent)> handler) {
    assertMainThread("VirtualEventLoop::watchFd");
    const WatchId id = nextWatchId_++;
    watches_[id] = {fd, events, std::move(handler)};
    return id;
}

void VirtualEventLoop::setWatchEvents(WatchId id, FdEvent events) {
    assertMainThread("VirtualEventLoop::setWatchEvents");
    auto it = watches_.find(id);
    if (it != watches_.end()) it->second.events = events;
}

void VirtualEventLoop::removeWatch(WatchId id) {
    assertMainThread("VirtualEventLoop::removeWatch");
    watches_.erase(id);
}

LocalDateTime VirtualEventLoop::now() const {
    return addMillis(startWall_, clock_ + wallOffset_);
}

void VirtualEventLoop::setNow(const LocalDateTime& t) {
    assertMainThread("VirtualEventLoop::setNow");
    startWall_ = t;
    wallOffset_ = -clock_;
}

void VirtualEventLoop::runPending() {
    assertMainThread("VirtualEventLoop::runPending");
    for (int guard = 0; guard < 100000 && runRound(true); ++guard) {
    }
}

const VirtualEventLoop::TimerEntry* VirtualEventLoop::nextTimer() const {
    const TimerEntry* best = nullptr;
    for (auto& [id, t] : timers_)
        if (!best || t.due < best->due || (t.due == best->due && t.order < best->order)) best = &t;
    return best;
}

void VirtualEventLoop::advance(Millis d) {
    assertMainThread("VirtualEventLoop::advance");
    const Millis target = clock_ + d;
    runPending();
    for (;;) {
        const TimerEntry* next = nextTimer();
        if (!next || next->due > target) break;
        if (next->due > clock_) clock_ = next->due;
        runPending();
    }
    clock_ = target;
    runPending();
}

bool VirtualEventLoop::runUntil(const std::function<bool()>& done, Millis virtualLimit,
                                Millis realLimit) {
    assertMainThread("VirtualEventLoop::runUntil");
    const Millis virtualEnd = clock_ + virtualLimit;
    const auto realEnd = std::chrono::steady_clock::now() + realLimit;
    runPending();
    while (!done() && !quit_) {
        const auto realLeft =
            std::chrono::duration_cast<Millis>(realEnd - std::chrono::steady_clock::now());
        if (realLeft.count() <= 0) break;
        const TimerEntry* next = nextTimer();
        const bool timerInReach = next && next->due <= virtualEnd;
        // Real sources first: with a timer in reach wait only the slice, otherwise as long
        // as allowed (in short steps, so the limits are kept).
        const Millis wait = timerInReach ? std::min(realSlice_, realLeft)
                            : next       ? std::min(std::max(realSlice_, Millis(1)), realLeft)
                                         : std::min(realLeft, Millis(50));
        bool ran = pollFds(int(wait.count()));
        ran |= runQueuedOnce();
        if (ran) {
            if (idleHook_) dispatch(idleHook_);
            runPending();
            continue;
        }
        if (timerInReach) {
            if (next->due > clock_) clock_ = next->due;
            runPending();
        } else if (next) {
            break;  // the simulated limit is reached
        }
    }
    return done();
}

void VirtualEventLoop::run() {
    assertMainThread("VirtualEventLoop::run");
    quit_ = false;
    const Millis year(365LL * 24 * 3600 * 1000);
    runUntil([] { return false; }, year, year);
    quit_ = false;
}

}  // namespace tc::platform
