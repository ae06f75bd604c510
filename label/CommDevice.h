// CommDevice1: the label printer's serial port. Settings are stored and take effect at
// the next open; while open, a reader thread moves arriving bytes into the receive ring
// and a writer thread sends the transmit ring, so Read and Write never wait.
//
// Threads: the port belongs to the thread that made it (the main thread). The settings,
// Open, Close, Write, Read, PurgeRead and PurgeWrite run there only, and check it
// (TOUCHCAL_THREAD_CHECKS); so does the log sink, which Open calls. The counters
// (queuedForSending, waitingForLine, receivedFromLine, droppedOnReceive, lineGone) may be
// read from any thread. While the port is open it runs two threads of its own, which never
// call out of the port: the reader moves what arrives on the line into the receive ring
// (the main thread being its one consumer), the writer sends the transmit ring (the main
// thread being its one producer) and waits for the line when the driver is full; Close
// stops and joins both.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "label/ByteRing.h"
#include "platform/ThreadAffinity.h"
#include "platform/UniqueFd.h"
#include "platform/WordedError.h"
#include "platform/serial/CommPort.h"
#include "platform/serial/SerialLine.h"
#include "platform/serial/SerialSettings.h"

namespace tc::label {

// The failure codes of the port and their messages ("Cannot open COM port" ...).
enum class CommErrorCode : int {
    OutOfMemory = 1,
    ReadBuffer = 2,
    WriteBuffer = 3,
    OpenPort = 4,
    CommMask = 5,
    BufferSize = 6,
    ReadParameters = 7,
    SetParameters = 8,
    ReadEvent = 9,
    WriteEvent = 10,
    ReadThread = 11,
    WriteThread = 12,
    CloseReadThread = 13,
    CloseWriteThread = 14,
};

std::string commErrorMessage(int code);

// Raised by Open and Close; what() is the message alone, as the error box shows it.
// A failed open also writes the message with its detail to the debug output.
// error() (and code(), as for every failure of the errno family) is the errno of the failed
// call; 0 when no call failed (settings the line did not take, a thread that stopped late).
class ECommError : public tc::platform::WordedError {
public:
    ECommError(CommErrorCode code, std::string detail, int error = 0);
    // The step that failed.
    CommErrorCode commCode() const { return commCode_; }
    // The system's reason, for the debug log.
    const std::string& detail() const { return detail_; }

private:
    CommErrorCode commCode_;
    std::string detail_;
};

class TCommDevice final : public tc::platform::CommPort {
public:
    using LogSink = std::function<void(const std::string&)>;

    TCommDevice();
    // Stops the threads and closes the port; a stop that runs late is not reported here.
    ~TCommDevice() override;
    TCommDevice(const TCommDevice&) = delete;
    TCommDevice& operator=(const TCommDevice&) = delete;

    // Line settings. Each closes an open port first; all take effect at the next open.
    void setPort(int port);
    void setBaudRate(int baud);
    void setDataBits(int bits);
    void setParity(tc::platform::Parity parity);
    void setStopBits(tc::platform::StopBits stopBits);
    void setRtsCtsFlowControl(bool on);
    // All of them, in the order port, baud rate, data bits, parity, stop bits, flow control.
    void applySettings(const tc::platform::SerialLineSettings& settings);
    const tc::platform::SerialLineSettings& Settings() const { return settings_; }

    // A device path that replaces the port number's (a USB adapter, a pseudo-terminal);
    // empty returns to the port number rule. Closes an open port first.
    void setDevicePath(std::string path);
    // The path the next open uses.
    std::string devicePath() const;

    // Lines for the log (the 1.5 stop bits mapping); called inside Open.
    void setOnLog(LogSink sink) { onLog_ = std::move(sink); }

    // Open raises ECommError and leaves the port closed when a step fails.
    void Open();
    // Close raises ECommError (13, 14) when a thread took longer than 500 ms to stop;
    // the port is closed all the same.
    void Close();
    void setActive(bool active) { active ? Open() : Close(); }
    bool Active() const { return line_ != nullptr; }

    // Whether the device went away (hang-up, unplug) while open; cleared by the next open.
    bool lineGone() const { return lineGone_.load(std::memory_order_acquire); }

    std::size_t Write(const void* data, std::size_t count) override;
    std::size_t Write(std::string_view text) { return Write(text.data(), text.size()); }
    std::size_t Read(void* buffer, std::size_t count) override;
    void PurgeRead(bool abort) override;
    void PurgeWrite(bool abort) override;

    // Bytes queued and not yet taken by the writer.
    std::size_t queuedForSending() const { return tx_.size(); }
    // Whether the writer is waiting for the line to take more (CTS low, driver full).
    bool waitingForLine() const { return waitingForLine_.load(std::memory_order_acquire); }
    // Bytes taken from the line since the open, and those of them the full receive ring
    // had no room for.
    std::uint64_t receivedFromLine() const { return lineIn_.load(std::memory_order_acquire); }
    std::uint64_t droppedOnReceive() const { return dropped_.load(std::memory_order_acquire); }

private:
    void readerLoop();
    void writerLoop();
    void wakeWriter() const;
    bool sendPiece(const std::uint8_t* piece, std::size_t n, std::uint64_t start);
    void markExited(bool& flag);
    bool waitExited(const bool& flag, std::unique_lock<std::mutex>& lock);

    tc::platform::SerialLineSettings settings_;
    std::string devicePath_;
    LogSink onLog_;

    tc::platform::ThreadAffinity owner_;
    std::unique_ptr<tc::platform::SerialLine> line_;
    // Event counters the threads poll: a stop ends both, a wake tells the writer to look
    // at the transmit ring. Held only while open.
    tc::platform::UniqueFd stopFd_;
    tc::platform::UniqueFd wakeFd_;
    std::thread reader_;
    std::thread writer_;
    std::mutex exitMutex_;
    std::condition_variable exitCv_;
    bool readerExited_ = false;
    bool writerExited_ = false;

    ByteRing rx_;
    ByteRing tx_;
    std::atomic<std::uint32_t> rxAbort_{0};
    std::atomic<std::uint64_t> txAbortTo_{0};  // transmit bytes before this index are aborted
    std::atomic<bool> lineGone_{false};
    std::atomic<bool> waitingForLine_{false};
    std::atomic<std::uint64_t> lineIn_{0};
    std::atomic<std::uint64_t> dropped_{0};
};

}  // namespace tc::label
