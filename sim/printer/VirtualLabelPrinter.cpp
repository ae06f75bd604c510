#include "sim/printer/VirtualLabelPrinter.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/Error.h"

namespace tc::sim {

using std::chrono::milliseconds;
using tc::platform::FdEvent;

namespace {

milliseconds steadyNow() {
    return std::chrono::duration_cast<milliseconds>(
        std::chrono::steady_clock::now().time_since_epoch());
}

void signal(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
}

}  // namespace

VirtualLabelPrinter::VirtualLabelPrinter()
    : clock_(steadyNow), wakeFd_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (!wakeFd_) tc::platform::throwErrno("eventfd");
}

VirtualLabelPrinter::~VirtualLabelPrinter() {
    Stop();
    detach();
}

void VirtualLabelPrinter::setAnswer(PrinterAnswer answer) {
    std::lock_guard lock(mutex_);
    behaviour_.setAnswer(answer);
}

void VirtualLabelPrinter::scriptAnswers(std::vector<PrinterAnswer> answers) {
    std::lock_guard lock(mutex_);
    behaviour_.scriptAnswers(std::move(answers));
}

void VirtualLabelPrinter::setSlowDelay(milliseconds delay) {
    std::lock_guard lock(mutex_);
    behaviour_.setSlowDelay(delay);
}

void VirtualLabelPrinter::disconnect() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable()) {
        // The thread may be polling the master: it closes the line itself.
        disconnectRequested_ = true;
        signal(wakeFd_.get());
    } else {
        if (loop_) loop_->assertMainThread("VirtualLabelPrinter::disconnect");
        closeLine();
    }
}

bool VirtualLabelPrinter::connected() const {
    std::lock_guard lock(mutex_);
    return connected_ && !disconnectRequested_;
}

std::vector<std::string> VirtualLabelPrinter::Commands() const {
    std::lock_guard lock(mutex_);
    return behaviour_.commands();
}

void VirtualLabelPrinter::clearCommands() {
    std::lock_guard lock(mutex_);
    behaviour_.clearCommands();
}

void VirtualLabelPrinter::takeInput() {
    char buf[4096];
    for (;;) {
        if (!connected_) return;
        const ssize_t n = ::read(pty_.master(), buf, sizeof buf);
        if (n <= 0) return;
        for (auto& reply : behaviour_.feed(std::string_view(buf, std::size_t(n)))) {
            // One command at a time, like a printer: an answer never overtakes the one
            // before it.
            const milliseconds earliest = later_.empty() ? now() : later_.back().due;
            later_.push_back(Later{std::max(now() + reply.delay, earliest), std::move(reply.bytes),
                                   reply.disconnect});
        }
    }
}

void VirtualLabelPrinter::releaseDue() {
    while (connected_ && !later_.empty() && later_.front().due <= now()) {
        Later l = std::move(later_.front());
        later_.pop_front();
        out_ += l.bytes;
        if (l.disconnect) {
            writeOut();
            closeLine();
            return;
        }
    }
    writeOut();
}

void VirtualLabelPrinter::writeOut() {
    while (connected_ && !out_.empty()) {
        const ssize_t n = ::write(pty_.master(), out_.data(), out_.size());
        if (n <= 0) return;  // the port is not reading; the rest goes when it does
        out_.erase(0, std::size_t(n));
    }
}

void VirtualLabelPrinter::closeLine() {
    if (!connected_) return;
    connected_ = false;
    watch_.reset();
    timer_.reset();
    pty_.closeMaster();
    later_.clear();
    out_.clear();
}

// --- on an event loop ---

void VirtualLabelPrinter::attach(tc::platform::EventLoop& loop) {
    loop.assertMainThread("VirtualLabelPrinter::attach");
    std::lock_guard lock(mutex_);
    if (loop_ || thread_.joinable()) return;
    loop_ = &loop;
    clock_ = [&loop] { return loop.monotonic(); };
    if (!connected_) return;
    watch_ = loop.watch(pty_.master(), FdEvent::Read, [this](FdEvent) {
        std::lock_guard lock(mutex_);
        takeInput();
        releaseDue();
        rearmLoop();
    });
}

void VirtualLabelPrinter::rearmLoop() {
    if (!loop_) return;
    watch_.setEvents(out_.empty() ? FdEvent::Read : FdEvent::Read | FdEvent::Write);
    timer_.reset();
    if (!connected_ || later_.empty()) return;
    const milliseconds wait = std::max(later_.front().due - now(), milliseconds(0));
    timer_ = loop_->after(wait, [this] {
        std::lock_guard lock(mutex_);
        releaseDue();
        rearmLoop();
    });
}

void VirtualLabelPrinter::detach() {
    std::lock_guard lock(mutex_);
    if (!loop_) return;
    loop_->assertMainThread("VirtualLabelPrinter::detach");
    watch_.reset();
    timer_.reset();
    loop_ = nullptr;
    clock_ = steadyNow;
}

// --- on a thread of its own ---

void VirtualLabelPrinter::Start() {
    std::lock_guard lock(mutex_);
    if (loop_ || thread_.joinable()) return;
    stopping_ = false;
    thread_ = std::thread([this] { threadMain(); });
}

void VirtualLabelPrinter::Stop() {
    {
        std::lock_guard lock(mutex_);
        if (!thread_.joinable()) return;
        stopping_ = true;
        signal(wakeFd_.get());
    }
    thread_.join();
    thread_ = std::thread();
}

void VirtualLabelPrinter::threadMain() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (disconnectRequested_) {
            disconnectRequested_ = false;
            closeLine();
        }
        pollfd fds[2] = {{wakeFd_.get(), POLLIN, 0}, {-1, 0, 0}};
        if (connected_) fds[1] = {pty_.master(), short(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0};
        int timeout = -1;
        if (connected_ && !later_.empty())
            timeout = int(std::max(later_.front().due - now(), milliseconds(0)).count());
        lock.unlock();
        const int ready = ::poll(fds, 2, timeout);
        lock.lock();
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents) {
            std::uint64_t v;
            [[maybe_unused]] auto n = ::read(wakeFd_.get(), &v, sizeof v);
        }
        if (fds[1].revents & POLLIN) takeInput();
        releaseDue();
    }
}

}  // namespace tc::sim
