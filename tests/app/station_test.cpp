// The test station driving the main window over TCP, on virtual time: whole units through
// the cycle, the faults of the virtual devices and their error words, and the protocol's
// edges.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

#include "AppFixture.h"
#include "platform/net/Socket.h"
#include "sim/hid/Scenario.h"
#include "sim/printer/VirtualPrinterPort.h"

using namespace tc;
using namespace std::chrono_literals;
using tc::testing::AppFixture;
using tc::testing::readAll;

namespace {

struct Station : AppFixture {
    sim::VirtualPrinterPort printer{loop};
    std::unique_ptr<sim::hid::VirtualController> own;
    platform::UniqueFd link;

    ~Station() override { form.reset(); }

    void open(std::optional<sim::hid::Scenario> scenario = std::nullopt) {
        if (scenario) {
            own = std::make_unique<sim::hid::VirtualController>(loop, *scenario);
            controller = own.get();
        }
        loop.setRealWaitSlice(1ms);
        makeForm();
        form->useLabelPort(printer);
        form->FormCreate();
        form->FormShow();
        loop.runPending();  // the controller is found
        link = platform::net::connectLoopback(form->ServerSocket1.localPort());
        ASSERT_TRUE(loop.runUntil([&] { return logged("Accept"); }));
    }
    bool logged(const std::string& line) const {
        const auto& l = form->Memo1.lines();
        return std::find(l.begin(), l.end(), line) != l.end();
    }
    std::string take() {
        std::string got;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(link.get(), buf, sizeof buf, MSG_DONTWAIT);
            if (n <= 0) break;
            got.append(buf, std::size_t(n));
        }
        return got;
    }
    // Sends one command and returns what came back until `expected` bytes arrived within
    // the virtual limit.
    std::string ask(const std::string& command, std::size_t expected,
                    platform::Millis limit = 10000ms) {
        send(command);
        std::string got;
        loop.runUntil(
            [&] {
                got += take();
                return got.size() >= expected;
            },
            limit);
        return got;
    }
    // Sends one command that is to answer nothing and returns what came back once `handled`
    // shows the command has run. Replies are written as they are sent, so nothing more can
    // be on its way then.
    std::string askSilent(const std::string& command, const std::function<bool()>& handled) {
        send(command);
        EXPECT_TRUE(loop.runUntil(handled)) << command;
        return take();
    }
    void send(const std::string& command) {
        take();
        EXPECT_EQ(::send(link.get(), command.data(), command.size(), MSG_NOSIGNAL),
                  ssize_t(command.size()));
    }
    std::string askFor(const std::string& command, const std::string& reply,
                       platform::Millis limit = 10000ms) {
        return ask(command, reply.size(), limit);
    }
    // One unit up to the judgement.
    void measureUnit() {
        ASSERT_EQ(askFor("ReadyToAcquire", "READY"), "READY");
        loop.advance(controller->scenario().roundTime + 100ms);
    }
};

}  // namespace

TEST_F(Station, TwoUnitsRunThroughTheWholeCycle) {
    open();
    for (int unit = 0; unit < 2; ++unit) {
        SCOPED_TRACE(unit);
        const std::string serial = form->SerialNumber;
        measureUnit();
        EXPECT_EQ(form->Label6.text(),
                  form->SettingValues[app::Slot::MechinName] + form->Label6.text().substr(1));
        EXPECT_EQ(askFor("DrawFinished", "DATA_OK"), "DATA_OK");
        // The second unit's result is its own, not swallowed by the first one's latch.
        EXPECT_EQ(askFor("WriteROM", "ROM_OK"), "ROM_OK");
        EXPECT_EQ(askFor("WriteBarCode", "BARCODE_OK"), "BARCODE_OK");
        EXPECT_EQ(askFor("ReportError", "NONE"), "NONE");
        // The ROM result and the label each move the counter on by one.
        EXPECT_EQ(std::stoi(form->SerialNumber), std::stoi(serial) + 2);
    }
    EXPECT_EQ(form->SerialNumber, "0005");
    EXPECT_NE(readAll(settingsPath()).find("Serial Number : 0005"), std::string::npos);

    // One record a unit, each with the serial its label carries.
    const std::string records = readAll(dir / "qrcode.txt");
    EXPECT_EQ(std::count(records.begin(), records.end(), '\n'), 2);
    const std::string serial2 = "A" + form->SettingValues[app::Slot::Date] + "0002 ";
    EXPECT_NE(records.find("$!`" + serial2), std::string::npos);
    const auto labels = printer.Printer().commands();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(), [&](const std::string& c) {
        return c.rfind("PB \"!`" + serial2, 0) == 0;
    }));
    // The measurement file carries the serial before the label's advance.
    EXPECT_TRUE(
        std::filesystem::exists(dir / "save" /
                                ("AAA" + form->SettingValues[app::Slot::Date] + "0002_" +
                                 form->CustomerName + "_" + form->ModelName + "_28_28.txt")));
    EXPECT_TRUE(errors.empty());
}

TEST_F(Station, FaultsOfTheVirtualDevicesGiveTheirWordsAndCodes) {
    struct Case {
        const char* scenario;
        sim::PrinterAnswer printer;
        const char* step;  // the command that fails
        const char* reply;
        const char* error;
    };
    const Case cases[] = {
        {"row 4 short", sim::PrinterAnswer::Ok, "DrawFinished", "DATA_NG", "ERR_NOTCOMPLETE"},
        {"row 9 min 900", sim::PrinterAnswer::Ok, "DrawFinished", "DATA_NG", "ERR_DATA"},
        {"checksum fail", sim::PrinterAnswer::Ok, "WriteROM", "ROM_NG", "ERR_ROM_CHECKSUM"},
        {"eeprom absent", sim::PrinterAnswer::Ok, "WriteROM", "ROM_NG", "ERR_NOROM"},
        {"result none", sim::PrinterAnswer::Ok, "WriteROM", "ROM_NG", "ERR_ROM_CHECKSUM"},
        {"", sim::PrinterAnswer::Error, "WriteBarCode", "BARCODE_NG", "ERR_PRINT"},
        {"", sim::PrinterAnswer::Silent, "WriteBarCode", "BARCODE_NG", "ERR_PRINT"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scenario) + " / " + c.step);
        form.reset();
        own.reset();
        controller = &hid;
        errors.clear();
        printer.Printer().setAnswer(c.printer);
        open(sim::hid::parseScenario(c.scenario));
        measureUnit();
        for (const char* step : {"DrawFinished", "WriteROM", "WriteBarCode"}) {
            const std::string expected = step == std::string(c.step)           ? c.reply
                                         : step == std::string("DrawFinished") ? "DATA_OK"
                                         : step == std::string("WriteROM")     ? "ROM_OK"
                                                                               : "BARCODE_OK";
            EXPECT_EQ(askFor(step, expected), expected) << step;
            if (step == std::string(c.step)) break;
        }
        EXPECT_EQ(askFor("ReportError", c.error), c.error);
    }
}

TEST_F(Station, TheProtocolsEdges) {
    open();
    struct Exchange {
        const char* command;
        const char* reply;
    };
    const std::string serial = "A" + form->SettingValues[app::Slot::Date] + form->SerialNumber;
    for (const Exchange e : {
             Exchange{"Ping", "OK"},
             {"ping", "UNKNOWED_COMMAND"},
             {"Ping ", "UNKNOWED_COMMAND"},
             {"Ping\n", "UNKNOWED_COMMAND"},
             {"ReportError", "NONE"},
             {"SetVender", "VENDER_NAME_NG"},
             {"ReportError", "ERR_VENDER_NAME"},
             {"SetVender ", "VENDER_NAME_NG"},
             {"SetVender A B", "VENDER_NAME_OK"},
             {"GetVender", "A B"},
             {"SetModel X GetModel", "MODEL_NAME_OK"},
             {"GetModel", "X GetModel"},
             {"SetSerialNo 12a", "SERIAL_NO_NG"},
             {"ReportError", "ERR_SERIAL_NO"},
             {"GetSerialNo", serial.c_str()},
             {"SetPrinterType QRCODE", "PRINTER_TYPE_OK"},
             {"GetPrinterType", "QRCODE"},
             {"AppName", "DUDA_CALI_UTILITY"},
             {"AppVersion", "V_20091222_SP_6"},
             {"OpenShortData", "No Open Short\r\n"},  // the memo's text, lines ended
         })
        EXPECT_EQ(askFor(e.command, e.reply), e.reply) << e.command;
    // An empty text is logged and sends nothing at all.
    form->Memo6.clear();
    EXPECT_EQ(askSilent("ADCValueData", [&] { return logged("ADCValueData"); }), "");
    EXPECT_EQ(form->Memo1.lines().back(), "");
    EXPECT_EQ(form->SettingValues[app::Slot::Customer], "A B");
    EXPECT_EQ(form->SettingValues[app::Slot::PrinterType], "QRCODE");

    // A label per unit: the second "WriteBarCode" is only logged.
    measureUnit();
    EXPECT_EQ(askFor("WriteBarCode", "BARCODE_OK"), "BARCODE_OK");
    EXPECT_EQ(askSilent("WriteBarCode", [&] { return logged("BarCodePrinted...."); }), "");

    EXPECT_EQ(askFor("HIDUnplug", "HID_UNPLUGGED"), "HID_UNPLUGGED");
    EXPECT_EQ(form->LabelDevice.text(), "Device: PlugOut");
    EXPECT_FALSE(form->Link.DataDevice());
}

// What the service manager's status line shows: each command's outcome word, not the texts
// a station asks for.
TEST_F(Station, EachOutcomeIsToldAsCommandAndWord) {
    open();
    std::vector<std::string> told;
    form->setStatusSink([&](const std::string& s) { told.push_back(s); });
    askFor("Ping", "OK");
    askFor("GetModel", form->ModelName);
    askFor("SetModel", "MODEL_NAME_NG");
    measureUnit();
    EXPECT_EQ(told, (std::vector<std::string>{"Ping: OK", "SetModel: MODEL_NAME_NG",
                                              "ReadyToAcquire: READY"}));
}

// A serial number that is no number (a hand-edited settings file) cannot be advanced: the
// error is shown, no success is replied and nothing is saved or recorded; the ROM write is
// over all the same, so it does not take the next report for its result.
TEST_F(Station, ASerialNumberThatIsNoNumberIsReportedNotPassedOver) {
    open();
    measureUnit();
    form->SerialNumber = "12a";
    const std::string settingsBefore = readAll(settingsPath());
    EXPECT_EQ(askFor("DrawFinished", "DATA_OK"), "DATA_OK");
    EXPECT_EQ(askSilent("WriteROM", [&] { return !errors.empty(); }), "");
    // Raised inside the report handler, it is shown as the HID layer shows such errors.
    EXPECT_EQ(errors, std::vector<std::string>{
                          "Error in HID data handler: '12a' is not a valid integer value"});
    EXPECT_FALSE(form->RomWritePending);
    EXPECT_TRUE(form->ReportsBlocked);
    EXPECT_FALSE(std::filesystem::exists(dir / "qrcode.txt"));
    loop.advance(6000ms);  // no time-out either: the result came
    EXPECT_FALSE(logged("ROM_NG"));

    errors.clear();
    EXPECT_EQ(askSilent("WriteBarCode", [&] { return !errors.empty(); }), "");
    EXPECT_EQ(errors, std::vector<std::string>{"'12a' is not a valid integer value"});
    EXPECT_EQ(readAll(settingsPath()), settingsBefore);
}

// "ReadyToAcquire" lets the messages run between its block requests: a command that comes
// meanwhile is answered inside it, before "READY".
TEST_F(Station, ACommandArrivingDuringTheAcquisitionRunsInsideIt) {
    open();
    const platform::TimerHandle ping =
        loop.after(150ms, [&] { ASSERT_EQ(::send(link.get(), "Ping", 4, MSG_NOSIGNAL), 4); });
    EXPECT_EQ(ask("ReadyToAcquire", 7), "OKREADY");
}

TEST_F(Station, WithoutAControllerTheCommandsSaySo) {
    open();
    controller->unplug(sim::hid::Port::Data);
    controller->unplug(sim::hid::Port::Command);
    loop.runPending();
    EXPECT_EQ(askFor("ReadyToAcquire", "NO_DEVICE"), "NO_DEVICE");
    EXPECT_EQ(form->LabelDevice.text(), "Device: PlugIn");
    EXPECT_EQ(askFor("ReportError", "ERR_NO_DEVICE"), "ERR_NO_DEVICE");
    EXPECT_EQ(askFor("WriteROM", "ROM_NG"), "ROM_NG");
}

// A label job lets pending work run between its commands; a second job started there
// fails at once, and the first goes on to its end.
TEST_F(Station, ASecondLabelJobCannotStartInsideTheFirst) {
    open();
    measureUnit();
    const platform::TimerHandle press = loop.after(10ms, [&] { form->suiButton5Click(); });
    const std::string got = ask("WriteBarCode", std::string("BARCODE_NGBARCODE_OK").size());
    EXPECT_EQ(got, "BARCODE_NGBARCODE_OK");
    EXPECT_TRUE(logged("Label job already running"));
    EXPECT_EQ(printer.Printer().commands().size(), 5u);  // one label, not an interleaved two
}

TEST_F(Station, UpdateWritesTheDefaultTableAndAReadBackGivesItUnchanged) {
    open();
    form->suitempButton4Click();
    loop.advance(1000ms);
    form->suiButton8Click();  // a reference is there: the default table goes out at once
    loop.advance(100ms);      // ... and the controller answers
    const auto& t = controller->eeprom();
    for (std::size_t i = 0; i < 28; ++i) {
        EXPECT_EQ(t.rowMin[i], 0);
        EXPECT_EQ(t.rowGain[i], 0);  // a span of exactly the reference
    }
    EXPECT_TRUE(logged("Update success!"));
    EXPECT_TRUE(logged("ROM_OK"));
    // "Read" again: minimum 0 and maximum = reference on every line.
    form->suitempButton4Click();
    loop.advance(1000ms);
    for (std::size_t i = 0; i < 28; ++i) {
        EXPECT_EQ(form->LineRanges.RowMin[i], 0);
        EXPECT_EQ(form->LineRanges.RowMax[i], 3000);
        EXPECT_EQ(form->LineRanges.ColMax[i], 3000);
    }
}
