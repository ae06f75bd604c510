// The main window's measurement against the virtual controller, on virtual time: the raw
// read and its decode, a pen round, "Clear", "Default", "set ADC Max", "save data", "Draw".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "AppFixture.h"
#include "measure/RangeTest.h"
#include "sim/hid/Scenario.h"

using namespace tc;
using namespace std::chrono_literals;
using tc::testing::AppFixture;
using Bytes = std::vector<std::uint8_t>;

namespace {

struct Measurement : AppFixture {
    std::vector<std::string> messages;

    Measurement() {
        loop.setMessageSink([this](const std::string& m) { messages.push_back(m); });
    }
    std::unique_ptr<sim::hid::VirtualController> own;
    // The window goes before the controller it holds interfaces of.
    ~Measurement() override { form.reset(); }

    sim::hid::VirtualController& sim() { return *controller; }
    const sim::hid::VirtualController& sim() const { return *controller; }
    app::TForm1& startWith(sim::hid::Scenario s) {
        own = std::make_unique<sim::hid::VirtualController>(loop, std::move(s));
        controller = own.get();
        return begin();
    }
    app::TForm1& begin() {
        start();
        loop.runPending();  // the first scan finds the controller
        EXPECT_TRUE(form->Link.FeatureDevice());
        return *form;
    }
    // "Read", then the decode one second after the first block.
    void readTable() {
        form->suitempButton4Click();
        loop.advance(1000ms);
    }
    bool logged(const std::string& line) const {
        const auto& l = form->Memo1.lines();
        return std::find(l.begin(), l.end(), line) != l.end();
    }
    // The command bytes (command, argument) the controller got, from the n-th on.
    std::vector<std::pair<int, int>> commandsFrom(std::size_t n) const {
        std::vector<std::pair<int, int>> out;
        const auto& f = sim().featureReports();
        for (std::size_t i = n; i < f.size(); ++i) out.emplace_back(f[i][1], f[i][2]);
        return out;
    }
};

}  // namespace

TEST_F(Measurement, ReadAsksForTheFourBlocksAndDecodesThemOnceASecondAfterTheFirst) {
    begin();
    const std::size_t before = sim().featureReports().size();
    form->suitempButton4Click();
    // 100 ms a block, each with a message pass, then test mode.
    EXPECT_EQ(loop.monotonic().count(), 400);
    EXPECT_EQ(commandsFrom(before), (std::vector<std::pair<int, int>>{
                                        {0x8A, 0}, {0x8A, 1}, {0x8A, 2}, {0x8A, 3}, {0x84, 0}}));
    EXPECT_EQ(form->Label6.text(), "A10093000");  // machine letter, day, time of the click
    EXPECT_TRUE(form->Timer3.enabled());

    // A second "Read" inside the second does not put the decode off.
    form->suitempButton4Click();
    loop.advance(299ms);
    EXPECT_EQ(form->RowCount, 30);  // still the settings' count
    loop.advance(2ms);
    EXPECT_FALSE(form->Timer3.enabled());

    const auto& t = sim().eeprom();
    EXPECT_EQ(form->RowCount, 28);
    EXPECT_EQ(form->ColumnCount, 28);
    EXPECT_EQ(form->SettingValues[app::Slot::RowNumber], "28");
    EXPECT_EQ(form->LineRanges.AdcReference, 3000);
    EXPECT_EQ(form->AdcFullScale, 3248);
    EXPECT_EQ(form->suiEdit9.text(), "3000");
    for (int i = 0; i < 28; ++i) {
        SCOPED_TRACE(i);
        const auto& row = sim().scenario().rowLines[std::size_t(i)];
        EXPECT_EQ(form->LineRanges.RowMin[std::size_t(i)], t.rowMin[std::size_t(i)]);
        EXPECT_NEAR(form->LineRanges.RowMax[std::size_t(i)], row.max, 1);
        EXPECT_TRUE(form->RowRangeEdits[std::size_t(i)]->visible());
        EXPECT_EQ(form->RowRangeEdits[std::size_t(i)]->text().substr(0, 4), "Rol ");
    }
    for (int i : {28, 29}) {
        EXPECT_FALSE(form->RowRangeEdits[std::size_t(i)]->visible());
        EXPECT_FALSE(form->ColumnRangeEdits[std::size_t(i)]->visible());
    }
    EXPECT_TRUE(form->Memo5.visible());
    EXPECT_EQ(form->Memo5.joinedText(), "No Open Short\r\n");
    EXPECT_EQ(form->Memo6.joinedText(), "No Out of Range\r\n");
    EXPECT_FALSE(form->Memo6.visible());
    EXPECT_TRUE(errors.empty());
}

TEST_F(Measurement, APenRoundAfterClearGivesThePanelsTrueRanges) {
    begin();
    readTable();
    form->suitempButton1Click();  // as the station's ready step does
    EXPECT_EQ(form->RowRangeEdits[3]->text(), "Row  3:0x0FFF-0x0000");
    EXPECT_FALSE(form->Memo5.visible());
    loop.advance(sim().scenario().roundTime + 100ms);
    form->RefineCornerLines();

    const auto& s = sim().scenario();
    const int tolerance = s.noise + 1;
    const auto& r = form->LineRanges;
    for (std::size_t i = 0; i < 28; ++i) {
        SCOPED_TRACE(i);
        EXPECT_NEAR(r.RowMin[i], s.rowLines[i].min, tolerance);
        EXPECT_NEAR(r.RowMax[i], s.rowLines[i].max, tolerance);
        EXPECT_NEAR(r.ColMin[i], s.columnLines[i].min, tolerance);
        EXPECT_NEAR(r.ColMax[i], s.columnLines[i].max, tolerance);
    }
    EXPECT_EQ(measure::RunRangeTest(r, 28, 28).result, measure::RangeTestPassed);
    char text[32];
    std::snprintf(text, sizeof text, "Rol  4:0x%04X-0x%04X", r.RowMin[4], r.RowMax[4]);
    EXPECT_EQ(form->RowRangeEdits[4]->text(), text);
    // Clear emptied the trackers; the round filled the corner lists again.
    EXPECT_GT(form->Sweep.Corner11.Count, 0);
}

// Line counts the blocks cannot carry, a lifted pen, samples from lines that are not there
// and touch reports on the command interface: the table is cut and logged, and the round
// still measures the panel.
TEST_F(Measurement, ADisturbedUnitIsStillMeasured) {
    auto s = sim::hid::parseScenario(
        "rows 12\ncolumns 10\nannounce-rows 40\npen-lift-every 3\nstray-every 4\n"
        "touch-reports\n");
    startWith(s);
    readTable();
    EXPECT_EQ(form->RowCount, 28);
    EXPECT_TRUE(logged("---Row Number 40 above the 28 lines a block carries : 28 used---"));
    EXPECT_EQ(form->ColumnCount, 10);
    EXPECT_EQ(form->LabelEPROM.text(), "EPROM: Find");
    loop.advance(2100ms);
    EXPECT_EQ(form->LabelEPROM.text(), "EPROM: Find");
    for (std::size_t i = 0; i < 10; ++i) {
        EXPECT_NEAR(form->LineRanges.ColMin[i], s.columnLines[i].min, s.noise + 1) << i;
        EXPECT_TRUE(form->LineRanges.ColMinSeen[i]);
    }
    EXPECT_TRUE(errors.empty());
}

TEST_F(Measurement, DefaultWaitsTwoTicksForAReferenceThenALaterOneAppliesTheTable) {
    begin();
    form->suiButton8Click();  // no reference yet: a read, and the wait
    EXPECT_TRUE(form->Timer7.enabled());
    loop.advance(600ms);  // three ticks, the decode comes only after them
    EXPECT_FALSE(form->Timer7.enabled());
    EXPECT_EQ(form->DefaultRetryCount, 3);
    loop.advance(500ms);
    ASSERT_EQ(form->LineRanges.AdcReference, 3000);
    EXPECT_NE(form->LineRanges.RowMin[0], 0);  // nothing was applied

    form->suiButton8Click();
    EXPECT_FALSE(form->Timer7.enabled());
    for (std::size_t i = 0; i < 28; ++i) {
        EXPECT_EQ(form->LineRanges.RowMin[i], 0);
        EXPECT_EQ(form->LineRanges.ColMax[i], 3000);
    }
    EXPECT_EQ(form->RowRangeEdits[0]->text(), "Rol  0:0x0000-0x0BB8");
    EXPECT_EQ(form->ColumnRangeEdits[27]->text(), "Col 27:0x0000-0x0BB8");
}

TEST_F(Measurement, DefaultWithoutAControllerSaysSo) {
    begin();
    sim().unplug(sim::hid::Port::Data);
    sim().unplug(sim::hid::Port::Command);
    loop.runPending();
    form->suiButton8Click();
    EXPECT_EQ(form->Memo1.lines().back(), "No Device");
    const std::size_t before = sim().featureReports().size();
    form->suitempButton4Click();  // "Read" does nothing at all
    EXPECT_EQ(sim().featureReports().size(), before);
    EXPECT_FALSE(form->Timer3.enabled());
}

TEST_F(Measurement, SetAdcMaxTakesAWholeSixteenBitNumberOnly) {
    begin();
    readTable();
    struct Case {
        const char* text;
        bool taken;
    };
    for (const Case c : {Case{"5000", true}, Case{"abc", false}, Case{"70000", false},
                         Case{"-1", false}, Case{"0", true}}) {
        SCOPED_TRACE(c.text);
        const auto scale = form->AdcFullScale;
        errors.clear();
        messages.clear();
        form->suiEdit9.setText(c.text);
        loop.dispatch([&] { form->suiButton1Click(); });
        if (c.taken) {
            EXPECT_EQ(form->AdcFullScale, std::atoi(c.text));
            EXPECT_EQ(messages, std::vector<std::string>{"Set Finish"});
            EXPECT_TRUE(errors.empty());
        } else {
            EXPECT_EQ(form->AdcFullScale, scale);
            EXPECT_TRUE(messages.empty());
            EXPECT_EQ(errors.size(), 1u);
        }
    }
}

TEST_F(Measurement, SaveDataWritesTheLineTextsIntoTheSaveFolder) {
    begin();
    readTable();
    form->suiButton3Click();
    ASSERT_EQ(form->SerialNumber, "0001");
    const auto file =
        dir / "save" /
        ("AAA202612100001_" + form->CustomerName + "_" + form->ModelName + "_28_28.txt");
    const std::string content = tc::testing::readAll(file);
    ASSERT_NE(content, "<missing>") << [&] {
        std::string names;
        for (const auto& e : std::filesystem::directory_iterator(dir / "save"))
            names += e.path().filename().string() + " ";
        return names;
    }();
    EXPECT_EQ(std::count(content.begin(), content.end(), '\n'), 56);
    EXPECT_EQ(content.substr(0, 22), form->RowRangeEdits[0]->text() + "\r\n");
}

TEST_F(Measurement, DrawShowsTheCanvasInNormalModeAndQLeavesToCalibration) {
    begin();
    form->CheckBox1.setChecked(true);
    std::size_t before = sim().featureReports().size();
    form->suiButton4Click();
    EXPECT_EQ(commandsFrom(before), (std::vector<std::pair<int, int>>{{0x80, 0}, {0x82, 1}}));
    EXPECT_TRUE(form->Form2.Form2.visible());
    EXPECT_EQ(form->Form2.Image1.rect().width, 862);

    form->suiRadioGroup1.setItemIndex(0);
    before = sim().featureReports().size();
    form->Form2.FormKeyDown('q');
    EXPECT_FALSE(form->Form2.Form2.visible());
    EXPECT_EQ(form->suiRadioGroup1.itemIndex(), 1);
    EXPECT_EQ(commandsFrom(before), (std::vector<std::pair<int, int>>{{0x84, 0}}));
}

TEST_F(Measurement, StartUpShowsResetLinesOnAnEmptyGridAndRunsTheIdlePass) {
    begin();
    EXPECT_EQ(form->RowRangeEdits[12]->text(), "Row 12:0x0FFF-0x0000");
    EXPECT_EQ(form->ColumnRangeEdits[3]->text(), "Col  3:0x0FFF-0x0000");
    EXPECT_EQ(form->suiEdit9.text(), "4096");
    const auto& ops = form->Image1.ops();
    ASSERT_FALSE(ops.empty());
    EXPECT_EQ(ops.front().type, ui::CanvasOp::Type::FillRect);
    // A sample in test mode reaches the ranges without any button: the idle pass takes it.
    form->suiRadioGroup1.userSelect(1);
    loop.advance(300ms);
    EXPECT_TRUE(std::any_of(form->LineRanges.RowMaxSeen.begin(), form->LineRanges.RowMaxSeen.end(),
                            [](bool b) { return b; }));
    EXPECT_FALSE(form->Link.SamplePending());
}
