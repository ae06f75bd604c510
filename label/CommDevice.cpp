#include "label/CommDevice.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <system_error>

#include "platform/Version.h"

namespace tc::label {

using tc::platform::Parity;
using tc::platform::SerialLine;
using tc::platform::SerialLineSettings;
using tc::platform::SerialOpenError;
using tc::platform::SerialOpenStep;
using tc::platform::StopBits;
using tc::platform::UniqueFd;

namespace {

// The reader takes at most this much from the line per call.
constexpr std::size_t kReadPiece = 2048;
// The writer sends the transmit ring in pieces of at most this size, each complete
// before the next is taken.
constexpr std::size_t kWritePiece = 256;
// How long a stop waits for each thread: 100 times 5 ms.
constexpr auto kStopWait = std::chrono::milliseconds(500);

void signal(int fd) {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto n = ::write(fd, &one, sizeof one);
}

void drain(int fd) {
    std::uint64_t value;
    [[maybe_unused]] auto n = ::read(fd, &value, sizeof value);
}

// The error box shows only the step; the debug log also gets the system's reason.
[[noreturn]] void openFailed(CommErrorCode code, std::string detail, int error) {
    ECommError e(code, std::move(detail), error);
    tc::platform::debugOutput(std::string(e.what()) + " (" + e.detail() + ")");
    throw e;
}

}  // namespace

std::string commErrorMessage(int code) {
    switch (code) {
        case 1:
            return "Out of memory";
        case 2:
            return "Cannot initialize read buffer";
        case 3:
            return "Cannot initialize write buffer";
        case 4:
            return "Cannot open COM port";
        case 5:
            return "Cannot set comm-mask";
        case 6:
            return "Cannot set COM port buffer size";
        case 7:
            return "Cannot read COM port parameters";
        case 8:
            return "Cannot set COM port parameters";
        case 9:
            return "Cannot create COM port asynchronize read event";
        case 10:
            return "Cannot create COM port asynchronize write event";
        case 11:
            return "Cannot create COM port read thread";
        case 12:
            return "Cannot create COM port write thread";
        case 13:
            return "Cannot close COM port read thread";
        case 14:
            return "Cannot close COM port write thread";
        default:
            return "Unknown error";
    }
}

ECommError::ECommError(CommErrorCode code, std::string detail, int error)
    : WordedError(error, commErrorMessage(int(code))),
      commCode_(code),
      detail_(std::move(detail)) {}

TCommDevice::TCommDevice() = default;

TCommDevice::~TCommDevice() {
    try {
        Close();
    } catch (const ECommError&) {
        // The port is closed; at exit nobody is left to be told that it was slow.
    }
}

void TCommDevice::setPort(int port) {
    owner_.assertOwnerThread("TCommDevice::setPort");
    Close();
    settings_.port = port;
}
void TCommDevice::setBaudRate(int baud) {
    owner_.assertOwnerThread("TCommDevice::setBaudRate");
    Close();
    settings_.baudRate = baud;
}
void TCommDevice::setDataBits(int bits) {
    owner_.assertOwnerThread("TCommDevice::setDataBits");
    Close();
    settings_.dataBits = bits;
}
void TCommDevice::setParity(Parity parity) {
    owner_.assertOwnerThread("TCommDevice::setParity");
    Close();
    settings_.parity = parity;
}
void TCommDevice::setStopBits(StopBits stopBits) {
    owner_.assertOwnerThread("TCommDevice::setStopBits");
    Close();
    settings_.stopBits = stopBits;
}
void TCommDevice::setRtsCtsFlowControl(bool on) {
    owner_.assertOwnerThread("TCommDevice::setRtsCtsFlowControl");
    Close();
    settings_.rtsCtsFlowControl = on;
}

void TCommDevice::applySettings(const SerialLineSettings& s) {
    setPort(s.port);
    setBaudRate(s.baudRate);
    setDataBits(s.dataBits);
    setParity(s.parity);
    setStopBits(s.stopBits);
    setRtsCtsFlowControl(s.rtsCtsFlowControl);
}

void TCommDevice::setDevicePath(std::string path) {
    owner_.assertOwnerThread("TCommDevice::setDevicePath");
    Close();
    devicePath_ = std::move(path);
}

std::string TCommDevice::devicePath() const {
    return devicePath_.empty() ? tc::platform::serialDevicePath(settings_.port) : devicePath_;
}

void TCommDevice::Open() {
    owner_.assertOwnerThread("TCommDevice::Open");
    if (Active()) return;
    std::unique_ptr<SerialLine> line;
    try {
        line = std::make_unique<SerialLine>(devicePath(), settings_);
    } catch (const SerialOpenError& e) {
        const CommErrorCode code = e.step() == SerialOpenStep::Open ? CommErrorCode::OpenPort
                                   : e.step() == SerialOpenStep::ReadParameters
                                       ? CommErrorCode::ReadParameters
                                       : CommErrorCode::SetParameters;
        openFailed(code, e.what(), e.error());
    }
    // Until the threads run, a failure drops what this open made so far.
    UniqueFd stop(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!stop) openFailed(CommErrorCode::ReadEvent, "eventfd", errno);
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) openFailed(CommErrorCode::WriteEvent, "eventfd", errno);
    // The rings start empty; no thread uses them yet.
    rx_.reset();
    tx_.reset();
    lineGone_ = false;
    lineIn_ = 0;
    txAbortTo_ = 0;
    dropped_ = 0;
    readerExited_ = writerExited_ = false;
    stopFd_ = std::move(stop);
    wakeFd_ = std::move(wake);
    line_ = std::move(line);
    try {
        reader_ = std::thread([this] { readerLoop(); });
    } catch (const std::system_error& e) {
        line_.reset();
        stopFd_.reset();
        wakeFd_.reset();
        openFailed(CommErrorCode::ReadThread, e.what(), e.code().value());
    }
    try {
        writer_ = std::thread([this] { writerLoop(); });
    } catch (const std::system_error& e) {
        signal(stopFd_.get());
        reader_.join();
        line_.reset();
        stopFd_.reset();
        wakeFd_.reset();
        openFailed(CommErrorCode::WriteThread, e.what(), e.code().value());
    }
    if (!line_->note().empty() && onLog_) onLog_(line_->note());
}

void TCommDevice::Close() {
    owner_.assertOwnerThread("TCommDevice::Close");
    if (!Active()) return;
    signal(stopFd_.get());
    bool readerLate, writerLate;
    {
        std::unique_lock lock(exitMutex_);
        readerLate = !waitExited(readerExited_, lock);
        writerLate = !waitExited(writerExited_, lock);
    }
    // The threads block only in poll on the stop descriptor, so a late one still ends; it
    // must be joined before the rings and the line it uses go away.
    reader_.join();
    writer_.join();
    line_.reset();
    stopFd_.reset();
    wakeFd_.reset();
    if (readerLate) throw ECommError(CommErrorCode::CloseReadThread, "reader stopped late");
    if (writerLate) throw ECommError(CommErrorCode::CloseWriteThread, "writer stopped late");
}

bool TCommDevice::waitExited(const bool& flag, std::unique_lock<std::mutex>& lock) {
    return exitCv_.wait_for(lock, kStopWait, [&] { return flag; });
}

void TCommDevice::markExited(bool& flag) {
    std::lock_guard lock(exitMutex_);
    flag = true;
    exitCv_.notify_all();
}

std::size_t TCommDevice::Write(const void* data, std::size_t count) {
    owner_.assertOwnerThread("TCommDevice::Write");
    const std::size_t n = tx_.push(static_cast<const std::uint8_t*>(data), count);
    if (n && Active()) wakeWriter();
    return n;
}

std::size_t TCommDevice::Read(void* buffer, std::size_t count) {
    owner_.assertOwnerThread("TCommDevice::Read");
    if (!Active()) return 0;
    return rx_.pop(static_cast<std::uint8_t*>(buffer), count);
}

void TCommDevice::PurgeRead(bool abort) {
    owner_.assertOwnerThread("TCommDevice::PurgeRead");
    if (!Active()) return;
    if (abort) rxAbort_.fetch_add(1, std::memory_order_acq_rel);
    line_->flushInput();
    rx_.discardAsConsumer();
}

void TCommDevice::PurgeWrite(bool abort) {
    owner_.assertOwnerThread("TCommDevice::PurgeWrite");
    if (!Active()) return;
    const std::uint64_t mark = tx_.discardAsProducer();
    if (abort) txAbortTo_.store(mark, std::memory_order_release);
    line_->flushOutput();
    // The writer frees the purged space when it next looks at the ring.
    wakeWriter();
}

void TCommDevice::wakeWriter() const {
    signal(wakeFd_.get());
}

void TCommDevice::readerLoop() {
    const int fd = line_->fd();
    std::uint8_t piece[kReadPiece];
    for (;;) {
        pollfd fds[2] = {{stopFd_.get(), POLLIN, 0}, {fd, POLLIN, 0}};
        // A line that has gone away reports hang-up for ever: wait for the stop alone.
        const nfds_t count = lineGone_.load(std::memory_order_relaxed) ? 1 : 2;
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents) break;
        if (count < 2 || !fds[1].revents) continue;
        const short events = fds[1].revents;
        const std::uint32_t abortMark = rxAbort_.load(std::memory_order_acquire);
        const ssize_t n = ::read(fd, piece, sizeof piece);
        if (n > 0) {
            // An aborting purge during the read drops this piece; past the ring's free
            // space the rest is dropped.
            std::size_t kept = 0;
            if (rxAbort_.load(std::memory_order_acquire) == abortMark)
                kept = rx_.push(piece, std::size_t(n));
            dropped_.fetch_add(std::size_t(n) - kept, std::memory_order_relaxed);
            lineIn_.fetch_add(std::size_t(n), std::memory_order_release);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // Reads never wait on this line, so 0 (or EAGAIN) only says that nothing is
        // there: a purge may have emptied the driver since the poll. The line is gone
        // when the poll reports a hang-up (a hung-up terminal also reads 0) or the read
        // fails otherwise (EIO once the far end of a pseudo-terminal has closed).
        const bool nothing = n == 0 || errno == EAGAIN;
        if (!nothing || (events & (POLLHUP | POLLERR | POLLNVAL)))
            lineGone_.store(true, std::memory_order_release);
    }
    markExited(readerExited_);
}

bool TCommDevice::sendPiece(const std::uint8_t* piece, std::size_t n, std::uint64_t start) {
    const int fd = line_->fd();
    std::size_t done = 0;
    while (done < n) {
        // An aborting purge drops the rest of a piece that was queued before it.
        if (txAbortTo_.load(std::memory_order_acquire) > start) return true;
        if (lineGone_.load(std::memory_order_relaxed)) return true;
        const ssize_t w = ::write(fd, piece + done, n - done);
        if (w > 0) {
            done += std::size_t(w);
            continue;
        }
        if (w < 0 && errno == EINTR) continue;
        if (w < 0 && errno != EAGAIN) {
            lineGone_.store(true, std::memory_order_release);
            return true;
        }
        // The driver is full (or CTS holds the output): wait until it takes more, or
        // until a purge may have aborted this piece.
        pollfd fds[3] = {{stopFd_.get(), POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}, {fd, POLLOUT, 0}};
        waitingForLine_.store(true, std::memory_order_release);
        const int ready = ::poll(fds, 3, -1);
        waitingForLine_.store(false, std::memory_order_release);
        if (ready < 0 && errno != EINTR) return false;
        if (fds[0].revents) return false;
        if (fds[1].revents) drain(wakeFd_.get());
        if (fds[2].revents & (POLLERR | POLLHUP | POLLNVAL))
            lineGone_.store(true, std::memory_order_release);
    }
    return true;
}

void TCommDevice::writerLoop() {
    std::uint8_t piece[kWritePiece];
    for (;;) {
        pollfd fds[2] = {{stopFd_.get(), POLLIN, 0}, {wakeFd_.get(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents) break;
        drain(wakeFd_.get());
        bool running = true;
        while (running) {
            std::uint64_t start = 0;
            const std::size_t n = tx_.pop(piece, sizeof piece, &start);
            if (n == 0) break;
            // On a line that has gone away the queue is emptied unsent, so Write keeps
            // taking bytes as on a line that nobody listens to.
            running = sendPiece(piece, n, start);
        }
        if (!running) break;
    }
    markExited(writerExited_);
}

}  // namespace tc::label
