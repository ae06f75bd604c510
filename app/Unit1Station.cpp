// The test station's commands. Which command a text is, the reply words and the rules of the
// setting commands live in station/; these handlers gather the window's state, run the
// operations and send the replies.
#include <algorithm>

#include "app/Unit1.h"
#include "measure/Display.h"

namespace tc::app {

using namespace std::chrono_literals;
namespace st = station;

namespace {

constexpr auto AcquireSettle = 1000ms;

}  // namespace

void TForm1::reply(std::string_view word) {
    SendStationReply(std::string(word));
    // The outcome words tell how the line runs; the texts the station asks for do not.
    if (!stationStatus_) return;
    const auto words = st::allReplyWords();
    if (std::find(words.begin(), words.end(), word) == words.end()) return;
    stationStatus_(lastStationCommand_.empty() ? std::string(word)
                                               : lastStationCommand_ + ": " + std::string(word));
}

void TForm1::normalModeIfPresent() {
    if (Link.DataDevice()) Link.SendFeatureCommand(device::Command::NormalMode, 0);
}

void TForm1::runStationCommand(const std::string& text) {
    const st::CommandId id = st::matchCommand(text);
    lastStationCommand_ = id == st::CommandId::Unknown ? "?" : std::string(st::commandName(id));
    switch (id) {
        case st::CommandId::ReadyToAcquire:
            stationReadyToAcquire();
            break;
        case st::CommandId::Ping:
            normalModeIfPresent();
            reply(st::ReplyOk);
            break;
        case st::CommandId::DrawFinished:
            stationDrawFinished();
            break;
        case st::CommandId::WriteBarCode:
            stationWriteBarCode();
            break;
        case st::CommandId::HIDUnplug:
            stationHidUnplug();
            break;
        case st::CommandId::WriteROM:
            stationWriteRom();
            break;
        case st::CommandId::ReportError:
            normalModeIfPresent();
            // A code without a word gets no reply at all.
            if (const auto word = st::errorWord(LastErrorCode)) reply(*word);
            break;
        case st::CommandId::AppName:
        case st::CommandId::AppVersion:
            reply(*st::fixedReply(id));
            break;
        case st::CommandId::SetVender:
        case st::CommandId::SetModel:
        case st::CommandId::SetSerialNo:
        case st::CommandId::SetPrinterType:
            stationSetting(id, text);
            break;
        case st::CommandId::GetVender:
            reply(CustomerName);
            break;
        case st::CommandId::GetModel:
            reply(ModelName);
            break;
        case st::CommandId::GetSerialNo:
            reply(ProductSerial());
            break;
        case st::CommandId::GetPrinterType:
            reply(PrinterType);
            break;
        case st::CommandId::OpenShortData:
            reply(Memo5.joinedText());
            break;
        case st::CommandId::ADCValueData:
            reply(Memo6.joinedText());
            break;
        case st::CommandId::Unknown:
            reply(st::ReplyUnknownCommand);
            break;
    }
}

void TForm1::stationReadyToAcquire() {
    LastErrorCode = st::ErrorNone;
    HidCtrl.Enumerate();
    LabelDevice.setText("Device: PlugIn");
    if (!Link.DataDevice()) {
        reply(st::ReplyNoDevice);
        LastErrorCode = st::ErrorNoDevice;
        return;
    }
    // Test mode through the data interface itself as well.
    device::ControllerLink::sendFeatureReport(Link.DataDevice(),
                                              device::featureReport(device::Command::TestMode, 0));
    ReportsBlocked = false;
    requestRawBlocks();
    Memo1.add(std::string(st::LogAcquiring));
    loop_.sleep(AcquireSettle);
    Timer5.setEnabled(true);
}

void TForm1::Timer5Timer() {
    Timer5.setEnabled(false);
    suitempButton1Click();
    Label6.setText(unitStamp());
    reply(st::ReplyReady);
    BarcodePrinted = false;
}

void TForm1::stationDrawFinished() {
    normalModeIfPresent();
    Memo1.add(std::string(st::LogCalculating));
    const st::ReplyOutcome outcome = st::judgementOutcome(judgeLines());
    if (outcome.errorCode) LastErrorCode = *outcome.errorCode;
    reply(outcome.reply);
    measure::RedrawLineRanges(Image1, LineRanges, RowCount, ColumnCount, AdcFullScale);
}

void TForm1::stationWriteBarCode() {
    if (BarcodePrinted) {
        Memo1.add(std::string(st::LogBarCodePrinted));
        return;
    }
    BarcodePrinted = true;
    Memo1.add(std::string(st::LogWriteBarCode));
    normalModeIfPresent();
    const st::ReplyOutcome outcome = st::labelJobOutcome(PrintProductLabel() == 0);
    if (outcome.errorCode) {
        reply(outcome.reply);
        LastErrorCode = *outcome.errorCode;
        return;
    }
    suiButton3Click();
    // A serial number that cannot be counted ends the command here, shown as an error:
    // no reply, nothing saved.
    AdvanceSerialNumber();
    SaveSettings();
    reply(outcome.reply);
}

void TForm1::stationHidUnplug() {
    if (device::HidDevice* data = Link.DataDevice()) {
        Link.SendFeatureCommand(device::Command::NormalMode, 0);
        Link.HidCtrlDeviceUnplug(data);
        LabelDevice.setText("Device: PlugOut");
        LabelEPROM.setText("EPROM: None");
        LabelChecksum.setText("Checksum: Fail");
    }
    reply(st::ReplyHidUnplugged);
}

void TForm1::stationWriteRom() {
    if (!Link.DataDevice()) {
        reply(st::ReplyRomNg);
        LastErrorCode = st::ErrorNoDevice;
        return;
    }
    RomWritePending = true;
    Memo1.add(std::string(st::LogWriteRom));
    BtWriteROMClick();
    Link.SendFeatureCommand(device::Command::NormalMode, 0);
    Timer6.setEnabled(true);
}

void TForm1::stationSetting(st::CommandId id, const std::string& text) {
    const auto rule = st::settingCommand(id);
    if (!rule) return;
    const st::CommandParts parts = st::splitCommand(text);
    const st::SettingOutcome outcome = st::settingOutcome(*rule, parts.CommandArgument);
    if (!outcome.refusal.empty()) Memo1.add(outcome.refusal);
    reply(outcome.reply);
    if (!outcome.accepted) {
        LastErrorCode = outcome.errorCode;
        return;
    }
    const std::string& value = parts.CommandArgument;
    switch (rule->target) {
        case st::ProductText::CustomerName:
            CustomerName = value;
            SettingValues[Slot::Customer] = value;
            break;
        case st::ProductText::ModelName:
            ModelName = value;
            SettingValues[Slot::Model] = value;
            break;
        case st::ProductText::SerialNumber:
            SerialNumber = value;
            SettingValues[Slot::SerialNumber] = value;
            break;
        case st::ProductText::PrinterType:
            PrinterType = value;
            SettingValues[Slot::PrinterType] = value;
            break;
    }
}

}  // namespace tc::app
