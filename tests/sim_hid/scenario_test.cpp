#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "sim/hid/Scenario.h"

using namespace tc::sim::hid;
using namespace std::chrono_literals;

TEST(HidSimScenario, DefaultIsAGoodUnitWithAsManyLinesAsABlockCarries) {
    const Scenario s = defaultScenario();
    EXPECT_EQ(s.rows, 28);
    EXPECT_EQ(s.columns, 28);
    // Inside the range test's limits with room for the noise: min <= R/4, max >= 3R/4.
    for (const auto* lines : {&s.rowLines, &s.columnLines})
        for (const PanelLine& l : *lines) {
            EXPECT_LE(l.min + s.noise, s.reference / 4);
            EXPECT_GE(l.max - s.noise, 3 * s.reference / 4);
            EXPECT_EQ(l.fault, LineFault::None);
        }
    EXPECT_TRUE(s.epromPresent);
    EXPECT_FALSE(s.checksumFailed);
    EXPECT_TRUE(s.answerCommit);
    EXPECT_EQ(s.sampleRate, 200);
}

TEST(HidSimScenario, TextSetsEveryKindOfSetting) {
    const Scenario s = parseScenario(R"(# a unit with faults
rows 16
columns 12
reference 2800
row 3 open
column 7 short
row 5 min 900 max 2850   # out of range
checksum fail
eeprom absent
result none
missing-block 2
sample-rate 1000
round-time 3000
noise 0
seed 7
latency 20
commit-latency 80
extra-device access-only
at 1500 unplug data
at 2500 plug data
ids 0x0A2D 0x0F20
)");
    EXPECT_EQ(s.rows, 16);
    EXPECT_EQ(s.columns, 12);
    EXPECT_EQ(s.reference, 2800);
    EXPECT_EQ(s.rowLines[2].fault, LineFault::Open);
    EXPECT_EQ(s.columnLines[6].fault, LineFault::Short);
    EXPECT_EQ(s.rowLines[4].min, 900);
    EXPECT_EQ(s.rowLines[4].max, 2850);
    EXPECT_TRUE(s.checksumFailed);
    EXPECT_FALSE(s.epromPresent);
    EXPECT_FALSE(s.answerCommit);
    EXPECT_TRUE(s.blockMissing[2]);
    EXPECT_EQ(s.sampleRate, 1000);
    EXPECT_EQ(s.roundTime, 3000ms);
    EXPECT_EQ(s.noise, 0);
    EXPECT_EQ(s.seed, 7u);
    EXPECT_EQ(s.latency, 20ms);
    EXPECT_EQ(s.commitLatency, 80ms);
    EXPECT_TRUE(s.extraDevice && s.extraAccessOnly);
    ASSERT_EQ(s.events.size(), 2u);
    EXPECT_EQ(s.events[0].at, 1500ms);
    EXPECT_EQ(s.events[0].port, Port::Data);
    EXPECT_FALSE(s.events[0].plugIn);
    EXPECT_TRUE(s.events[1].plugIn);
    EXPECT_EQ(s.vendorId, 0x0A2D);
}

TEST(HidSimScenario, MistakesNameTheirLine) {
    const char* bad[] = {"rows 31",           "row 0 open",       "row 2 bent", "speed 3",
                         "at 100 plug mouse", "sample-rate 5000", "noise",      "rows abc"};
    for (const char* text : bad) {
        try {
            parseScenario(std::string("\n") + text);
            ADD_FAILURE() << "accepted: " << text;
        } catch (const ScenarioError& e) {
            EXPECT_NE(std::string(e.what()).find("line 2"), std::string::npos) << e.what();
        }
    }
}

TEST(HidSimScenario, AFileThatCannotBeReadIsAnErrorNotTheDefaultUnit) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("touchcal-scenario-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    struct {
        std::string path;
        std::string says;
    } cases[] = {
        {"/nonexistent/unit.scenario",
         "cannot open scenario file /nonexistent/unit.scenario: No such file or directory"},
        {folder.string(), "cannot read scenario file " + folder.string() + ": Is a directory"},
    };
    for (const auto& c : cases) {
        try {
            loadScenario(c.path);
            ADD_FAILURE() << "accepted: " << c.path;
        } catch (const ScenarioError& e) {
            EXPECT_EQ(std::string(e.what()), c.says);
        }
    }
    std::filesystem::remove_all(folder);
}

TEST(HidSimScenario, GainCodesReadBackAsTheRange) {
    // max = min + R*65536/D, D = code (>= 0x7FFF) or code + 65536.
    struct {
        std::uint16_t r, min, max;
    } cases[] = {{3000, 0, 3000}, {3000, 200, 6200}, {3000, 140, 2850}, {3000, 300, 2400}};
    for (auto& c : cases) {
        const std::uint16_t code = gainCodeFor(c.r, c.min, c.max);
        const double d = code >= 0x7FFF ? code : code + 65536.0;
        EXPECT_NEAR(c.min + c.r * 65536.0 / d, c.max, 1.0) << c.min << ".." << c.max;
    }
}
