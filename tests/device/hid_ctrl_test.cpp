#include <gtest/gtest.h>

#include <cerrno>
#include <vector>

#include "device/HidCtrl.h"
#include "platform/VirtualEventLoop.h"
#include "sim/hid/VirtualController.h"

using namespace tc;
using namespace tc::device;
using sim::hid::Port;
using sim::hid::VirtualController;
using namespace std::chrono_literals;

namespace {

struct Rig {
    platform::VirtualEventLoop loop;
    VirtualController sim;
    HidCtrl ctrl;
    int changes = 0;
    std::vector<std::string> unplugged;
    std::vector<std::vector<std::uint8_t>> data;

    explicit Rig(sim::hid::Scenario s = sim::hid::defaultScenario())
        : sim(loop, std::move(s)), ctrl(loop, sim) {
        ctrl.setOnDeviceChange([this] { ++changes; });
        ctrl.setOnDeviceUnplug([this](HidDevice& d) { unplugged.push_back(d.devicePath()); });
        ctrl.setOnDeviceData([this](HidDevice&, std::uint8_t id, std::span<const std::uint8_t> b) {
            std::vector<std::uint8_t> r{id};
            r.insert(r.end(), b.begin(), b.end());
            data.push_back(r);
        });
    }
    std::vector<std::string> paths() const {
        std::vector<std::string> out;
        for (int i = 0; i < ctrl.Count(); ++i) out.push_back(ctrl.Device(i)->devicePath());
        return out;
    }
    int indexOf(const std::string& path) const {
        for (int i = 0; i < ctrl.Count(); ++i)
            if (ctrl.Device(i)->devicePath() == path) return i;
        return -1;
    }
};

sim::hid::Scenario withExtra(bool accessOnly = false) {
    auto s = sim::hid::defaultScenario();
    s.extraDevice = true;
    s.extraAccessOnly = accessOnly;
    return s;
}

}  // namespace

TEST(HidCtrlLayer, FirstScanRunsOnceTheLoopRunsAndListsInFirstSeenOrder) {
    Rig r;
    EXPECT_EQ(r.ctrl.Count(), 0);  // posted, not run in the constructor
    r.loop.runPending();
    EXPECT_EQ(r.paths(), (std::vector<std::string>{"virtual:data", "virtual:command"}));
    EXPECT_EQ(r.changes, 1);
    r.sim.plug(Port::Extra);
    r.loop.runPending();
    r.sim.unplug(Port::Data);
    r.sim.plug(Port::Data);
    r.loop.runPending();
    // The replugged data interface is a new instance and goes to the end.
    EXPECT_EQ(r.paths(),
              (std::vector<std::string>{"virtual:command", "virtual:extra", "virtual:data"}));
}

TEST(HidCtrlLayer, OnlyOneControllerPerProgram) {
    Rig r;
    try {
        HidCtrl second(r.loop, r.sim);
        FAIL() << "a second controller was created";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Only one TJvHidDeviceController allowed per program");
    }
}

TEST(HidCtrlLayer, UnrelatedDevicePluggedAndUnpluggedNeverChecksOutTwice) {
    Rig r;
    r.loop.runPending();
    HidDevice* held = nullptr;
    ASSERT_TRUE(r.ctrl.CheckOutByIndex(held, 0));
    HidDevice* again = held;
    EXPECT_FALSE(r.ctrl.CheckOutByIndex(again, 0));
    EXPECT_EQ(again, nullptr);
    EXPECT_FALSE(r.ctrl.CheckOutByIndex(again, 7));

    r.sim.plug(Port::Extra);
    r.loop.runPending();
    EXPECT_EQ(r.changes, 2);
    EXPECT_TRUE(held->CheckedOut());
    r.sim.unplug(Port::Extra);
    r.loop.runPending();
    EXPECT_EQ(r.changes, 3);
    EXPECT_EQ(r.unplugged, (std::vector<std::string>{"virtual:extra"}));  // that one only
    EXPECT_TRUE(held->PluggedIn());
    r.ctrl.CheckIn(held);
}

TEST(HidCtrlLayer, IdentificationOnlyDeviceIsListedButNeverReadOrWritten) {
    Rig r(withExtra(true));
    r.loop.runPending();
    const int i = r.indexOf("virtual:extra");
    ASSERT_GE(i, 0);
    std::vector<int> visited;
    r.ctrl.setOnEnumerate([&](HidDevice& d, int index) {
        visited.push_back(index);
        EXPECT_TRUE(d.Enumerating());
        EXPECT_TRUE(d.IsAccessible());
        return true;
    });
    r.ctrl.Enumerate();
    EXPECT_EQ(visited, (std::vector<int>{0, 1, 2}));
    HidDevice* d = nullptr;
    ASSERT_TRUE(r.ctrl.CheckOutByIndex(d, i));
    EXPECT_FALSE(d->isReading());
    EXPECT_FALSE(d->SetFeature(std::vector<std::uint8_t>(9, 0)));
    std::size_t written = 99;
    EXPECT_FALSE(d->WriteFile(std::vector<std::uint8_t>(9, 0), written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(d->GetCaps().inputReportByteLength, 0);
    r.ctrl.CheckIn(d);
}

TEST(HidCtrlLayer, OperationsNeedAnAccessibleDevice) {
    Rig r;
    r.loop.runPending();
    HidDevice* cmd = r.ctrl.Device(1);
    EXPECT_FALSE(cmd->IsAccessible());
    EXPECT_EQ(cmd->GetCaps().usagePage, 0);
    EXPECT_FALSE(cmd->SetFeature(std::vector<std::uint8_t>{6, 0x84, 0, 0, 0, 0, 0, 0, 0}));
    HidDevice* held = nullptr;
    ASSERT_TRUE(r.ctrl.CheckOutByIndex(held, 1));
    EXPECT_EQ(held->GetCaps().usagePage, 0x0D);
    EXPECT_TRUE(held->SetFeature(std::vector<std::uint8_t>{6, 0x84, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(r.sim.testMode());
    r.ctrl.CheckIn(held);
}

TEST(HidCtrlLayer, ReportsArriveInOrderAndAZeroLengthReadDeliversNothing) {
    Rig r;
    r.loop.runPending();
    HidDevice* d = nullptr;
    ASSERT_TRUE(r.ctrl.CheckOutByIndex(d, 0));
    EXPECT_TRUE(d->isReading());
    r.sim.injectReport(Port::Data, {});
    r.sim.injectReport(Port::Data, {0, 0x25, 7});
    r.sim.injectReport(Port::Data, {0});  // a report ID and no data: delivered, size 0
    r.loop.runPending();
    EXPECT_EQ(r.data, (std::vector<std::vector<std::uint8_t>>{{0, 0x25, 7}, {0}}));
    r.ctrl.CheckIn(d);
    r.sim.injectReport(Port::Data, {0, 1});
    r.loop.runPending();
    EXPECT_EQ(r.data.size(), 2u);  // checked in: no longer read
}

TEST(HidCtrlLayer, CheckInOfAVanishedDeviceDestroysItAndClearsTheVariable) {
    Rig r;
    r.loop.runPending();
    HidDevice* d = nullptr;
    ASSERT_TRUE(r.ctrl.CheckOutByIndex(d, 0));
    r.sim.unplug(Port::Data);
    r.loop.runPending();
    EXPECT_EQ(r.unplugged, (std::vector<std::string>{"virtual:data"}));
    // Held by its owner: still listed, keeping its place.
    EXPECT_EQ(r.ctrl.Count(), 2);
    EXPECT_EQ(r.ctrl.Device(0), d);
    EXPECT_FALSE(d->PluggedIn());
    EXPECT_FALSE(d->IsAccessible());
    r.sim.plug(Port::Extra);  // a later scan does not report it again
    r.loop.runPending();
    EXPECT_EQ(r.unplugged.size(), 1u);
    r.ctrl.CheckIn(d);
    EXPECT_EQ(d, nullptr);
    EXPECT_EQ(r.paths(), (std::vector<std::string>{"virtual:command", "virtual:extra"}));
}

TEST(HidCtrlLayer, AnExceptionInTheDataHandlerIsLoggedAndReadingGoesOn) {
    Rig r;
    std::vector<std::string> log;
    r.ctrl.setErrorLog([&](const std::string& t) { log.push_back(t); });
    int calls = 0;
    r.ctrl.setOnDeviceData([&](HidDevice&, std::uint8_t, std::span<const std::uint8_t>) {
        if (++calls == 1) throw std::runtime_error("'x' is not a valid integer value");
    });
    r.loop.runPending();
    HidDevice* d = nullptr;
    ASSERT_TRUE(r.ctrl.CheckOutByIndex(d, 0));
    r.sim.injectReport(Port::Data, {0, 1});
    r.sim.injectReport(Port::Data, {0, 2});
    r.loop.runPending();
    EXPECT_EQ(calls, 2);
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("'x' is not a valid integer value"), std::string::npos);
    r.ctrl.CheckIn(d);
}

TEST(HidCtrlLayer, AFailedSendSaysWhy) {
    Rig r;
    r.loop.runPending();
    const std::vector<std::uint8_t> testMode{6, 0x84, 0, 0, 0, 0, 0, 0, 0};
    HidDevice* cmd = r.ctrl.Device(1);
    EXPECT_FALSE(cmd->SetFeature(testMode));
    EXPECT_EQ(cmd->lastError(), EBADF);  // not held: not open for reading and writing
    ASSERT_TRUE(r.ctrl.CheckOutByIndex(cmd, 1));
    EXPECT_FALSE(cmd->SetFeature(std::vector<std::uint8_t>{7, 0}));
    EXPECT_EQ(cmd->lastError(), EINVAL);  // a report the interface does not declare
    EXPECT_TRUE(cmd->SetFeature(testMode));
    EXPECT_EQ(cmd->lastError(), 0);
    r.sim.unplug(Port::Command);
    r.loop.runPending();
    std::size_t written = 0;
    EXPECT_FALSE(cmd->WriteFile(testMode, written));
    EXPECT_EQ(cmd->lastError(), ENODEV);
    r.ctrl.CheckIn(cmd);
}

TEST(HidCtrlLayer, DestroyingTheControllerUnplugsHeldDevices) {
    platform::VirtualEventLoop loop;
    VirtualController sim(loop, sim::hid::defaultScenario());
    std::vector<std::string> unplugged;
    {
        HidCtrl ctrl(loop, sim);
        ctrl.setOnDeviceUnplug([&](HidDevice& d) { unplugged.push_back(d.devicePath()); });
        loop.runPending();
        HidDevice* d = nullptr;
        ASSERT_TRUE(ctrl.CheckOutByIndex(d, 1));
    }
    EXPECT_EQ(unplugged, (std::vector<std::string>{"virtual:command"}));
    HidCtrl next(loop, sim);  // the one-controller rule counts only live ones
}
