#include <gtest/gtest.h>

#include <sstream>

#include "AppFixture.h"
#include "app/HeadlessLog.h"
#include "app/MainWindowLayout.h"

using namespace tc;
using namespace std::chrono_literals;
using tc::testing::AppFixture;

TEST_F(AppFixture, StartsWithTheInitialIndicatorsAndStoppedTimers) {
    auto& f = start();
    EXPECT_EQ(f.LabelDevice.text(), "Device: PlugOut");
    EXPECT_EQ(f.LabelEPROM.text(), "EPROM: None");
    EXPECT_EQ(f.LabelChecksum.text(), "Checksum: Fail");
    EXPECT_EQ(f.Label9.text(), "----");
    EXPECT_EQ(f.Label10.text(), "----");
    EXPECT_EQ(f.Label6.text(), "Label6");
    EXPECT_EQ(f.CoolTrayIcon1.index(), 0);
    EXPECT_EQ(f.suiRadioGroup1.itemIndex(), 1);
    EXPECT_EQ(f.suiEdit9.text(), "4096");
    EXPECT_EQ(f.Edit49.text(), "A");
    EXPECT_EQ(f.suiForm1.text(), "Duved Adevavevuvo VA V_20091222_SP_6");
    EXPECT_FALSE(f.Memo5.visible());
    EXPECT_EQ(f.Memo5.lines().front(), "No Open Short");
    for (auto* t : {&f.Timer1, &f.Timer3, &f.Timer5, &f.Timer6, &f.Timer7})
        EXPECT_FALSE(t->enabled());
    EXPECT_EQ(f.Timer1.interval(), 100ms);
    EXPECT_EQ(f.Timer3.interval(), 1000ms);
    EXPECT_EQ(f.Timer5.interval(), 1ms);
    EXPECT_EQ(f.Timer6.interval(), 5000ms);
    EXPECT_EQ(f.Timer7.interval(), 200ms);
    for (int i = 0; i < app::kMaxLines; ++i) {
        EXPECT_EQ(f.RowRangeEdits[i]->rect(), (ui::Rect{560, 32 + 17 * i, 180, 17}));
        EXPECT_EQ(f.ColumnRangeEdits[i]->rect(), (ui::Rect{744, 32 + 17 * i, 180, 17}));
        EXPECT_TRUE(f.RowRangeEdits[i]->visible());
    }
}

TEST_F(AppFixture, TheLampFollowsTheControllerAndItsReports) {
    auto& f = start();
    f.FormShow();
    int lampChanges = 0;
    struct Counter : ui::Observer {
        int& n;
        explicit Counter(int& c) : n(c) {}
        void changed(ui::Control&, ui::Change) override { ++n; }
    } counter(lampChanges);
    f.CoolTrayIcon1.addObserver(&counter);

    // The first scan finds the controller; "Calibration" has it stream samples at once.
    loop.advance(1000ms);
    EXPECT_EQ(f.LabelDevice.text(), "Device: PlugIn");
    EXPECT_EQ(f.CoolTrayIcon1.index(), 2);
    EXPECT_EQ(lampChanges, 2);  // red, then green once: not reloaded for every report
    EXPECT_TRUE(f.Timer1.enabled());

    // The stream stops: 100 ms after the last report the lamp turns red.
    f.suiRadioGroup1.userSelect(0);
    loop.advance(20ms);
    EXPECT_EQ(f.CoolTrayIcon1.index(), 2);
    loop.advance(100ms);
    EXPECT_EQ(f.CoolTrayIcon1.index(), 1);
    EXPECT_FALSE(f.Timer1.enabled());

    hid.unplug(sim::hid::Port::Data);
    loop.advance(100ms);
    EXPECT_EQ(f.CoolTrayIcon1.index(), 0);
    EXPECT_EQ(f.LabelDevice.text(), "Device: PlugOut");
    f.CoolTrayIcon1.removeObserver(&counter);
}

TEST_F(AppFixture, KeyPreviewRunsClearOnCOnly) {
    auto& f = start();
    for (char key : {'x', 'd', 'C', 'c'}) {
        f.Memo5.setVisible(true);
        f.Form1.onKeyPress(key);
        EXPECT_EQ(f.Memo5.visible(), key != 'c' && key != 'C') << key;
    }
}

TEST_F(AppFixture, LampDoubleClickHidesAndShowsTheWindow) {
    auto& f = start();
    f.CoolTrayIcon1.onDblClick();
    EXPECT_FALSE(f.Form1.visible());
    f.CoolTrayIcon1.onDblClick();
    EXPECT_TRUE(f.Form1.visible());
}

TEST_F(AppFixture, Memo1KeepsABoundedNumberOfLines) {
    auto& f = start();
    for (int i = 0; i < 6000; ++i) f.Memo1.add("line " + std::to_string(i));
    EXPECT_EQ(f.Memo1.lines().size(), 5000u);
    EXPECT_EQ(f.Memo1.lines().front(), "line 1000");
}

TEST_F(AppFixture, HeadlessLogShowsWhatTheOperatorWouldSee) {
    std::ostringstream out;
    makeForm();
    app::HeadlessLog log(form->Form1, loop, out);
    loop.setErrorSink([&](const std::string& e) { log.error(e); });
    form->FormCreate();
    form->LabelDevice.setText("Device: PlugIn");
    form->CoolTrayIcon1.setIndex(1);
    loop.reportError("'x' is not a valid integer value");
    const std::string s = out.str();
    EXPECT_NE(s.find("2026-12-10 09:30:00.000 PORT NO : 1\n"), std::string::npos) << s;
    EXPECT_NE(s.find(" LabelDevice: Device: PlugIn\n"), std::string::npos);
    EXPECT_NE(s.find(" lamp: red\n"), std::string::npos);
    EXPECT_NE(s.find(" error: 'x' is not a valid integer value\n"), std::string::npos);
}

TEST_F(AppFixture, TheLampIsGreyAfterAnUnplugEvenIfTheWatchdogWasRunning) {
    auto& f = start();
    loop.advance(1000ms);  // found, and streaming samples: green, watchdog running
    ASSERT_EQ(f.CoolTrayIcon1.index(), 2);
    ASSERT_TRUE(f.Timer1.enabled());

    hid.unplug(sim::hid::Port::Data);  // within 100 ms of the last report
    loop.advance(500ms);
    EXPECT_EQ(f.Link.DataDevice(), nullptr);
    EXPECT_EQ(f.CoolTrayIcon1.index(), 0);
    EXPECT_FALSE(f.Timer1.enabled());
}

TEST_F(AppFixture, Memo1KeepsABoundedAmountOfText) {
    auto& f = start();
    const std::string long_(3000, 'x');
    for (int i = 0; i < 2000; ++i) f.Memo1.add(std::to_string(i) + long_);
    EXPECT_LE(f.Memo1.textBytes(), app::kLogByteLimit);
    EXPECT_GT(f.Memo1.textBytes(), app::kLogByteLimit - 3010);  // full, not emptied
    EXPECT_EQ(f.Memo1.lines().back(), "1999" + long_);
}

TEST(StationText, LongTextsAreShownCutWithTheirSize) {
    const std::string k(app::kShownTextLimit, 'k');
    const std::string e = "\xC3\xA9";  // é, two bytes
    const std::string ellipsis = "\xE2\x80\xA6";
    struct Case {
        const char* name;
        std::string sent;
        std::string shown;
    } cases[] = {
        {"short", "ReadyToAcquire", "ReadyToAcquire"},
        {"empty", "", ""},
        {"at the bound", k, k},
        {"one byte over", k + "z", k + ellipsis + " (1025 bytes)"},
        {"control characters kept", "a\r\nb\x1b", "a\r\nb\x1b"},
        // The cut would fall inside the two bytes of é: it moves before it.
        {"character on the bound", k.substr(1) + e + "tail",
         k.substr(1) + ellipsis + " (1029 bytes)"},
        {"64 KiB", std::string(65536, 'f'), std::string(1024, 'f') + ellipsis + " (65536 bytes)"},
    };
    for (const auto& c : cases) EXPECT_EQ(app::shownStationText(c.sent), c.shown) << c.name;
}

TEST_F(AppFixture, TheHeadlessLogWritesEveryEventAsOneLine) {
    std::ostringstream out;
    makeForm();
    app::HeadlessLog log(form->Form1, loop, out);
    form->FormCreate();
    struct Case {
        std::string memoLine;
        std::string logged;
    } cases[] = {
        {"plain text", "plain text"},
        {"x\r\n2026-12-10 09:30:00.000 lamp: green", "x\\r\\n2026-12-10 09:30:00.000 lamp: green"},
        {"\x1b[2J\x1b]0;title\x07", "\\x1b[2J\\x1b]0;title\\x07"},
        {"back\\slash\\n", "back\\\\slash\\\\n"},
        {std::string("nul\0tab\tdel\x7f", 12), "nul\\x00tab\\tdel\\x7f"},
        {"caf\xC3\xA9 \xE2\x80\xA6 (2000 bytes)", "caf\xC3\xA9 \xE2\x80\xA6 (2000 bytes)"},
        {"c1 \xC2\x9B"
         "31m",
         "c1 \\xc2\\x9b31m"},  // CSI as a character
        {"raw \x9B"
         "31m \xFF",
         "raw \\x9b31m \\xff"},                             // bytes that are no UTF-8
        {"sep\xE2\x80\xA8next", "sep\\xe2\\x80\\xa8next"},  // line separator
        {"rtl\xE2\x80\xAE"
         "txt",
         "rtl\\xe2\\x80\\xaetxt"},           // direction override
        {"cut \xE2\x80", "cut \\xe2\\x80"},  // half a character at the end
    };
    for (const auto& c : cases) {
        out.str("");
        form->Memo1.add(c.memoLine);
        EXPECT_EQ(out.str(), "2026-12-10 09:30:00.000 " + c.logged + "\n") << c.logged;
    }
    out.str("");
    log.error("two\nlines");
    EXPECT_EQ(out.str(), "2026-12-10 09:30:00.000 error: two\\nlines\n");
}
