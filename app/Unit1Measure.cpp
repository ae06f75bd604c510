// The main window's measurement handlers: the raw read and its decode, "Clear", "Default",
// "set ADC Max", "save data", "Draw" and the idle pass over the live test samples. The
// rules themselves live in measure/; these gather the window's state, call them and apply
// what comes back to the controls.
#include <stdexcept>

#include "app/Unit1.h"
#include "label/ProductRecord.h"
#include "measure/Display.h"
#include "measure/MeasurementFile.h"
#include "platform/Convert.h"

namespace tc::app {

using namespace std::chrono_literals;

namespace {

constexpr auto ReadStep = 100ms;

}  // namespace

void TForm1::applyRangeTest(const measure::RangeTestOutcome& outcome) {
    Memo5.setFontColor(outcome.memo5Color);
    Memo5.setLines(outcome.memo5Lines);
    if (outcome.memo5Visible) Memo5.setVisible(true);
    Memo6.setFontColor(outcome.memo6Color);
    Memo6.setLines(outcome.memo6Lines);
}

void TForm1::showLineTexts(const measure::LineTexts& texts) {
    for (std::size_t i = 0; i < texts.rows.size() && i < RowRangeEdits.size(); ++i)
        if (RowRangeEdits[i]) RowRangeEdits[i]->setText(texts.rows[i]);
    for (std::size_t j = 0; j < texts.columns.size() && j < ColumnRangeEdits.size(); ++j)
        if (ColumnRangeEdits[j]) ColumnRangeEdits[j]->setText(texts.columns[j]);
}

void TForm1::showLineBoxes(const measure::LineBoxes& boxes, bool visibility) {
    for (int i = 0; i < kMaxLines; ++i) {
        ui::Edit* row = RowRangeEdits[std::size_t(i)];
        ui::Edit* column = ColumnRangeEdits[std::size_t(i)];
        if (row && boxes.rowTexts[std::size_t(i)]) row->setText(*boxes.rowTexts[std::size_t(i)]);
        if (column && boxes.columnTexts[std::size_t(i)])
            column->setText(*boxes.columnTexts[std::size_t(i)]);
        if (!visibility) continue;
        if (row) row->setVisible(boxes.rowVisible[std::size_t(i)]);
        if (column) column->setVisible(boxes.columnVisible[std::size_t(i)]);
    }
}

void TForm1::resetLineRanges() {
    showLineTexts(measure::ResetLineRanges(LineRanges, RowCount, ColumnCount));
}

std::string TForm1::unitStamp() const {
    return label::UnitStamp(SettingValues[Slot::MechinName], loop_.now());
}

void TForm1::requestRawBlocks() {
    for (std::uint8_t n = 0; n < measure::RawSlotCount; ++n) {
        Link.SendFeatureCommand(device::Command::ReadBlock, n);
        loop_.sleep(ReadStep);
        // The blocks that have come meanwhile are filed between the requests.
        loop_.processMessages();
    }
    Link.SendFeatureCommand(device::Command::TestMode, 0);
}

void TForm1::suitempButton4Click() {
    if (!Link.FeatureDevice()) return;
    ReportsBlocked = false;
    RomResultSeen = false;
    Memo5.setVisible(false);
    Memo6.setVisible(false);
    for (int i = 0; i < kMaxLines; ++i) {
        if (RowRangeEdits[std::size_t(i)]) RowRangeEdits[std::size_t(i)]->setVisible(true);
        if (ColumnRangeEdits[std::size_t(i)]) ColumnRangeEdits[std::size_t(i)]->setVisible(true);
    }
    requestRawBlocks();
    Label6.setText(unitStamp());
    Memo1.clear();
    Sweep.clearTrackers();
    // The ranges themselves are replaced when the blocks are decoded.
}

void TForm1::Timer3Timer() {
    const measure::RawDecodeResult r =
        measure::DecodeRawBlocks(Link.rawBlockStore().bytes(), LineRanges);
    for (const auto& line : r.log) Memo1.add(line);
    RowCount = r.RowCount;
    ColumnCount = r.ColumnCount;
    SettingValues[Slot::RowNumber] = platform::intToStr(RowCount);
    SettingValues[Slot::ColumnNumber] = platform::intToStr(ColumnCount);
    AdcFullScale = r.AdcFullScale;
    // The conversions of the stored gain codes show the reference they worked with.
    if (RowCount + ColumnCount > 0) suiEdit9.setText(platform::intToStr(LineRanges.AdcReference));
    measure::ClearImage(Image1);
    measure::DrawGrid(Image1, RowCount, ColumnCount);
    applyRangeTest(r.rangeTest);
    showLineBoxes(measure::ShowLineRanges(Image1, LineRanges, RowCount, ColumnCount, AdcFullScale),
                  /*visibility=*/true);
    Timer3.setEnabled(false);
}

void TForm1::suitempButton1Click() {
    resetLineRanges();
    measure::ClearImage(Image1);
    Memo5.setVisible(false);
    Memo6.setVisible(false);
    measure::DrawGrid(Image1, RowCount, ColumnCount);
    Sweep.clearTrackers();
}

void TForm1::suiButton8Click() {
    if (!Link.FeatureDevice()) {
        Memo1.add("No Device");
        return;
    }
    if (LineRanges.AdcReference == 0) {
        suitempButton4Click();
        DefaultRetryCount = 0;
        Timer7.setEnabled(true);
        return;
    }
    Timer7.setEnabled(false);
    applyDefaultValues();
}

void TForm1::Timer7Timer() {
    ++DefaultRetryCount;
    if (DefaultRetryCount >= 3) {
        Timer7.setEnabled(false);  // no reference came: give up
    } else if (LineRanges.AdcReference != 0) {
        Timer7.setEnabled(false);
        applyDefaultValues();
    }
}

void TForm1::applyDefaultValues() {
    auto& r = LineRanges;
    const int rows = measure::ClampLineCount(RowCount);
    const int columns = measure::ClampLineCount(ColumnCount);
    for (std::size_t i = 0; i < std::size_t(rows); ++i) {
        r.RowMin[i] = 0;
        r.RowMax[i] = r.AdcReference;
        r.RowMinSeen[i] = r.RowMaxSeen[i] = true;
    }
    for (std::size_t j = 0; j < std::size_t(columns); ++j) {
        r.ColMin[j] = 0;
        r.ColMax[j] = r.AdcReference;
        r.ColMinSeen[j] = r.ColMaxSeen[j] = true;
    }
    Sweep.resetRunLines();
    BtWriteROMClick();
    measure::RedrawLineRanges(Image1, LineRanges, RowCount, ColumnCount, AdcFullScale);
    showLineTexts(measure::LineRangeTexts(LineRanges, RowCount, ColumnCount));
}

void TForm1::suiButton1Click() {
    const std::string text = suiEdit9.text();
    const int value = platform::strToInt(text);  // not a number: the error box, nothing set
    // The scale is a 16-bit ADC value; a larger number would be cut to some other scale.
    if (value < 0 || value > 0xFFFF)
        throw platform::ConvertError("'" + text + "' is not a valid ADC value (0 to 65535)");
    AdcFullScale = std::uint16_t(value);
    showLineBoxes(measure::ShowLineRanges(Image1, LineRanges, RowCount, ColumnCount, AdcFullScale),
                  /*visibility=*/false);
    loop_.showMessage("Set Finish");
}

void TForm1::Memo5MouseUp() {
    Memo1.setFocus();
}

void TForm1::suiButton3Click() {
    measure::MeasurementRecord record;
    record.machineName = Edit49.text();
    record.date = SettingValues[Slot::Date];
    record.serialNumber = SerialNumber;
    record.customerName = CustomerName;
    record.modelName = ModelName;
    record.rowCount = measure::ClampLineCount(RowCount);
    record.columnCount = measure::ClampLineCount(ColumnCount);
    for (int i = 0; i < record.rowCount; ++i)
        record.rowTexts.push_back(RowRangeEdits[std::size_t(i)]->text());
    for (int j = 0; j < record.columnCount; ++j)
        record.columnTexts.push_back(ColumnRangeEdits[std::size_t(j)]->text());
    measure::saveMeasurementFile(paths_.programDir, record);
}

void TForm1::suiButton4Click() {
    Link.SendFeatureCommand(device::Command::NormalMode, 0);
    if (CheckBox1.checked() && Link.FeatureDevice())
        device::ControllerLink::sendFeatureReport(
            Link.FeatureDevice(), device::featureReport(device::Command::RawCoordinates, 1));
    // Without a screen (no desktop told us one) the canvas keeps its design size.
    const int w = host_.screenWidth > 0 ? host_.screenWidth : drawtest::kDesignWidth;
    const int h = host_.screenHeight > 0 ? host_.screenHeight : drawtest::kDesignHeight;
    Form2.ShowCanvas(w, h);
}

void TForm1::ProcessTestSample() {
    if (!Link.SamplePending() || terminating_) return;
    const auto sample = measure::decodeTestSample(Link.testDataBuffer());
    if (sample)
        Sweep.ProcessTestSample(*sample, {RowCount, ColumnCount}, measure::extremesOf(LineRanges));
    if (Sweep.RedrawPending) {
        measure::RedrawLineRanges(Image1, LineRanges, RowCount, ColumnCount, AdcFullScale);
        Sweep.RedrawPending = false;
    }
    showLineTexts(measure::LineRangeTexts(LineRanges, RowCount, ColumnCount));
    Link.setSamplePending(false);
}

measure::RangeTestResult TForm1::judgeLines() {
    RefineCornerLines();
    const auto test = measure::RunRangeTest(LineRanges, RowCount, ColumnCount);
    applyRangeTest(test);
    return test.result;
}

void TForm1::RefineCornerLines() {
    Sweep.RefineCornerLines(LineRanges.AdcReference, {RowCount, ColumnCount},
                            measure::extremesOf(LineRanges));
    measure::RedrawLineRanges(Image1, LineRanges, RowCount, ColumnCount, AdcFullScale);
    showLineTexts(measure::LineRangeTexts(LineRanges, RowCount, ColumnCount));
}

}  // namespace tc::app
