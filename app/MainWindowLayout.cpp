#include "app/MainWindowLayout.h"

#include <vector>

namespace tc::app {

namespace {

using namespace tc::ui;

struct Entry {
    Kind kind;
    const char* name;
    Rect rect;
    const char* text;
    const char* parent = "";
};

// Left, top, width, height in client pixels. Controls inside a group box are placed
// relative to it. The skin frame's title strip takes the top 26 pixels.
const std::vector<Entry> kControls = {
    {Kind::Label, "suiForm1", {0, 0, kClientWidth, 26}, kSkinTitle},
    {Kind::Image, "Image1", {8, 31, 537, 466}, ""},
    {Kind::Memo, "Memo5", {88, 104, 377, 321}, ""},
    {Kind::Memo, "Memo6", {88, 272, 377, 153}, ""},
    {Kind::Memo, "Memo1", {9, 504, 512, 105}, ""},
    {Kind::Label, "Label6", {560, 552, 152, 56}, "Label6"},
    {Kind::RadioGroup, "suiRadioGroup1", {928, 40, 137, 64}, "DeBug Mode"},
    {Kind::GroupBox, "suiGroupBox1", {928, 108, 137, 110}, "Status"},
    {Kind::Label, "LabelDevice", {8, 18, 125, 16}, "Device: PlugOut", "suiGroupBox1"},
    {Kind::Label, "LabelEPROM", {8, 36, 125, 16}, "EPROM: None", "suiGroupBox1"},
    {Kind::Label, "LabelChecksum", {8, 54, 125, 16}, "Checksum: Fail", "suiGroupBox1"},
    {Kind::Button, "Button4", {928, 224, 137, 25}, "Read"},
    {Kind::Button, "BtWriteROM", {928, 252, 137, 25}, "Update"},
    {Kind::Button, "Button1", {928, 280, 137, 25}, "Clear"},
    {Kind::Button, "suiButton8", {928, 308, 137, 25}, "Default"},
    {Kind::Edit, "suiEdit9", {928, 336, 137, 21}, ""},
    {Kind::Button, "suiButton1", {928, 360, 137, 25}, "set ADC Max"},
    {Kind::Button, "suiButton3", {928, 388, 137, 25}, "save data"},
    {Kind::Button, "suiButton4", {928, 416, 137, 25}, "Draw"},
    {Kind::CheckBox, "CheckBox1", {928, 444, 137, 17}, "RAW"},
    {Kind::Button, "suiButton5", {928, 464, 137, 25}, "BarCode Print"},
    {Kind::Label, "Label7", {928, 500, 56, 16}, "PID : "},
    {Kind::Label, "Label9", {984, 500, 80, 16}, "----"},
    {Kind::Label, "Label8", {928, 520, 56, 16}, "VID : "},
    {Kind::Label, "Label10", {984, 520, 80, 16}, "----"},
    // Hidden value holders.
    {Kind::Memo, "Memo2", {0, 0, 0, 0}, ""},
    {Kind::Edit, "Edit49", {0, 0, 0, 0}, "A"},
    {Kind::Edit, "Edit52", {0, 0, 0, 0}, "1"},
    {Kind::Edit, "Edit48", {0, 0, 0, 0}, "1200"},
};

const Font kFixedsys{"Fixedsys", 13, false, colors::Black};

}  // namespace

void buildMainWindow(Form& form) {
    form.setRect({0, 0, kClientWidth, kClientHeight});
    form.fixedSize = true;
    form.keyPreview = true;
    form.defaultFont = kFixedsys;
    form.setText(kSkinTitle);

    for (const auto& e : kControls) {
        Control* c = nullptr;
        switch (e.kind) {
            case Kind::Label:
                c = &form.add<Label>(e.name, e.rect, e.parent);
                break;
            case Kind::Image:
                c = &form.add<Image>(e.name, e.rect, e.parent);
                break;
            case Kind::Memo:
                c = &form.add<Memo>(e.name, e.rect, e.parent);
                break;
            case Kind::RadioGroup:
                c = &form.add<RadioGroup>(e.name, e.rect, e.parent);
                break;
            case Kind::GroupBox:
                c = &form.add<GroupBox>(e.name, e.rect, e.parent);
                break;
            case Kind::Button:
                c = &form.add<Button>(e.name, e.rect, e.parent);
                break;
            case Kind::Edit:
                c = &form.add<Edit>(e.name, e.rect, e.parent);
                break;
            case Kind::CheckBox:
                c = &form.add<CheckBox>(e.name, e.rect, e.parent);
                break;
            default:
                break;
        }
        c->setText(e.text);
    }

    auto& title = form.get<Label>("suiForm1");
    title.setFont({"Fixedsys", 15, true, colors::White});
    title.setColor({10, 36, 106});

    auto& image = form.get<Image>("Image1");
    image.setColor(colors::White);

    auto& memo1 = form.get<Memo>("Memo1");
    memo1.setScrollBars(ScrollBars::Both);
    memo1.setMaxLines(kLogLineLimit);
    memo1.setMaxBytes(kLogByteLimit);

    auto& memo5 = form.get<Memo>("Memo5");
    memo5.setFont({"Times New Roman", 32, false, colors::Red});
    memo5.setColor(colors::SkyBlue);
    memo5.setScrollBars(ScrollBars::Vertical);
    memo5.add("No Open Short");
    memo5.setVisible(false);

    auto& memo6 = form.get<Memo>("Memo6");
    memo6.setFont({"Times New Roman", 32, false, colors::Black});
    memo6.setColor(colors::MoneyGreen);
    memo6.setScrollBars(ScrollBars::Vertical);
    memo6.setVisible(false);

    form.get<Label>("Label6").setFont({"Arial", 48, true, colors::Red});

    auto& mode = form.get<RadioGroup>("suiRadioGroup1");
    mode.setItems({"Normal", "Calibration"});
    mode.setItemIndex(1);

    for (const char* holder : {"Memo2", "Edit49", "Edit52", "Edit48"}) {
        form.find(holder).setVisible(false);
        form.find(holder).setHolder(true);
    }

    auto& lamp = form.add<TrayLamp>("CoolTrayIcon1");
    lamp.setFallbackPlace({96, 72, 32, 32}, "suiGroupBox1");
}

}  // namespace tc::app
