// A reading backend over SOCK_SEQPACKET socket pairs (which keep report boundaries as a
// hidraw node does), for tests of the read threads on either event loop. Every open gives
// a pair of its own, so a connection can be hung up while the interface stays listed.
#pragma once

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/hid/Hidraw.h"

namespace tc::test {

using namespace tc::platform::hid;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class SocketBackend;

// The real hidraw connection on the host end of a pair; lets a test know when a report
// has been read, so it can act while the reader is on its way into the hand-over.
class SignallingConnection final : public HidConnection {
public:
    SignallingConnection(SocketBackend& backend, platform::FdPair pair);
    ~SignallingConnection() override;
    bool readWrite() const override { return true; }
    SendResult setFeature(std::span<const std::uint8_t> r) override { return inner_.setFeature(r); }
    SendResult write(std::span<const std::uint8_t> r) override { return inner_.write(r); }
    bool pushesReports() const override { return false; }
    ReadResult read(std::span<std::uint8_t> b, Millis slice) override {
        auto r = inner_.read(b, slice);
        if (r.status == ReadResult::Status::Data) {
            std::lock_guard l(m);
            ++reads;
            cv.notify_all();
        }
        return r;
    }
    void cancelRead() override { inner_.cancelRead(); }
    void waitForReads(int n) {
        std::unique_lock l(m);
        cv.wait_for(l, 5s, [&] { return reads >= n; });
    }
    void hangUp() { device.reset(); }

    std::mutex m;
    std::condition_variable cv;
    int reads = 0;
    platform::UniqueFd device;  // the controller's end
    int serial;                 // counts the backend's opens

private:
    SocketBackend& backend_;
    HidrawConnection inner_;
};

class SocketBackend final : public HidBackend {
public:
    // The controller's data interface (family identifiers, 64-byte input) and, when asked,
    // an unrelated mouse that can only be identified.
    explicit SocketBackend(bool withMouse = false) : mouse(withMouse) {
        info_.instanceId = "socket";
        info_.path = "socket";
        info_.vendorId = 0x1B2F;
        info_.productId = 0x4100;
        info_.caps.inputReportByteLength = 64;
        mouseInfo_.instanceId = "mouse";
        mouseInfo_.path = "mouse";
        mouseInfo_.vendorId = 0x046D;
        mouseInfo_.productId = 0xC077;
    }
    std::vector<HidInterfaceInfo> enumerate() override {
        std::vector<HidInterfaceInfo> out;
        if (!gone) out.push_back(info_);
        if (mouse) out.push_back(mouseInfo_);
        return out;
    }
    std::unique_ptr<HidConnection> open(const HidInterfaceInfo& info) override {
        if (info.instanceId == "mouse") {
            if (!mouse) return nullptr;
            return std::make_unique<HidrawConnection>(platform::UniqueFd(), false);
        }
        if (gone) return nullptr;
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
        return std::make_unique<SignallingConnection>(
            *this, platform::FdPair{platform::UniqueFd(fds[0]), platform::UniqueFd(fds[1])});
    }
    void setChangeHandler(std::function<void()> h) override { onChange = std::move(h); }

    // The connection opened last and still open: the reader's.
    SignallingConnection* last() const { return live.empty() ? nullptr : live.back(); }
    void send(Bytes r) const {
        ASSERT_NE(last(), nullptr);
        ASSERT_EQ(::send(last()->device.get(), r.data(), r.size(), MSG_NOSIGNAL),
                  ssize_t(r.size()));
    }
    // The interface goes for good.
    void hangUp() {
        gone = true;
        if (last()) last()->hangUp();
    }
    // The reader's connection fails as on an unplug, but the interface stays listed.
    void breakConnection() {
        if (last()) last()->hangUp();
    }
    // The mouse goes, and the hot-plug source says so.
    void removeMouse() {
        mouse = false;
        if (onChange) onChange();
    }

    bool gone = false;
    bool mouse;
    std::function<void()> onChange;
    std::vector<SignallingConnection*> live;
    int opens = 0;

private:
    HidInterfaceInfo info_, mouseInfo_;
};

inline SignallingConnection::SignallingConnection(SocketBackend& backend, platform::FdPair pair)
    : device(std::move(pair.second)),
      serial(++backend.opens),
      backend_(backend),
      inner_(std::move(pair.first), false) {
    backend_.live.push_back(this);
}

inline SignallingConnection::~SignallingConnection() {
    std::erase(backend_.live, this);
    hangUp();
}

// Ends the test program with a message when the guarded code has not finished in time, so
// a deadlock fails the run instead of hanging it.
class HangGuard {
public:
    HangGuard(std::chrono::milliseconds limit, std::string what)
        : thread_([this, limit, what = std::move(what)] {
              std::unique_lock l(m_);
              if (cv_.wait_for(l, limit, [&] { return done_; })) return;
              std::fprintf(stderr, "HANG: %s (no end after %lld ms)\n", what.c_str(),
                           static_cast<long long>(limit.count()));
              std::fflush(stderr);
              std::_Exit(EXIT_FAILURE);
          }) {}
    ~HangGuard() {
        {
            std::lock_guard l(m_);
            done_ = true;
        }
        cv_.notify_all();
        thread_.join();
    }
    HangGuard(const HangGuard&) = delete;
    HangGuard& operator=(const HangGuard&) = delete;

private:
    std::mutex m_;
    std::condition_variable cv_;
    bool done_ = false;
    std::thread thread_;
};

}  // namespace tc::test
