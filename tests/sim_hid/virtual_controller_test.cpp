#include <gtest/gtest.h>

#include <cerrno>
#include <map>

#include "device/ControllerLink.h"
#include "platform/VirtualEventLoop.h"
#include "sim/hid/VirtualController.h"
#include "tests/device/FakeView.h"

using namespace tc;
using namespace tc::device;
using namespace tc::sim::hid;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

namespace {

// Listens on the data interface as the program would, keeping every report.
struct Listener {
    platform::VirtualEventLoop loop;
    VirtualController sim;
    HidCtrl ctrl;
    std::vector<std::pair<long, Bytes>> reports;  // (virtual ms, data bytes)
    std::vector<Bytes> commandReports;            // what the command interface sent
    HidDevice* data = nullptr;
    HidDevice* command = nullptr;

    explicit Listener(Scenario s = defaultScenario()) : sim(loop, std::move(s)), ctrl(loop, sim) {
        ctrl.setOnDeviceData([this](HidDevice& from, std::uint8_t,
                                    std::span<const std::uint8_t> d) {
            if (&from == command)
                commandReports.emplace_back(d.begin(), d.end());
            else
                reports.emplace_back(loop.monotonic().count(), Bytes(d.begin(), d.end()));
        });
        loop.runPending();
        for (int i = 0; i < ctrl.Count(); ++i) {
            HidDevice* d = ctrl.Device(i);
            if (d->devicePath() == "virtual:data") ctrl.CheckOutByIndex(data, i);
            if (d->devicePath() == "virtual:command") ctrl.CheckOutByIndex(command, i);
        }
    }
    ~Listener() {
        ctrl.CheckIn(data);
        ctrl.CheckIn(command);
    }
    void command_(Command c, std::uint8_t arg) { command->SetFeature(featureReport(c, arg)); }
    std::vector<Bytes> ofKind(int kind) const {
        std::vector<Bytes> out;
        for (auto& [t, r] : reports)
            if ((r[0] & 0x0F) == kind) out.push_back(r);
        return out;
    }
};

struct Extremes {
    std::map<int, int> rowMin, rowMax, colMin, colMax;
};

// What the edge sweep reads of a stream: a row line's minimum at the last column and its
// maximum at the first; a column line's minimum at the last row and its maximum at the
// first.
Extremes sweep(const std::vector<Bytes>& samples, int n, int m) {
    Extremes e;
    for (const Bytes& s : samples) {
        const int p = s[2], q = s[3], x = s[4] | (s[5] << 8), y = s[6] | (s[7] << 8);
        auto lower = [](std::map<int, int>& mp, int k, int v) {
            if (!mp.count(k) || v < mp[k]) mp[k] = v;
        };
        auto raise = [](std::map<int, int>& mp, int k, int v) {
            if (!mp.count(k) || v > mp[k]) mp[k] = v;
        };
        if (q == m) lower(e.rowMin, p, y);
        if (q == 1) raise(e.rowMax, p, y);
        if (p == n) lower(e.colMin, q, x);
        if (p == 1) raise(e.colMax, q, x);
    }
    return e;
}

}  // namespace

TEST(HidSimController, PresentsTheTwoInterfacesWithTheirDeclaredReports) {
    platform::VirtualEventLoop loop;
    VirtualController sim(loop, defaultScenario());
    const auto list = sim.enumerate();
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].vendorId, 0x1B2F);
    EXPECT_EQ(list[0].productId, 0x4100);
    EXPECT_EQ(list[0].caps.inputReportByteLength, 64);
    EXPECT_EQ(list[0].caps.outputReportByteLength, 9);
    EXPECT_EQ(list[1].caps.usagePage, 0x0D);
    EXPECT_EQ(list[1].caps.usage, 0x04);
    EXPECT_EQ(list[1].caps.featureReportByteLength, 9);
}

TEST(HidSimController, ReadBlockAnswersEachBlockLaidOutForTheStore) {
    Listener l;
    for (std::uint8_t n = 0; n < 4; ++n) l.command_(Command::ReadBlock, n);
    l.loop.advance(10ms);
    const auto blocks = l.ofKind(5);
    ASSERT_EQ(blocks.size(), 4u);
    RawBlockStore store;
    for (const Bytes& b : blocks) {
        EXPECT_EQ(b.size(), 63u);
        store.store(b[4], b);
    }
    const EepromTable& t = l.sim.eeprom();
    EXPECT_EQ(store.byteAt(0), 0x25);
    EXPECT_EQ(store.byteAt(2), 28);
    EXPECT_EQ(store.byteAt(3), 28);
    EXPECT_EQ(store.wordAt(5), 3000);
    for (std::size_t n = 0; n < 4; ++n) EXPECT_EQ(store.byteAt(4 + 64 * n), n);
    for (std::size_t i = 0; i < 28; ++i) {
        EXPECT_EQ(store.wordAt(7 + 2 * i), t.rowMin[i]);
        EXPECT_EQ(store.wordAt(71 + 2 * i), t.rowGain[i]);
        EXPECT_EQ(store.wordAt(135 + 2 * i), t.colMin[i]);
        EXPECT_EQ(store.wordAt(199 + 2 * i), t.colGain[i]);
    }
}

TEST(HidSimController, FaultSwitchesShowInTheAnswers) {
    auto s = defaultScenario();
    s.blockMissing[1] = true;
    s.checksumFailed = true;
    s.epromPresent = false;
    s.answerCommit = false;
    Listener l(s);
    for (std::uint8_t n = 0; n < 4; ++n) l.command_(Command::ReadBlock, n);
    l.command_(Command::TableCommit, 0);
    l.loop.advance(1000ms);
    const auto blocks = l.ofKind(5);
    ASSERT_EQ(blocks.size(), 3u);
    for (const Bytes& b : blocks) EXPECT_NE(b[4], 1);
    EXPECT_EQ(blocks[0][0], 0x15);  // checksum failed, no EEPROM
    EXPECT_TRUE(l.ofKind(4).empty());
}

TEST(HidSimController, CommitWritesTheTableAndAnswersOneResult) {
    Listener l;
    l.command->SetFeature(tableEntryReport(Axis::Row, 4, 123, 0x9000));
    l.command_(Command::TableCommit, 0);
    l.loop.advance(40ms);
    EXPECT_TRUE(l.ofKind(4).empty());  // the EEPROM takes a moment
    l.loop.advance(20ms);
    ASSERT_EQ(l.ofKind(4).size(), 1u);
    EXPECT_EQ(l.ofKind(4)[0][0], 0x24);
    EXPECT_EQ(l.sim.eeprom().rowMin[4], 123);
    EXPECT_EQ(l.sim.eeprom().rowGain[4], 0x9000);
}

TEST(HidSimController, TestModeStreamsAFullEdgeRoundEveryRoundTime) {
    Listener l;
    l.loop.advance(700ms);  // a station may start measuring at any moment
    l.command_(Command::TestMode, 0);
    l.loop.advance(2000ms);
    l.command_(Command::NormalMode, 0);
    const auto samples = l.ofKind(2);
    EXPECT_NEAR(double(samples.size()), 400.0, 2.0);  // 200 per second
    const Scenario& s = l.sim.scenario();
    const Extremes e = sweep(samples, 28, 28);
    for (int i = 1; i <= 28; ++i) {
        SCOPED_TRACE(i);
        const auto& row = s.rowLines[std::size_t(i - 1)];
        const auto& col = s.columnLines[std::size_t(i - 1)];
        ASSERT_TRUE(e.rowMin.count(i) && e.rowMax.count(i) && e.colMin.count(i) &&
                    e.colMax.count(i));
        EXPECT_NEAR(e.rowMin.at(i), row.min, s.noise);
        EXPECT_NEAR(e.rowMax.at(i), row.max, s.noise);
        EXPECT_NEAR(e.colMin.at(i), col.min, s.noise);
        EXPECT_NEAR(e.colMax.at(i), col.max, s.noise);
    }
    // Every sample is valid and names lines of the panel.
    for (const Bytes& b : samples) {
        EXPECT_EQ(b[1], 1);
        EXPECT_TRUE(b[2] >= 1 && b[2] <= 28 && b[3] >= 1 && b[3] <= 28);
    }
    const std::size_t after = l.reports.size();
    l.loop.advance(500ms);
    EXPECT_EQ(l.reports.size(), after);  // normal mode: the stream has stopped
}

TEST(HidSimController, OpenAndShortedLinesLackTheirSamples) {
    auto s = defaultScenario();
    s.rowLines[4].fault = LineFault::Open;
    s.columnLines[9].fault = LineFault::Short;
    s.noise = 0;
    Listener l(s);
    l.command_(Command::TestMode, 0);
    l.loop.advance(2000ms);
    const Extremes e = sweep(l.ofKind(2), 28, 28);
    EXPECT_TRUE(e.rowMax.count(5));   // the open row still has its maximum end
    EXPECT_FALSE(e.rowMin.count(5));  // but never its minimum
    EXPECT_FALSE(e.colMin.count(10));
    EXPECT_FALSE(e.colMax.count(10));
    EXPECT_EQ(e.rowMin.at(6), s.rowLines[5].min);  // without noise, exactly
}

// The faults a real unit shows now and then, each reachable from a scenario file.
TEST(HidSimController, ScenarioDisturbancesReachTheWire) {
    Scenario s = parseScenario(
        "rows 12\ncolumns 10\nannounce-rows 40\nannounce-columns 29\n"
        "pen-lift-every 4\nstray-every 5\ntouch-reports\n");
    Listener l(s);
    for (std::uint8_t n = 0; n < 4; ++n) l.command_(Command::ReadBlock, n);
    l.command_(Command::TestMode, 0);
    l.loop.advance(1000ms);
    const auto blocks = l.ofKind(5);
    ASSERT_EQ(blocks.size(), 4u);
    EXPECT_EQ(blocks[0][2], 40);  // more rows than any panel has
    EXPECT_EQ(blocks[0][3], 29);  // more columns than a block carries
    int lifted = 0, stray = 0, fine = 0;
    for (const Bytes& b : l.ofKind(2)) {
        if (b[1] == 0)
            ++lifted;
        else if (b[2] == 0 || b[3] == 0 || b[2] > 12 || b[3] > 10)
            ++stray;
        else
            ++fine;
    }
    EXPECT_GT(lifted, 0);
    EXPECT_GT(stray, 0);
    EXPECT_GT(fine, lifted + stray);
    EXPECT_FALSE(l.commandReports.empty());  // ordinary touches on the command interface
}

TEST(HidSimController, SampleStreamIsTheSameRunAfterRun) {
    auto once = [] {
        Listener l;
        l.command_(Command::TestMode, 0);
        l.loop.advance(300ms);
        return l.reports;
    };
    const auto a = once();
    EXPECT_EQ(a, once());
}

TEST(HidSimController, ScriptedUnplugAndReplugAreAnnounced) {
    auto s = defaultScenario();
    s.events = {{100ms, Port::Command, false}, {200ms, Port::Command, true}};
    platform::VirtualEventLoop loop;
    VirtualController sim(loop, s);
    int changes = 0;
    sim.setChangeHandler([&] { ++changes; });
    loop.advance(150ms);
    EXPECT_FALSE(sim.plugged(Port::Command));
    EXPECT_EQ(changes, 1);
    const auto before = sim.enumerate();
    loop.advance(100ms);
    EXPECT_EQ(changes, 2);
    const auto after = sim.enumerate();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(before.size(), 1u);
}

TEST(HidSimController, ThreadedConnectionsAreReadAndTakeCommandsDirectly) {
    platform::VirtualEventLoop loop;
    VirtualController sim(loop, defaultScenario(), Delivery::Threaded);
    const auto list = sim.enumerate();
    ASSERT_EQ(list.size(), 2u);
    auto data = sim.open(list[0]);
    auto command = sim.open(list[1]);
    ASSERT_TRUE(data && command);
    EXPECT_FALSE(data->pushesReports());
    EXPECT_TRUE(command->setFeature(featureReport(Command::ReadBlock, 2)).ok());
    EXPECT_EQ(command->setFeature(Bytes{0x07, 0}).error, EINVAL);  // no such report
    EXPECT_TRUE(data->write(outputReport()).ok());
    loop.advance(10ms);  // the block's answer is sent
    Bytes buffer(64);
    const auto got = data->read(buffer, 1000ms);
    ASSERT_EQ(got.status, platform::hid::ReadResult::Status::Data);
    EXPECT_EQ(got.size, 64u);
    EXPECT_EQ(buffer[0], 0);     // the report ID put back in front
    EXPECT_EQ(buffer[1], 0x25);  // flags | raw block
    EXPECT_EQ(buffer[5], 2);     // the block asked for
    // An unplug hangs the socket up, as a node that goes away does.
    sim.unplug(Port::Data);
    EXPECT_EQ(data->read(buffer, 1000ms).status, platform::hid::ReadResult::Status::Unplugged);
    EXPECT_EQ(data->write(outputReport()).error, ENODEV);
}

TEST(HidSimController, ThreadedTheLinkFindsTheControllerReadsItsStreamAndSurvivesAReplug) {
    platform::VirtualEventLoop loop;
    loop.setRealWaitSlice(1ms);  // the clock waits a little for the read threads
    VirtualController sim(loop, defaultScenario(), Delivery::Threaded);
    HidCtrl ctrl(loop, sim);
    test::FakeView view;
    ControllerLink link(ctrl, view);
    link.connectHandlers();
    // Every report handled restarts the watchdog; identification started the stream.
    ASSERT_TRUE(loop.runUntil([&] { return link.DataDevice() && view.timer1Restarts >= 50; }));
    EXPECT_EQ(view.labelDevice, "Device: PlugIn");
    ASSERT_NE(link.FeatureDevice(), nullptr);
    EXPECT_TRUE(link.DataDevice()->isReading());
    EXPECT_TRUE(sim.testMode());
    EXPECT_EQ(view.lamp, 2);
    EXPECT_EQ(link.testDataBuffer()[0], 0x22);  // a test sample

    sim.unplug(Port::Data);
    ASSERT_TRUE(loop.runUntil([&] { return view.labelDevice == "Device: PlugOut"; }));
    EXPECT_EQ(link.DataDevice(), nullptr);
    EXPECT_EQ(view.memo1, (std::vector<std::string>{"Device: PlugOut"}));

    const int before = view.timer1Restarts;
    sim.plug(Port::Data);
    ASSERT_TRUE(
        loop.runUntil([&] { return link.DataDevice() && view.timer1Restarts >= before + 50; }));
    EXPECT_EQ(view.labelDevice, "Device: PlugIn");
    EXPECT_TRUE(link.DataDevice()->isReading());
}
