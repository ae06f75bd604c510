#include "app/Unit1.h"

#include <cstdio>
#include <limits>

#include "app/MainWindowLayout.h"
#include "measure/Display.h"
#include "platform/Convert.h"
#include "platform/Files.h"
#include "platform/Version.h"

namespace tc::app {

using namespace std::chrono_literals;

namespace {

ui::Form& built(ui::Form& form) {
    buildMainWindow(form);
    return form;
}

std::string formatSize(const char* what, int w, int h) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s: Width = %d, Height = %d", what, w, h);
    return buf;
}

bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

}  // namespace

std::string shownStationText(const std::string& text) {
    if (text.size() <= kShownTextLimit) return text;
    std::size_t cut = kShownTextLimit;
    // Cut before a character, not inside one: back over at most three continuation bytes.
    for (int i = 0; i < 3 && cut > 0 && isContinuationByte(text[cut]); ++i) --cut;
    if (isContinuationByte(text[cut])) cut = kShownTextLimit;
    return text.substr(0, cut) + "\xE2\x80\xA6 (" + std::to_string(text.size()) + " bytes)";  // …
}

OpenTimesStep nextOpenTimes(int opened) {
    // A count that cannot go higher stays where it is rather than turning negative or
    // starting again, so the file keeps saying "at least this many".
    if (opened == std::numeric_limits<int>::max()) return {platform::intToStr(opened), false};
    return {platform::intToStr(opened + 1), true};
}

TForm1::TForm1(platform::EventLoop& loop, platform::hid::HidBackend& hid, AppPaths paths,
               HostInfo host, DeviceOptions devices)
    : Form1("Form1", {0, 0, kClientWidth, kClientHeight}),
      suiForm1(built(Form1).get<ui::Label>("suiForm1")),
      Image1(Form1.get<ui::Image>("Image1")),
      Memo1(Form1.get<ui::Memo>("Memo1")),
      Memo2(Form1.get<ui::Memo>("Memo2")),
      Memo5(Form1.get<ui::Memo>("Memo5")),
      Memo6(Form1.get<ui::Memo>("Memo6")),
      Label6(Form1.get<ui::Label>("Label6")),
      suiRadioGroup1(Form1.get<ui::RadioGroup>("suiRadioGroup1")),
      LabelDevice(Form1.get<ui::Label>("LabelDevice")),
      LabelEPROM(Form1.get<ui::Label>("LabelEPROM")),
      LabelChecksum(Form1.get<ui::Label>("LabelChecksum")),
      suiEdit9(Form1.get<ui::Edit>("suiEdit9")),
      CheckBox1(Form1.get<ui::CheckBox>("CheckBox1")),
      Label9(Form1.get<ui::Label>("Label9")),
      Label10(Form1.get<ui::Label>("Label10")),
      Edit49(Form1.get<ui::Edit>("Edit49")),
      Edit52(Form1.get<ui::Edit>("Edit52")),
      Edit48(Form1.get<ui::Edit>("Edit48")),
      CoolTrayIcon1(Form1.get<ui::TrayLamp>("CoolTrayIcon1")),
      ServerSocket1(loop),
      Timer1(loop, 100ms),
      Timer3(loop, 1000ms),
      Timer5(loop, 1ms),
      Timer6(loop, 5000ms),
      Timer7(loop, 200ms),
      HidCtrl(loop, hid),
      Link(HidCtrl, linkView_),
      // Leaving the canvas with Q puts "DeBug Mode" on "Calibration" and runs its handler.
      Form2([this] {
          suiRadioGroup1.setItemIndex(1);
          suiRadioGroup1Click();
      }),
      loop_(loop),
      paths_(std::move(paths)),
      host_(host),
      devices_(std::move(devices)) {
    // The settings texts start empty; FormCreate fills them.
    SettingValues = {};
    // Always at the top-left corner of the screen.
    Form1.setRect({0, 0, kClientWidth, kClientHeight});
    Form1.setSystemCaption(platform::systemCaption(platform::versionInfo()));
    platform::debugOutput(formatSize("Screen", host_.screenWidth, host_.screenHeight));
    platform::debugOutput(formatSize("Form", host_.outerWidth, host_.outerHeight));

    Timer1.setOnTimer([this] { Timer1Timer(); });
    Timer3.setOnTimer([this] { Timer3Timer(); });
    Timer5.setOnTimer([this] { Timer5Timer(); });
    Timer6.setOnTimer([this] { Timer6Timer(); });
    Timer7.setOnTimer([this] { Timer7Timer(); });
    Form1.onShow = [this] { FormShow(); };
    Form1.onClose = [this] { FormClose(); };
    Form1.onKeyPress = [this](char c) { FormKeyPress(c); };
    CoolTrayIcon1.onDblClick = [this] { CoolTrayIcon1DblClick(); };
    Form1.find("Button1").onClick = [this] { suitempButton1Click(); };
    Form1.find("Button4").onClick = [this] { suitempButton4Click(); };
    Form1.find("suiButton8").onClick = [this] { suiButton8Click(); };
    Form1.find("suiButton1").onClick = [this] { suiButton1Click(); };
    Form1.find("suiButton3").onClick = [this] { suiButton3Click(); };
    Form1.find("suiButton4").onClick = [this] { suiButton4Click(); };
    Form1.find("suiButton5").onClick = [this] { suiButton5Click(); };
    Form1.find("BtWriteROM").onClick = [this] { BtWriteROMClick(); };
    Memo5.onMouseUp = [this] { Memo5MouseUp(); };

    ServerSocket1.setPort(devices_.stationPort);
    ServerSocket1.onListen = [this] { ServerSocket1Listen(); };
    ServerSocket1.onGetSocket = [this](int s) { ServerSocket1GetSocket(s); };
    ServerSocket1.onClientConnect = [this](auto& c) { ServerSocket1ClientConnect(c); };
    ServerSocket1.onAccept = [this](auto& c) { ServerSocket1Accept(c); };
    ServerSocket1.onClientRead = [this](auto& c) { ServerSocket1ClientRead(c); };
    ServerSocket1.onClientWrite = [this](auto& c) { ServerSocket1ClientWrite(c); };
    ServerSocket1.onClientDisconnect = [this](auto& c) { ServerSocket1ClientDisconnect(c); };
    ServerSocket1.onClientError = [this](auto& c, station::ErrorEvent e, int& code) {
        ServerSocket1ClientError(c, e, code);
    };
    ServerSocket1.onClientRefused = [this] { serverSocket1ClientRefused(); };
    CommDevice1.setOnLog([this](const std::string& line) { Memo1.add(line); });
    if (!devices_.serialDevice.empty()) CommDevice1.setDevicePath(devices_.serialDevice);

    // The controller's interfaces are looked for by the first scan, which the controller
    // posts now and which runs once the window is up and the loop runs.
    Link.connectHandlers();
    Link.setRomResultHandler([this](const device::RomWriteResult& r) { return RomResult(r); });
    suiRadioGroup1.onClick = [this] { suiRadioGroup1Click(); };
}

TForm1::~TForm1() {
    terminating_ = true;
    // The idle pass must not outlive the window it works on.
    loop_.setIdleHook({});
}

void TForm1::Step(const platform::Task& step) {
    loop_.dispatch(step);
}

void TForm1::FormCreate() {
    BarcodePrinted = false;
    Step([this] { Sweep.clearTrackers(); });
    // A save killed half way leaves its temporary beside the file; nothing else would
    // ever remove it.
    Step([this] { platform::removeStaleTemporaries(paths_.programDir / kSettingsFileName); });
    Step([this] { LoadSettings(); });
    Step([this] {
        auto v = validateSerialSettings(SettingValues);
        for (const auto& e : v.errors) showError(e);
        for (const auto& l : v.logLines) Memo1.add(l);
        CommSettings = v.line;
        CommDevice1.applySettings(CommSettings);
    });
    Step([this] {
        applyDailyReset(SettingValues, platform::formatDate(loop_.now()), settingsFromFile_);
    });
    Step([this] {
        PrinterType = SettingValues[Slot::PrinterType];
        SerialNumber = SettingValues[Slot::SerialNumber];
        CustomerName = SettingValues[Slot::Customer];
        ModelName = SettingValues[Slot::Model];
        RowCount = lineCountSetting(Slot::RowNumber, "Row Number");
        ColumnCount = lineCountSetting(Slot::ColumnNumber, "Column Number");
        Edit49.setText(SettingValues[Slot::MechinName]);
    });
    Step([this] {
        int opened = 0;
        try {
            opened = platform::strToInt(SettingValues[Slot::OpenTimes]);
        } catch (const platform::ConvertError& e) {
            showError(e.what());
            Memo1.add("---Open Times Set Default : 0---");
        }
        const auto next = nextOpenTimes(opened);
        if (!next.counted) Memo1.add("---Open Times Kept At : " + next.text + "---");
        SettingValues[Slot::OpenTimes] = next.text;
    });
    Step([this] {
        CommSettings.rtsCtsFlowControl = true;
        CommDevice1.setRtsCtsFlowControl(true);
        CommPortOn = commPortEnabled(SettingValues[Slot::CommPort]) || devices_.forceCommPortOn;
        if (CommPortOn) CommDevice1.Open();
    });
    Step([this] {
        ReportsBlocked = false;
        RomWritePending = false;
        Image1.penWidth = 2;
    });
    Step([this] { createRangeEdits(); });
    Step([this] { loop_.setIdleHook([this] { ProcessTestSample(); }); });
    Step([this] { suiEdit9.setText(platform::intToStr(AdcFullScale)); });
    Step([this] {
        resetLineRanges();
        measure::ClearImage(Image1);
        measure::DrawGrid(Image1, RowCount, ColumnCount);
    });
    Step([this] { suiForm1.setText(suiForm1.text() + " " + kVersionText); });
}

int TForm1::lineCountSetting(Slot slot, const char* key) {
    std::string problem;
    try {
        const int n = platform::strToInt(SettingValues[slot]);
        if (n >= 1 && n <= kMaxLines) return n;
        problem = std::string(key) + " " + SettingValues[slot] + " is outside 1 to 30";
    } catch (const platform::ConvertError& e) {
        problem = e.what();
    }
    showError(problem);
    Memo1.add(std::string("---") + key + " Set Default : 30---");
    SettingValues[slot] = "30";
    return kMaxLines;
}

void TForm1::createRangeEdits() {
    for (int i = 0; i < kMaxLines; ++i)
        RowRangeEdits[i] = &Form1.add<ui::Edit>("RowRangeEdit" + std::to_string(i),
                                                ui::Rect{560, 32 + 17 * i, 180, 17});
    for (int i = 0; i < kMaxLines; ++i)
        ColumnRangeEdits[i] = &Form1.add<ui::Edit>("ColumnRangeEdit" + std::to_string(i),
                                                   ui::Rect{744, 32 + 17 * i, 180, 17});
}

void TForm1::LoadSettings() {
    const std::string today = platform::formatDate(loop_.now());
    std::optional<std::string> file;
    bool unreadable = false;
    try {
        file = platform::readFileIfExists(paths_.currentDir / kSettingsFileName);
    } catch (const platform::FileError& e) {
        // The file is there but cannot be read: run on the defaults and leave it alone,
        // so nothing it holds is lost.
        showError(e.what());
        unreadable = true;
    }
    LoadResult r = readSettings(file, today);
    SettingValues = r.values;
    settingsFromFile_ = r.fromFile;
    Memo1.clear();
    if (!r.fromFile) Memo2.clear();
    for (const auto& line : r.logLines) {
        Memo1.add(line);
        if (!r.fromFile) Memo2.add(line);
    }
    if (r.defaultFileBytes && !unreadable)
        platform::replaceFile(paths_.programDir / kSettingsFileName, Memo2.joinedText());
}

void TForm1::SaveSettings() {
    Memo2.clear();
    const std::string today = platform::formatDate(loop_.now());
    // The machine letter and the date are refreshed as their lines are reached; the date
    // never resets the serial number here, so a run past midnight keeps counting.
    SettingValues[Slot::MechinName] = Edit49.text();
    if (SettingValues[Slot::Date] != today) SettingValues[Slot::Date] = today;
    for (const auto& line : settingsFileLines(SettingValues)) {
        Memo1.add(line);
        Memo2.add(line);
    }
    platform::replaceFile(paths_.programDir / kSettingsFileName, Memo2.joinedText());
}

void TForm1::FormShow() {
    ServerSocket1.setActive(true);
}

void TForm1::FormClose() {
    // The controller goes back to reporting as an ordinary touch device.
    if (Link.FeatureDevice()) Link.SendFeatureCommand(device::Command::NormalMode, 0);
    loop_.setIdleHook({});
}

void TForm1::LinkView::restartTimer1() {
    f_.Timer1.setEnabled(false);
    f_.Timer1.setEnabled(true);
}

int TForm1::LinkView::edit52Index() const {
    return platform::strToInt(f_.Edit52.text());
}

void TForm1::FormKeyPress(char key) {
    if (key == 'c' || key == 'C') suitempButton1Click();
}

void TForm1::CoolTrayIcon1DblClick() {
    Form1.setVisible(!Form1.visible());
}

void TForm1::Timer1Timer() {
    Timer1.setEnabled(false);
    // The last report may have come just before an unplug; red would then claim a
    // controller that is gone.
    CoolTrayIcon1.setIndex(Link.DataDevice() ? 1 : 0);
}

void TForm1::ServerSocket1Listen() {
    Memo1.add("Listen");
}
void TForm1::ServerSocket1GetSocket(int) {
    Memo1.add("GetSocket");
}
void TForm1::ServerSocket1ClientConnect(station::StationConnection&) {
    Memo1.add("ClientConnect");
}
void TForm1::ServerSocket1Accept(station::StationConnection&) {
    Memo1.add("Accept");
}
void TForm1::ServerSocket1ClientWrite(station::StationConnection&) {
    Memo1.add("ClientWrite");
}
void TForm1::ServerSocket1ClientDisconnect(station::StationConnection&) {
    Memo1.add("ClientDisconnect");
}
// The error code is left as it is, so the error box shows it.
void TForm1::ServerSocket1ClientError(station::StationConnection&, station::ErrorEvent, int&) {
    Memo1.add("ClientError");
}

void TForm1::ServerSocket1ClientRead(station::StationConnection& c) {
    // One read event is one command, exactly as it came.
    const std::string text = c.ReceiveText();
    Memo1.add(shownStationText(text));
    runStationCommand(text);
}

void TForm1::serverSocket1ClientRefused() {
    Memo1.add("ClientRefused: " + std::to_string(ServerSocket1.getLimits().maxConnections) +
              " connections are open already");
}

void TForm1::SendStationReply(const std::string& text) {
    station::SendStationReply([this](const std::string& line) { Memo1.add(line); }, ServerSocket1,
                              text);
}

}  // namespace tc::app
