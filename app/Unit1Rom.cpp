// The ROM write and its result, the label job and the unit's serial number and record.
#include "app/Unit1.h"
#include "label/ProductRecord.h"
#include "measure/RangeTest.h"
#include "platform/Convert.h"
#include "station/RomWrite.h"

namespace tc::app {

namespace st = station;

void TForm1::BtWriteROMClick() {
    device::HidDevice* command = Link.FeatureDevice();
    if (!command) return;
    Link.SendFeatureCommand(device::Command::TestMode, 0);
    RomWritePending = true;
    // This write's own result is the one to take: a latch left over from the last write
    // would swallow it, and the station would hear "ROM_NG" for a table that was stored.
    RomResultSeen = false;
    const measure::RangeTestResult judged = judgeLines();
    if (judged != measure::RangeTestPassed) {
        const st::ReplyOutcome outcome = st::judgementOutcome(judged);
        if (outcome.errorCode) LastErrorCode = *outcome.errorCode;
        reply(outcome.reply);
        return;
    }
    const auto table = st::BuildRomTable(LineRanges, RowCount, ColumnCount);
    // The conversions show the reference they worked with.
    if (!table.empty()) suiEdit9.setText(platform::intToStr(LineRanges.AdcReference));
    for (const auto& entry : table) device::ControllerLink::sendFeatureReport(command, entry);
    Link.SendFeatureCommand(device::Command::TableCommit, 0);
}

bool TForm1::RomResult(const device::RomWriteResult& result) {
    if (suiRadioGroup1.itemIndex() != 1 || ReportsBlocked || !RomWritePending) return false;
    if (RomResultSeen) {
        RomResultSeen = false;
        return true;
    }
    Timer6.setEnabled(false);
    Memo1.add(std::string(st::LogUpdateSuccess));
    // The write is over whatever happens below: a serial number that cannot be counted
    // ends this handler with an error, and must not leave the write pending for ever.
    struct Finish {
        TForm1& f;
        ~Finish() {
            f.RomResultSeen = true;
            f.ReportsBlocked = true;
            f.RomWritePending = false;
            f.Link.SendFeatureCommand(device::Command::NormalMode, 0);
        }
    } finish{*this};
    const st::RomResultOutcome outcome = st::evaluateRomResult(result);
    if (outcome.stored) {
        AdvanceSerialNumber();
        WriteProductRecord();
        SaveSettings();
    }
    if (outcome.errorCode) LastErrorCode = *outcome.errorCode;
    reply(outcome.reply);
    return false;
}

void TForm1::Timer6Timer() {
    if (!RomResultSeen) {
        reply(st::ReplyRomNg);
        LastErrorCode = st::ErrorRomChecksum;
    }
    Timer6.setEnabled(false);
}

label::LabelValues TForm1::labelValues() const {
    label::LabelValues v;
    v.machineName = Edit49.text();
    v.date = SettingValues[Slot::Date];
    v.serialNumber = SerialNumber;
    v.customerName = CustomerName;
    v.modelName = ModelName;
    v.printerType = PrinterType;
    v.ppX = SettingValues[Slot::PpX];
    v.ppY = SettingValues[Slot::PpY];
    v.bm = SettingValues[Slot::Bm];
    v.lastStepsWaitMs = platform::strToInt(Edit48.text());
    v.rowCount = measure::ClampLineCount(RowCount);
    v.columnCount = measure::ClampLineCount(ColumnCount);
    v.rowMin = LineRanges.RowMin;
    v.rowMax = LineRanges.RowMax;
    v.colMin = LineRanges.ColMin;
    v.colMax = LineRanges.ColMax;
    return v;
}

std::string TForm1::ProductSerial() const {
    return label::ProductSerial(labelValues());
}

int TForm1::PrintProductLabel() {
    label::LoopLabelHooks hooks(loop_, [this](const std::string& line) { Memo1.add(line); });
    return labelJob_.PrintProductLabel(*labelPort_, labelValues(), hooks);
}

void TForm1::suiButton5Click() {
    Memo1.add(std::string(st::LogWriteBarCode));
    normalModeIfPresent();
    reply(PrintProductLabel() == 0 ? st::ReplyBarcodeOk : st::ReplyBarcodeNg);
}

void TForm1::AdvanceSerialNumber() {
    SerialNumber = label::AdvanceSerialNumber(SerialNumber);
    SettingValues[Slot::SerialNumber] = SerialNumber;
}

void TForm1::WriteProductRecord() {
    const std::string line =
        label::ProductRecordLine(Label6.text(), label::ProductCode(labelValues()));
    if (!label::WriteProductRecord(paths_.currentDir / label::ProductRecordFileName, line))
        Memo1.add("file error");
}

}  // namespace tc::app
