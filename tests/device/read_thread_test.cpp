// The hand-over from real read threads to the main thread, over the hidraw connection on
// a SOCK_SEQPACKET socket pair (which keeps report boundaries as a hidraw node does).
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>

#include "device/HidCtrl.h"
#include "platform/VirtualEventLoop.h"
#include "platform/hid/Hidraw.h"

using namespace tc;
using namespace tc::device;
using namespace tc::platform::hid;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Wraps the real connection to let a test know when a report has been read, so it can
// act while the reader is on its way into the hand-over, without sleeping.
class SignallingConnection final : public HidConnection {
public:
    explicit SignallingConnection(int fd) : inner_(fd, false) {}
    bool readWrite() const override { return true; }
    bool setFeature(std::span<const std::uint8_t> r) override { return inner_.setFeature(r); }
    bool write(std::span<const std::uint8_t> r) override { return inner_.write(r); }
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

    std::mutex m;
    std::condition_variable cv;
    int reads = 0;

private:
    HidrawConnection inner_;
};

class SocketBackend final : public HidBackend {
public:
    SocketBackend() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
        host_ = fds[0];
        device = fds[1];
        info_.instanceId = "socket";
        info_.path = "socket";
        info_.caps.inputReportByteLength = 64;
    }
    ~SocketBackend() override {
        if (device >= 0) close(device);
        if (host_ >= 0) close(host_);
    }
    std::vector<HidInterfaceInfo> enumerate() override {
        if (gone) return {};
        return {info_};
    }
    std::unique_ptr<HidConnection> open(const HidInterfaceInfo&) override {
        if (gone) return nullptr;
        auto c = std::make_unique<SignallingConnection>(dup(host_));
        last = c.get();
        return c;
    }
    void setChangeHandler(std::function<void()>) override {}
    void send(Bytes r) const { ASSERT_EQ(::write(device, r.data(), r.size()), ssize_t(r.size())); }
    void hangUp() {
        gone = true;
        close(device);
        device = -1;
    }

    int device = -1;
    bool gone = false;
    SignallingConnection* last = nullptr;

private:
    int host_ = -1;
    HidInterfaceInfo info_;
};

struct Rig {
    platform::VirtualEventLoop loop;
    SocketBackend backend;
    HidCtrl ctrl{loop, backend};
    HidDevice* dev = nullptr;
    std::vector<Bytes> got;
    std::atomic<int> inHandler{0};
    bool overlapped = false;

    Rig() {
        ctrl.setOnDeviceData([this](HidDevice&, std::uint8_t id, std::span<const std::uint8_t> d) {
            overlapped |= inHandler.fetch_add(1) != 0;
            EXPECT_TRUE(loop.isMainThread());
            Bytes r{id};
            r.insert(r.end(), d.begin(), d.end());
            got.push_back(r);
            inHandler.fetch_sub(1);
        });
        loop.runPending();
        EXPECT_TRUE(ctrl.CheckOutByIndex(dev, 0));
    }
    ~Rig() { ctrl.CheckIn(dev); }
};

}  // namespace

TEST(HidReadThread, ReportsReachTheMainThreadInArrivalOrderOneAtATime) {
    Rig r;
    ASSERT_TRUE(r.dev->IsReading());
    for (std::uint8_t i = 1; i <= 20; ++i) r.backend.send({0x22, i, 0, 0});
    ASSERT_TRUE(r.loop.runUntil([&] { return r.got.size() == 20; }));
    for (std::uint8_t i = 1; i <= 20; ++i) {
        EXPECT_EQ(r.got[i - 1][0], 0);  // the report ID put in front
        EXPECT_EQ(r.got[i - 1][2], i);
    }
    EXPECT_EQ(r.got[0].size(), 5u);
    EXPECT_FALSE(r.overlapped);
}

TEST(HidReadThread, CheckInRunsTheHandOverItFindsQueuedAndDoesNotDeadlock) {
    Rig r;
    r.backend.send({0x22, 1});
    // The report has been read; the reader is now blocked in (or entering) its hand-over
    // and the main thread has not run anything.
    r.backend.last->waitForReads(1);
    EXPECT_TRUE(r.got.empty());
    r.ctrl.CheckIn(r.dev);
    EXPECT_EQ(r.dev, nullptr);
    ASSERT_EQ(r.got.size(), 1u);
    EXPECT_EQ(r.got[0][1], 0x22);
}

TEST(HidReadThread, AZeroLengthReadDeliversNothingAndReadingGoesOn) {
    Rig r;
    r.backend.send({});
    r.backend.send({0x22, 7});
    ASSERT_TRUE(r.loop.runUntil([&] { return !r.got.empty(); }));
    ASSERT_EQ(r.got.size(), 1u);
    EXPECT_EQ(r.got[0][2], 7);
}

TEST(HidReadThread, AHangUpSeenByTheReaderStartsAScan) {
    Rig r;
    bool unplugged = false;
    r.ctrl.setOnDeviceUnplug([&](HidDevice& d) { unplugged = &d == r.dev; });
    r.backend.hangUp();
    ASSERT_TRUE(r.loop.runUntil([&] { return unplugged; }));
    EXPECT_FALSE(r.dev->PluggedIn());
}

TEST(HidReadThread, ExceptionInTheHandlerDoesNotEndTheReader) {
    Rig r;
    std::vector<std::string> log;
    r.ctrl.setErrorLog([&](const std::string& t) { log.push_back(t); });
    int calls = 0;
    r.ctrl.setOnDeviceData([&](HidDevice&, std::uint8_t, std::span<const std::uint8_t>) {
        if (++calls == 1) throw std::runtime_error("boom");
    });
    r.backend.send({0x22, 1});
    r.backend.send({0x22, 2});
    ASSERT_TRUE(r.loop.runUntil([&] { return calls == 2; }));
    EXPECT_EQ(log, (std::vector<std::string>{"Error in HID data handler: boom"}));
}
