#include <gtest/gtest.h>

#include <algorithm>

#include "FakeBackend.h"
#include "FakeView.h"
#include "device/ControllerIds.h"
#include "device/ControllerLink.h"
#include "platform/VirtualEventLoop.h"
#include "sim/hid/VirtualController.h"

using namespace tc;
using namespace tc::device;
using sim::hid::Port;
using Bytes = std::vector<std::uint8_t>;
using namespace std::chrono_literals;

namespace {

const Bytes TestModeReport = {0x06, 0x84, 0, 0, 0, 0, 0, 0, 0};
const Bytes ZeroOutput = {0, 0, 0, 0, 0, 0, 0, 0, 0};

// The link over the virtual controller, as the window would have it.
struct SimRig {
    platform::VirtualEventLoop loop;
    sim::hid::VirtualController sim;
    HidCtrl ctrl;
    test::FakeView view;
    ControllerLink link;

    explicit SimRig(sim::hid::Scenario s = sim::hid::defaultScenario())
        : sim(loop, std::move(s)), ctrl(loop, sim), link(ctrl, view) {
        link.connectHandlers();
        link.setRomResultHandler(view.romResultHandler());
        loop.runPending();
    }
    // Delivers one input report of data bytes straight to the handler, as HidCtrl would.
    void report(Bytes data) { link.HidCtrlDeviceData(*link.DataDevice(), 0, data); }
};

// The link over interfaces a test describes one by one.
struct FakeRig {
    platform::VirtualEventLoop loop;
    test::FakeBackend backend;
    std::unique_ptr<HidCtrl> ctrl;
    test::FakeView view;
    std::unique_ptr<ControllerLink> link;

    explicit FakeRig(std::vector<test::FakeInterface> present, bool connect = true) {
        backend.present = std::move(present);
        ctrl = std::make_unique<HidCtrl>(loop, backend);
        link = std::make_unique<ControllerLink>(*ctrl, view);
        if (connect) link->connectHandlers();
        loop.runPending();
    }
    std::string held(HidDevice* d) const { return d ? d->devicePath() : "none"; }
};

}  // namespace

TEST(HidLinkDiscovery, FindsBothInterfacesAndShowsThePlugState) {
    SimRig r;
    ASSERT_NE(r.link.DataDevice(), nullptr);
    ASSERT_NE(r.link.FeatureDevice(), nullptr);
    EXPECT_EQ(r.link.DataDevice()->devicePath(), "virtual:data");
    EXPECT_EQ(r.link.FeatureDevice()->devicePath(), "virtual:command");
    EXPECT_EQ(r.view.labelDevice, "Device: PlugIn");
    EXPECT_EQ(r.view.label9, "4100");
    EXPECT_EQ(r.view.label10, "1B2F");
    EXPECT_EQ(r.view.lamp, 1);
    EXPECT_EQ(r.sim.featureReports(), (std::vector<Bytes>{TestModeReport}));
    EXPECT_EQ(r.sim.outputReports(), (std::vector<Bytes>{ZeroOutput}));
}

TEST(HidLinkDiscovery, UnplugOfAnyDeviceReleasesBothAndTheSameScanFindsThemAgain) {
    auto s = sim::hid::defaultScenario();
    s.extraDevice = true;
    SimRig r(s);
    HidDevice* data = r.link.DataDevice();
    r.sim.unplug(Port::Extra);
    r.loop.runPending();
    EXPECT_EQ(r.view.memo1, (std::vector<std::string>{"Device: PlugOut"}));
    EXPECT_EQ(r.view.labelDevice, "Device: PlugIn");
    EXPECT_EQ(r.link.DataDevice(), data);  // the same object, checked out again
    ASSERT_NE(r.link.FeatureDevice(), nullptr);
    EXPECT_EQ(r.sim.featureReports(), (std::vector<Bytes>{TestModeReport, TestModeReport}));
    EXPECT_EQ(r.sim.outputReports().size(), 2u);
    EXPECT_EQ(r.view.labelEprom, "EPROM: None");
    EXPECT_EQ(r.view.labelChecksum, "Checksum: Fail");
}

TEST(HidLinkDiscovery, ControllerUnpluggedAndBackIsHeldAgain) {
    SimRig r;
    r.sim.unplug(Port::Data);
    r.sim.unplug(Port::Command);
    r.loop.runPending();
    EXPECT_EQ(r.link.DataDevice(), nullptr);
    EXPECT_EQ(r.link.FeatureDevice(), nullptr);
    EXPECT_EQ(r.view.lamp, 0);
    EXPECT_EQ(r.view.labelDevice, "Device: PlugOut");
    EXPECT_EQ(r.ctrl.Count(), 0);      // checked in and destroyed
    EXPECT_EQ(r.view.label9, "4100");  // the last identifiers stay shown
    r.sim.plug(Port::Command);
    r.sim.plug(Port::Data);
    r.loop.runPending();
    EXPECT_NE(r.link.DataDevice(), nullptr);
    EXPECT_NE(r.link.FeatureDevice(), nullptr);
    EXPECT_EQ(r.view.labelDevice, "Device: PlugIn");
}

TEST(HidLinkDiscovery, CommandInterfaceThatVanishesAloneIsReleasedAndFoundAgain) {
    SimRig r;
    r.sim.unplug(Port::Data);  // releases both; only the command interface is found again
    r.loop.runPending();
    ASSERT_EQ(r.link.DataDevice(), nullptr);
    ASSERT_NE(r.link.FeatureDevice(), nullptr);
    r.sim.unplug(Port::Command);
    r.loop.runPending();
    EXPECT_EQ(r.link.FeatureDevice(), nullptr);
    EXPECT_EQ(r.ctrl.Count(), 0);
    r.sim.plug(Port::Command);
    r.loop.runPending();
    ASSERT_NE(r.link.FeatureDevice(), nullptr);
    EXPECT_TRUE(r.link.FeatureDevice()->PluggedIn());
    EXPECT_EQ(r.sim.featureReports().size(), 3u);  // identified each time it came
}

TEST(HidLinkPredicates, TableOfIdentities) {
    struct Case {
        const char* what;
        std::uint16_t vid, pid, page, usage, inLen;
        bool feature, data;
    } cases[] = {
        {"family pair, command usage", 0x1B2F, 0x4100, 0x0D, 0x04, 6, true, false},
        {"family pair, data length", 0x1B2F, 0x4100, 0xFF00, 0x01, 64, false, true},
        {"family member in no table", 0x1B2F, 0x41FE, 0x0D, 0x04, 6, true, false},
        {"family member data", 0x1B2F, 0x41FE, 0xFF00, 0x01, 64, false, true},
        {"next family", 0x1B2F, 0x4200, 0x0D, 0x04, 64, false, false},
        {"shared pair", 0x0A2D, 0x0F20, 0x0D, 0x04, 64, true, true},
        {"command-only pair", 0x1B2F, 0x5001, 0x0D, 0x04, 64, true, false},
        {"65-byte input", 0x1B2F, 0x4121, 0xFF00, 0x01, 65, false, false},
        {"digitizer but not touch screen", 0x1B2F, 0x4121, 0x0D, 0x02, 6, false, false},
        {"unrelated", 0x046D, 0xC31C, 0x0D, 0x04, 64, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeRig r({test::fakeInterface("x", c.vid, c.pid, c.page, c.usage, c.inLen)}, false);
        r.ctrl->setOnEnumerate([&](HidDevice& d, int) {
            EXPECT_EQ(r.link->IsFeatureInterface(&d), c.feature);
            EXPECT_EQ(r.link->IsDataInterface(&d), c.data);
            return true;
        });
        r.ctrl->Enumerate();
        // Identification sends test mode to a command interface, and only to one.
        EXPECT_EQ(r.backend.featuresTo("x").empty(), !c.feature);
    }
}

TEST(HidLinkPredicates, AnyTopLevelCollectionOfAnInterfaceCounts) {
    using platform::hid::HidCaps;
    const HidCaps mouse{0x02, 0x01, 4, 0, 0}, keyboard{0x06, 0x01, 9, 2, 0},
        touch{0x04, 0x0D, 6, 0, 9}, vendor64{0x01, 0xFF00, 64, 9, 0},
        vendor65{0x01, 0xFF00, 65, 9, 0}, bigMouse{0x02, 0x01, 66, 0, 0};
    struct Case {
        const char* what;
        std::vector<HidCaps> collections;
        bool feature, data;
    } cases[] = {
        {"mouse before the touch screen", {mouse, touch}, true, false},
        {"touch screen before a mouse", {touch, mouse}, true, false},
        {"mouse and keyboard only", {mouse, keyboard}, false, false},
        {"keyboard before the 64-byte input", {keyboard, vendor64}, false, true},
        {"64 bytes beside a longer report", {bigMouse, vendor64}, false, true},
        {"65 bytes beside a short report", {mouse, vendor65}, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        // As the hidraw backend describes one node: the first usage, the longest reports.
        auto x = test::fakeInterface("x", 0x1B2F, 0x4100, c.collections[0].usagePage,
                                     c.collections[0].usage, 0);
        for (const HidCaps& k : c.collections)
            x.info.caps.inputReportByteLength =
                std::max(x.info.caps.inputReportByteLength, k.inputReportByteLength);
        x.info.collections = c.collections;
        FakeRig r({x}, false);
        r.ctrl->setOnEnumerate([&](HidDevice& d, int) {
            EXPECT_EQ(r.link->IsFeatureInterface(&d), c.feature);
            EXPECT_EQ(r.link->IsDataInterface(&d), c.data);
            return true;
        });
        r.ctrl->Enumerate();
        EXPECT_EQ(r.backend.featuresTo("x").empty(), !c.feature);
    }
}

TEST(HidLinkPredicates, OneInterfaceAcceptedByBothBecomesTheCommandInterfaceOnly) {
    FakeRig r({test::fakeInterface("both", 0x0A2D, 0x0F20, 0x0D, 0x04, 64)});
    EXPECT_EQ(r.held(r.link->FeatureDevice()), "fake:both");
    EXPECT_EQ(r.link->DataDevice(), nullptr);
    EXPECT_EQ(r.view.labelDevice, "Device: PlugOut");
    EXPECT_FALSE(r.link->IsFeatureInterface(nullptr));
    EXPECT_FALSE(r.link->IsDataInterface(nullptr));
}

TEST(HidLinkPredicates, OfTwoIdenticalControllersTheFirstIsHeldUntilReleased) {
    FakeRig r({test::fakeInterface("d1", 0x1B2F, 0x4100, 0xFF00, 1, 64),
               test::fakeInterface("c1", 0x1B2F, 0x4100, 0x0D, 0x04, 6),
               test::fakeInterface("d2", 0x1B2F, 0x4100, 0xFF00, 1, 64),
               test::fakeInterface("c2", 0x1B2F, 0x4100, 0x0D, 0x04, 6)});
    EXPECT_EQ(r.held(r.link->DataDevice()), "fake:d1");
    EXPECT_EQ(r.held(r.link->FeatureDevice()), "fake:c1");
    EXPECT_TRUE(r.backend.featuresTo("c2").empty());
    r.backend.remove("d1");
    r.backend.remove("c1");
    r.loop.runPending();
    EXPECT_EQ(r.held(r.link->DataDevice()), "fake:d2");
    EXPECT_EQ(r.held(r.link->FeatureDevice()), "fake:c2");
}

TEST(HidLinkReports, FlagByteLabelsAndDispatchByKind) {
    struct Case {
        const char* what;
        Bytes data;
        const char* eprom;
        const char* checksum;
        int rawSlot;  // -1: nothing stored
        bool timer3;
    } cases[] = {
        {"raw block 2", {0x25, 9, 30, 30, 2, 0xB8, 0x0B}, "EPROM: Find", "Checksum: Pass", 2, true},
        {"kind 0 with both bits", {0x30, 9, 9, 9, 1}, "EPROM: Find", "Checksum: Fail", -1, false},
        {"block 4 has no slot", {0x05, 9, 9, 9, 4}, "EPROM: None", "Checksum: Pass", -1, false},
        {"block without number", {0x25, 9, 9}, "EPROM: Find", "Checksum: Pass", -1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SimRig r;
        r.report(c.data);
        EXPECT_EQ(r.view.labelEprom, c.eprom);
        EXPECT_EQ(r.view.labelChecksum, c.checksum);
        EXPECT_EQ(r.view.timer3Enables > 0, c.timer3);
        for (int slot = 0; slot < 4; ++slot) {
            const Bytes stored(
                r.link.rawBlockStore().bytes().begin() + slot * 64,
                r.link.rawBlockStore().bytes().begin() + slot * 64 + long(c.data.size()));
            EXPECT_EQ(stored == c.data, slot == c.rawSlot) << "slot " << slot;
        }
        EXPECT_EQ(r.view.lamp, 2);
        EXPECT_EQ(r.view.timer1Restarts, 1);
    }
}

TEST(HidLinkReports, LongBlocksAreCutToTheSlotAndShortOnesKeepTheRest) {
    SimRig r;
    Bytes longBlock(80, 0xAA);
    longBlock[0] = 0x25;
    longBlock[4] = 1;
    r.report(longBlock);
    r.report({0x25, 0, 0, 0, 0});
    const auto& s = r.link.rawBlockStore().bytes();
    EXPECT_EQ(s[64], 0x25);
    EXPECT_EQ(s[127], 0xAA);
    EXPECT_EQ(s[128], 0);  // the next slot is untouched
    EXPECT_EQ(r.link.rawBlockStore().wordAt(0), 0x0025);
}

TEST(HidLinkReports, TestSamplesFillTheBufferAndTheMarkerDecides) {
    SimRig r;
    r.report({0x22, 1, 5, 12, 0x10, 0x01, 0x84, 0x03});
    EXPECT_TRUE(r.link.SamplePending());
    r.report({0x22, 0, 6, 1, 0x11, 0x01});
    EXPECT_FALSE(r.link.SamplePending());
    EXPECT_EQ(r.link.testDataBuffer()[2], 6);     // overwritten anyway
    EXPECT_EQ(r.link.testDataBuffer()[6], 0x84);  // beyond the short report: kept
    r.view.edit52 = 64;                           // an index outside the buffer
    r.report({0x22, 1, 5, 12});
    EXPECT_FALSE(r.link.SamplePending());
}

TEST(HidLinkReports, ResultReportsGoToTheRomResultHandling) {
    {
        SimRig r;
        r.view.romResult = [&](const RomWriteResult&) {
            r.view.reportsBlocked = true;  // a handled result blocks what follows
            return false;
        };
        r.report({0x24});
        r.report({0x24});
        EXPECT_EQ(r.view.romResults, (std::vector<Bytes>{{0x24}}));
        EXPECT_EQ(r.view.timer1Restarts, 1);
    }
    SimRig latch;
    latch.view.romResult = [](const RomWriteResult&) { return true; };
    latch.report({0x24});
    EXPECT_EQ(latch.view.lamp, 1);  // lamp and watchdog untouched
    EXPECT_EQ(latch.view.timer1Restarts, 0);
    EXPECT_EQ(latch.view.labelEprom, "EPROM: Find");
}

TEST(HidLinkReports, GateDropsReportsWithoutTrace) {
    SimRig r;
    r.view.terminating = true;
    r.report({0x25, 0, 0, 0, 0});
    r.view.terminating = false;
    r.view.reportsBlocked = true;
    r.report({0x25, 0, 0, 0, 0});
    r.view.reportsBlocked = false;
    r.report({});  // no flag byte
    EXPECT_EQ(r.view.labelEprom, "EPROM: None");
    EXPECT_EQ(r.view.timer1Restarts, 0);
    EXPECT_EQ(r.view.timer3Enables, 0);
}

// The command interface is a touch screen: its own touch reports are no controller reports,
// whatever their first byte looks like.
TEST(HidLinkReports, TheCommandInterfacesTouchReportsAreNotReadAsControllerReports) {
    auto sc = sim::hid::defaultScenario();
    sc.touchReports = true;
    SimRig r(sc);
    ASSERT_TRUE(r.link.FeatureDevice());
    r.report({0x25, 0, 0, 0, 0});
    const int restarts = r.view.timer1Restarts;
    for (Bytes touch : {Bytes{0x01, 0x10, 0x02, 0x20, 0x03}, Bytes{0x05, 0, 0, 1, 0},
                        Bytes{0x02, 1, 3, 4, 0x10, 0, 0x10, 0}})
        r.link.HidCtrlDeviceData(*r.link.FeatureDevice(), 1, touch);
    EXPECT_EQ(r.view.labelEprom, "EPROM: Find");
    EXPECT_EQ(r.view.timer3Enables, 1);
    EXPECT_EQ(r.view.timer1Restarts, restarts);
    EXPECT_FALSE(r.link.SamplePending());
    // ... and in test mode the virtual unit's stream of them changes nothing either.
    r.link.SendFeatureCommand(Command::TestMode, 0);
    r.loop.advance(200ms);
    EXPECT_EQ(r.view.labelEprom, "EPROM: Find");
}

TEST(HidLinkReports, WithoutADataInterfaceReportsAreDropped) {
    auto sc = sim::hid::defaultScenario();
    sc.extraDevice = true;
    SimRig r(sc);
    r.sim.unplug(Port::Data);
    r.sim.unplug(Port::Command);
    r.loop.runPending();
    ASSERT_EQ(r.ctrl.Count(), 1);
    r.link.HidCtrlDeviceData(*r.ctrl.Device(0), 0, Bytes{0x25, 0, 0, 0, 0});
    EXPECT_EQ(r.view.timer3Enables, 0);
    EXPECT_EQ(r.view.lamp, 0);
    EXPECT_EQ(r.view.labelEprom, "EPROM: None");
}

TEST(HidLinkCommands, ReportLayoutsAreByteExact) {
    EXPECT_EQ(tableEntryReport(Axis::Column, 3, 200, 0x8000),
              (CommandReport{0x06, 0x86, 0x00, 0x03, 0xC8, 0x00, 0x00, 0x80, 0x00}));
    EXPECT_EQ(tableEntryReport(Axis::Row, 29, 0x0FFF, 0x1234),
              (CommandReport{0x06, 0x86, 0x01, 0x1D, 0xFF, 0x0F, 0x34, 0x12, 0x00}));
    EXPECT_EQ(featureReport(Command::ReadBlock, 3),
              (CommandReport{0x06, 0x8A, 0x03, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(outputReport(), (CommandReport{0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(HidLinkCommands, ATableOf16By12ReachesTheControllerAs30FeatureReports) {
    SimRig r;
    const std::size_t before = r.sim.featureReports().size();
    r.link.SendFeatureCommand(Command::TestMode, 0);
    for (std::uint8_t i = 0; i < 16; ++i)
        ControllerLink::sendFeatureReport(r.link.FeatureDevice(),
                                          tableEntryReport(Axis::Row, i, 100 + i, 0x7000));
    for (std::uint8_t j = 0; j < 12; ++j)
        ControllerLink::sendFeatureReport(r.link.FeatureDevice(),
                                          tableEntryReport(Axis::Column, j, 200 + j, 0x8000));
    r.link.SendFeatureCommand(Command::TableCommit, 0);
    const auto& sent = r.sim.featureReports();
    ASSERT_EQ(sent.size() - before, 30u);
    EXPECT_EQ(sent[before + 16], (Bytes{0x06, 0x86, 0x01, 15, 115, 0, 0x00, 0x70, 0}));
    EXPECT_EQ(sent[before + 20], (Bytes{0x06, 0x86, 0x00, 3, 203, 0, 0x00, 0x80, 0}));
    EXPECT_EQ(sent.back(), (Bytes{0x06, 0x88, 0, 0, 0, 0, 0, 0, 0}));
    r.loop.advance(100ms);  // the controller stores the table and answers
    EXPECT_EQ(r.sim.eeprom().colMin[3], 203);
    EXPECT_EQ(r.sim.eeprom().rowGain[15], 0x7000);
    ASSERT_EQ(r.view.romResults.size(), 1u);
    EXPECT_EQ(r.view.romResults[0][0], 0x24);
}

TEST(HidLinkCommands, DebugModeSwitchSendsTheModeOnlyWithAController) {
    {
        FakeRig none({});
        none.link->suiRadioGroup1Click();
        EXPECT_TRUE(none.backend.features.empty());
        EXPECT_FALSE(none.link->SendFeatureCommand(Command::TestMode, 0));
        EXPECT_FALSE(none.link->SendOutputReport());
    }

    SimRig r;
    r.view.debugItem = 0;
    r.link.suiRadioGroup1Click();
    EXPECT_FALSE(r.sim.testMode());
    EXPECT_EQ(r.sim.featureReports().back(), (Bytes{0x06, 0x80, 0, 0, 0, 0, 0, 0, 0}));
    r.view.debugItem = 1;
    r.link.suiRadioGroup1Click();
    EXPECT_TRUE(r.sim.testMode());
    EXPECT_EQ(r.sim.featureReports().back(), TestModeReport);
}
