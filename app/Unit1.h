// The main window: its controls, the state the subsystems share, its lifecycle and the
// handlers that the window, the timers and the devices call.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

#include "app/Settings.h"
#include "device/ControllerLink.h"
#include "device/HidCtrl.h"
#include "drawtest/Unit2.h"
#include "label/CommDevice.h"
#include "label/ProductLabel.h"
#include "measure/Display.h"
#include "measure/EdgeSweep.h"
#include "measure/LineRanges.h"
#include "platform/EventLoop.h"
#include "platform/hid/HidBackend.h"
#include "platform/serial/SerialSettings.h"
#include "station/ServerSocket.h"
#include "station/StationProtocol.h"
#include "ui/Form.h"

namespace tc::app {

constexpr int kMaxLines = measure::MaxLines;

// A received text longer than this is shown cut, with its full size.
constexpr std::size_t kShownTextLimit = 1024;
// What Memo1 shows of a text a station sent: the text itself, or its first
// kShownTextLimit bytes (never half a character) followed by "… (N bytes)".
std::string shownStationText(const std::string& text);

// The start count after `opened` starts. It never wraps: at the largest value it stays
// there and `counted` is false.
struct OpenTimesStep {
    std::string text;
    bool counted;
};
OpenTimesStep nextOpenTimes(int opened);

// Where the program reads and writes its files.
struct AppPaths {
    std::filesystem::path currentDir;  // Start_Up.ini is read here
    std::filesystem::path programDir;  // ... and written here
};

// What the desktop tells the window about itself (nothing, without a display).
struct HostInfo {
    int screenWidth = 0;
    int screenHeight = 0;
    int outerWidth = 0;
    int outerHeight = 0;
};

// How this run reaches its devices, from the command line.
struct DeviceOptions {
    int stationPort = 10000;
    std::string serialDevice;      // the printer's port by path instead of by number
    bool forceCommPortOn = false;  // open the printer's port whatever the settings say
};

// Threads: main thread only. Every entry point (the window's events, the timers, the
// station server's events, the controller link's view) is called by the loop; the devices'
// own threads reach the window only through their hand-overs to the loop.
class TForm1 {
public:
    // `hid` is where the controller is looked for: the hidraw nodes, or the virtual
    // controller. It outlives the window.
    TForm1(platform::EventLoop& loop, platform::hid::HidBackend& hid, AppPaths paths,
           HostInfo host = {}, DeviceOptions devices = {});
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    // Window events.
    void FormCreate();
    void FormShow();
    void FormClose();
    void FormKeyPress(char key);
    void CoolTrayIcon1DblClick();
    void Timer1Timer();

    // Measurement.
    void suitempButton4Click();  // "Read"
    void Timer3Timer();          // decode of the raw blocks
    void suitempButton1Click();  // "Clear"
    void suiButton8Click();      // "Default"
    void Timer7Timer();          // the wait of "Default"
    void suiButton1Click();      // "set ADC Max"
    void suiButton3Click();      // "save data"
    void suiButton4Click();      // "Draw"
    void Memo5MouseUp();
    // The idle handler: one pending test sample into the line ranges.
    void ProcessTestSample();
    // The first and last lines from the corner samples, then the picture and the texts.
    void RefineCornerLines();
    // RefineCornerLines, then the range test with its verdict in the memos; its result.
    measure::RangeTestResult judgeLines();
    // The ROM write ("Update"), its result and the station's time-out.
    void BtWriteROMClick();
    bool RomResult(const device::RomWriteResult& result);
    void Timer6Timer();

    // The label and the unit's identity.
    void suiButton5Click();  // "BarCode Print"
    int PrintProductLabel();
    label::LabelValues labelValues() const;
    std::string ProductSerial() const;
    void AdvanceSerialNumber();
    void WriteProductRecord();

    // The station's commands; Timer5 completes "ReadyToAcquire".
    void Timer5Timer();
    // Where the outcome of each station command is told, as "Command: WORD" (the service
    // manager's status line).
    void setStatusSink(std::function<void(const std::string&)> sink) {
        stationStatus_ = std::move(sink);
    }

    // Station server events.
    void ServerSocket1Listen();
    void ServerSocket1GetSocket(int socket);
    void ServerSocket1ClientConnect(station::StationConnection& c);
    void ServerSocket1Accept(station::StationConnection& c);
    void ServerSocket1ClientRead(station::StationConnection& c);
    void ServerSocket1ClientWrite(station::StationConnection& c);
    void ServerSocket1ClientDisconnect(station::StationConnection& c);
    void ServerSocket1ClientError(station::StationConnection& c, station::ErrorEvent e,
                                  int& errorCode);
    void serverSocket1ClientRefused();
    // The one way a reply leaves: logged, then sent to the oldest station connection.
    void SendStationReply(const std::string& text);

    // "DeBug Mode".
    void suiRadioGroup1Click() { Link.suiRadioGroup1Click(); }

    // Settings file.
    void LoadSettings();
    void SaveSettings();

    void showError(const std::string& text) const { loop_.reportError(text); }
    bool terminating() const { return terminating_; }

    // --- controls ---
    ui::Form Form1;
    ui::Label& suiForm1;
    ui::Image& Image1;
    ui::Memo& Memo1;
    ui::Memo& Memo2;
    ui::Memo& Memo5;
    ui::Memo& Memo6;
    ui::Label& Label6;
    ui::RadioGroup& suiRadioGroup1;
    ui::Label& LabelDevice;
    ui::Label& LabelEPROM;
    ui::Label& LabelChecksum;
    ui::Edit& suiEdit9;
    ui::CheckBox& CheckBox1;
    ui::Label& Label9;
    ui::Label& Label10;
    ui::Edit& Edit49;
    ui::Edit& Edit52;
    ui::Edit& Edit48;
    ui::TrayLamp& CoolTrayIcon1;
    std::array<ui::Edit*, kMaxLines> RowRangeEdits{};
    std::array<ui::Edit*, kMaxLines> ColumnRangeEdits{};

    // --- shared state ---
    Slots SettingValues;
    std::string SerialNumber;
    std::string CustomerName;
    std::string ModelName;
    std::string PrinterType;
    std::uint32_t LastErrorCode = 0;
    bool ReportsBlocked = false;
    bool RomWritePending = false;
    bool BarcodePrinted = false;
    int RowCount = 0;
    int ColumnCount = 0;
    std::uint16_t AdcFullScale = measure::InitialAdcFullScale;
    bool RomResultSeen = false;

    // --- measurement ---
    measure::LineRanges LineRanges;
    measure::EdgeSweep Sweep;  // the four runs and the four corner lists
    int DefaultRetryCount = 0;

    // The label printer's line as the settings give it, and whether to open it.
    platform::SerialLineSettings CommSettings;
    bool CommPortOn = false;

    // --- components ---
    station::TServerSocket ServerSocket1;
    label::TCommDevice CommDevice1;
    // Where the label job talks to the printer: CommDevice1, unless another port is put in
    // its place (a printer simulated in-process on the loop's clock).
    void useLabelPort(platform::CommPort& port) { labelPort_ = &port; }

    // --- timers ---
    platform::Timer Timer1;  // lamp watchdog
    platform::Timer Timer3;  // raw-block decode
    platform::Timer Timer5;  // completion of the station's acquire command
    platform::Timer Timer6;  // ROM-result time-out
    platform::Timer Timer7;  // wait of the "Default" table

private:
    // The controller link's view of the window.
    class LinkView final : public device::ControllerView {
    public:
        explicit LinkView(TForm1& f) : f_(f) {}
        void setLabelDevice(const std::string& t) override { f_.LabelDevice.setText(t); }
        void setLabelEPROM(const std::string& t) override { f_.LabelEPROM.setText(t); }
        void setLabelChecksum(const std::string& t) override { f_.LabelChecksum.setText(t); }
        void setLabel9(const std::string& t) override { f_.Label9.setText(t); }
        void setLabel10(const std::string& t) override { f_.Label10.setText(t); }
        void appendLog(const std::string& line) override { f_.Memo1.add(line); }
        void setLampIndex(int i) override { f_.CoolTrayIcon1.setIndex(i); }
        int lampIndex() const override { return f_.CoolTrayIcon1.index(); }
        void restartTimer1() override;
        void enableTimer3() override { f_.Timer3.setEnabled(true); }
        int debugModeItemIndex() const override { return f_.suiRadioGroup1.itemIndex(); }
        bool applicationTerminating() const override { return f_.terminating_; }
        bool ReportsBlocked() const override { return f_.ReportsBlocked; }
        int edit52Index() const override;

    private:
        TForm1& f_;
    };
    LinkView linkView_{*this};

public:
    // --- the controller link ---
    device::HidCtrl HidCtrl;
    device::ControllerLink Link;

    // The draw-test canvas, created with the window and kept until the end.
    drawtest::TForm2 Form2;

private:
    // Runs one start-up step; an error in it is shown and the next steps still run, so the
    // window never comes up half built.
    void Step(const platform::Task& step);
    // A count setting that must be a whole number from 1 to 30; anything else is shown
    // and gives 30, written back into its slot.
    int lineCountSetting(Slot slot, const char* key);
    void createRangeEdits();
    void applyRangeTest(const measure::RangeTestOutcome& outcome);
    void showLineTexts(const measure::LineTexts& texts);
    void showLineBoxes(const measure::LineBoxes& boxes, bool visibility);
    void resetLineRanges();
    void applyDefaultValues();
    // The raw read's requests: the four blocks 100 ms apart with one message pass each,
    // then test mode.
    void requestRawBlocks();
    std::string unitStamp() const;
    // Station commands.
    void runStationCommand(const std::string& text);
    void stationReadyToAcquire();
    void stationDrawFinished();
    void stationWriteBarCode();
    void stationHidUnplug();
    void stationWriteRom();
    void stationSetting(station::CommandId id, const std::string& text);
    // NormalMode, when the data interface is held.
    void normalModeIfPresent();
    void reply(std::string_view word);

    label::LabelJob labelJob_;
    platform::CommPort* labelPort_ = &CommDevice1;
    std::function<void(const std::string&)> stationStatus_;
    std::string lastStationCommand_;  // the name of the last command a station sent

    platform::EventLoop& loop_;
    AppPaths paths_;
    HostInfo host_;
    DeviceOptions devices_;

    bool settingsFromFile_ = false;
    bool terminating_ = false;
};

}  // namespace tc::app
