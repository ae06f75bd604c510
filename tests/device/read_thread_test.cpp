// The hand-over from real read threads to the main thread, over the hidraw connection on
// socket pairs.
#include <gtest/gtest.h>

#include <atomic>

#include "FakeView.h"
#include "SocketBackend.h"
#include "device/ControllerLink.h"
#include "device/HidCtrl.h"
#include "platform/VirtualEventLoop.h"
#include "tests/support/Eventually.h"

using namespace tc;
using namespace tc::device;
using namespace tc::platform::hid;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

using test::HangGuard;
using test::SocketBackend;

namespace {

struct Rig {
    platform::VirtualEventLoop loop;
    SocketBackend backend;
    HidCtrl ctrl{loop, backend};
    HidDevice* dev = nullptr;
    std::vector<Bytes> got;
    std::atomic<int> inHandler{0};
    bool overlapped = false;

    HidCtrl::DataHandler collect = [this](HidDevice&, std::uint8_t id,
                                          std::span<const std::uint8_t> d) {
        overlapped |= inHandler.fetch_add(1) != 0;
        EXPECT_TRUE(loop.isMainThread());
        Bytes r{id};
        r.insert(r.end(), d.begin(), d.end());
        got.push_back(r);
        inHandler.fetch_sub(1);
    };

    Rig() {
        ctrl.setOnDeviceData(collect);
        loop.runPending();
        EXPECT_TRUE(ctrl.CheckOutByIndex(dev, 0));
    }
    ~Rig() { ctrl.CheckIn(dev); }
};

// The controller link on the socket interface, with an unrelated mouse beside it.
struct LinkRig {
    platform::VirtualEventLoop loop;
    SocketBackend backend{true};
    HidCtrl ctrl{loop, backend};
    test::FakeView view;
    ControllerLink link{ctrl, view};

    LinkRig() {
        link.connectHandlers();
        loop.runPending();
    }
};

}  // namespace

TEST(HidReadThread, ReportsReachTheMainThreadInArrivalOrderOneAtATime) {
    Rig r;
    ASSERT_TRUE(r.dev->isReading());
    for (std::uint8_t i = 1; i <= 20; ++i) r.backend.send({0x22, i, 0, 0});
    ASSERT_TRUE(r.loop.runUntil([&] { return r.got.size() == 20; }));
    for (std::uint8_t i = 1; i <= 20; ++i) {
        EXPECT_EQ(r.got[i - 1][0], 0);  // the report ID put in front
        EXPECT_EQ(r.got[i - 1][2], i);
    }
    EXPECT_EQ(r.got[0].size(), 5u);
    EXPECT_FALSE(r.overlapped);
}

// While the main thread is busy (a command sleeping between its steps), reports pile up in
// the node. The next message pass gets all of them, not one: a raw block queued behind a
// stream of samples must not wait for a pass per sample.
TEST(HidReadThread, ReportsQueuedMeanwhileComeInOneHandOver) {
    Rig r;
    r.backend.send({0x22, 0});
    // Read, and waiting in its hand-over.
    ASSERT_TRUE(tc::testing::eventually([&] { return r.loop.queuedWork() > 0; }));
    for (std::uint8_t i = 1; i <= 20; ++i) r.backend.send({0x22, i});
    r.loop.runQueuedWork();
    ASSERT_EQ(r.got.size(), 1u);
    ASSERT_TRUE(tc::testing::eventually([&] { return r.loop.queuedWork() > 0; }));
    r.loop.runQueuedWork();
    ASSERT_EQ(r.got.size(), 21u);
    EXPECT_EQ(r.got[20][2], 20);
    EXPECT_FALSE(r.overlapped);
}

TEST(HidReadThread, CheckInRunsTheHandOverItFindsQueuedAndDoesNotDeadlock) {
    Rig r;
    r.backend.send({0x22, 1});
    // The report has been read; the reader is now blocked in (or entering) its hand-over
    // and the main thread has not run anything.
    r.backend.last()->waitForReads(1);
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

TEST(HidReadThread, AScanQueuedAheadOfAHandOverChecksInWithoutHanging) {
    LinkRig r;
    ASSERT_NE(r.link.DataDevice(), nullptr);
    ASSERT_TRUE(r.link.DataDevice()->isReading());
    // The mouse goes, then a report is read: its hand-over is queued behind the scan that
    // checks the data interface in and so waits for this very reader.
    r.backend.removeMouse();
    r.backend.send({0x22, 1, 3, 4});
    ASSERT_TRUE(tc::testing::eventually([&] { return r.loop.queuedWork() == 2; }));
    {
        HangGuard guard(10s, "a check-in waiting for a hand-over queued behind it");
        r.loop.runPending();
    }
    EXPECT_EQ(r.view.memo1, (std::vector<std::string>{"Device: PlugOut"}));
    EXPECT_EQ(r.link.testDataBuffer()[2], 3);  // handled during the check-in
    // Found again in the same scan, and read again.
    ASSERT_NE(r.link.DataDevice(), nullptr);
    EXPECT_EQ(r.view.labelDevice, "Device: PlugIn");
    r.backend.send({0x22, 1, 5, 6});
    EXPECT_TRUE(r.loop.runUntil([&] { return r.link.testDataBuffer()[2] == 5; }));
}

TEST(HidReadThread, ClearingTheDataHandlerAndSettingItAgainReadsAgain) {
    Rig r;
    r.ctrl.setOnDeviceData({});
    EXPECT_FALSE(r.dev->isReading());
    r.ctrl.setOnDeviceData(r.collect);
    EXPECT_TRUE(r.dev->isReading());
    r.backend.send({0x22, 9});
    ASSERT_TRUE(r.loop.runUntil([&] { return !r.got.empty(); }));
    EXPECT_EQ(r.got[0][2], 9);
}

TEST(HidReadThread, AReaderThatSawAnUnplugReadsAgainWhenTheScanStillFindsTheNode) {
    Rig r;  // no hot-plug source: only the reader's own scan can notice anything
    bool unplugged = false;
    r.ctrl.setOnDeviceUnplug([&](HidDevice&) { unplugged = true; });
    const int before = r.backend.last()->serial;
    r.backend.breakConnection();
    ASSERT_TRUE(
        r.loop.runUntil([&] { return r.backend.last() && r.backend.last()->serial != before; }));
    r.backend.send({0x22, 4});
    ASSERT_TRUE(r.loop.runUntil([&] { return !r.got.empty(); }));
    EXPECT_EQ(r.got[0][2], 4);
    EXPECT_FALSE(unplugged);
    EXPECT_TRUE(r.dev->PluggedIn());
    EXPECT_TRUE(r.dev->isReading());
}
