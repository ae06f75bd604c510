#include "device/ControllerLink.h"

#include <algorithm>

#include "device/ControllerIds.h"
#include "platform/Convert.h"

namespace tc::device {

bool RawBlockStore::store(std::size_t block, std::span<const std::uint8_t> data) {
    if (block >= SlotCount) return false;
    const std::size_t n = std::min(data.size(), SlotSize);
    std::copy_n(data.begin(), n, bytes_.begin() + block * SlotSize);
    return true;
}

ControllerLink::ControllerLink(HidCtrl& ctrl, ControllerView& view) : ctrl_(ctrl), view_(view) {}

ControllerLink::~ControllerLink() {
    if (!connected_) return;
    ctrl_.setOnEnumerate({});
    ctrl_.setOnDeviceChange({});
    ctrl_.setOnDeviceUnplug({});
    ctrl_.setOnDeviceData({});
}

void ControllerLink::connectHandlers() {
    connected_ = true;
    ctrl_.setOnEnumerate([this](HidDevice& d, int i) { return HidCtrlEnumerate(d, i); });
    ctrl_.setOnDeviceChange([this] { HidCtrlDeviceChange(); });
    ctrl_.setOnDeviceUnplug([this](HidDevice& d) { HidCtrlDeviceUnplug(&d); });
    ctrl_.setOnDeviceData([this](HidDevice& d, std::uint8_t id, std::span<const std::uint8_t> b) {
        HidCtrlDeviceData(d, id, b);
    });
}

bool ControllerLink::IsFeatureInterface(HidDevice* device) {
    if (!device) return false;
    if (featureDevice_) return device == featureDevice_;
    auto qualifies = [&] {
        // Any top-level collection of the interface will do: one may declare a mouse
        // before the touch screen.
        const auto collections = device->getCollectionCaps();
        if (std::none_of(collections.begin(), collections.end(), [](const HidCaps& c) {
                return c.usage == CommandUsage && c.usagePage == CommandUsagePage;
            }))
            return false;
        // Identification puts the controller into test mode; whether it took the report
        // does not matter here.
        sendFeatureReport(device, featureReport(Command::TestMode, 0));
        return true;
    };
    const ControllerIds& ids = controllerIds();
    return (ids.inCommandTable(device->VendorID(), device->ProductID()) ||
            ids.inFamily(device->VendorID(), device->ProductID())) &&
           qualifies();
}

bool ControllerLink::IsDataInterface(HidDevice* device) {
    if (!device) return false;
    if (dataDevice_) return device == dataDevice_;
    auto qualifies = [&] {
        // The length of one collection's reports, not the longest of the interface.
        const auto collections = device->getCollectionCaps();
        return std::any_of(collections.begin(), collections.end(), [](const HidCaps& c) {
            return c.inputReportByteLength == DataInputReportLength;
        });
    };
    const ControllerIds& ids = controllerIds();
    return (ids.inDataTable(device->VendorID(), device->ProductID()) ||
            ids.inFamily(device->VendorID(), device->ProductID())) &&
           qualifies();
}

bool ControllerLink::HidCtrlEnumerate(HidDevice& device, int index) {
    if (IsFeatureInterface(&device) && !featureDevice_)
        ctrl_.CheckOutByIndex(featureDevice_, index);
    if (!IsDataInterface(&device)) return true;
    if (!dataDevice_) ctrl_.CheckOutByIndex(dataDevice_, index);
    if (!dataDevice_ || !dataDevice_->PluggedIn()) return true;
    view_.setLampIndex(1);
    view_.setLabelDevice("Device: PlugIn");
    SendOutputReport();
    view_.setLabel9(platform::intToHex(dataDevice_->ProductID(), 4));
    view_.setLabel10(platform::intToHex(dataDevice_->VendorID(), 4));
    return true;
}

void ControllerLink::HidCtrlDeviceChange() {
    if (!view_.applicationTerminating()) ctrl_.Enumerate();
}

void ControllerLink::HidCtrlDeviceUnplug(HidDevice* device) {
    if (view_.applicationTerminating()) return;
    if (!dataDevice_) {
        // A command interface held without a data interface would otherwise stay held
        // after it has gone, and the returning controller would never be found again.
        if (featureDevice_ && (device == featureDevice_ || !featureDevice_->PluggedIn()))
            ctrl_.CheckIn(featureDevice_);
        return;
    }
    ctrl_.CheckIn(dataDevice_);
    ctrl_.CheckIn(featureDevice_);
    view_.setLampIndex(0);
    view_.appendLog("Device: PlugOut");
    view_.setLabelDevice("Device: PlugOut");
    view_.setLabelEPROM("EPROM: None");
    view_.setLabelChecksum("Checksum: Fail");
}

void ControllerLink::HidCtrlDeviceData(HidDevice& device, std::uint8_t,
                                       std::span<const std::uint8_t> data) {
    if (view_.applicationTerminating() || !dataDevice_ || !dataDevice_->PluggedIn() ||
        view_.ReportsBlocked())
        return;
    // Only the data interface speaks the controller's report layout. The command interface
    // is a touch screen too, and its ordinary touch reports would be read as flags, blocks
    // and samples: a tip-switch byte of 1 says "no EPROM", a contact byte of 5 a raw block.
    if (&device != dataDevice_) return;
    // A report without data bytes has no flag byte to read.
    if (data.empty()) return;
    const std::uint8_t flags = data[0];
    view_.setLabelEPROM(flags & FlagEpromPresent ? "EPROM: Find" : "EPROM: None");
    view_.setLabelChecksum(flags & FlagChecksumFailed ? "Checksum: Fail" : "Checksum: Pass");
    switch (ReportKind(flags & KindMask)) {
        case ReportKind::RawBlock:
            // A block without a number, or with one that has no slot, is dropped.
            if (data.size() > RawBlockNumberByte &&
                rawBlocks_.store(data[RawBlockNumberByte], data))
                view_.enableTimer3();
            break;
        case ReportKind::RomResult:
            if (romResultHandler_ && romResultHandler_(RomWriteResult{flags})) return;
            break;
        case ReportKind::TestSample: {
            std::copy_n(data.begin(), std::min(data.size(), testData_.size()), testData_.begin());
            const int v = view_.edit52Index();
            // An index outside the buffer names no marker byte: no sample.
            samplePending_ =
                v >= 0 && std::size_t(v) < testData_.size() && testData_[std::size_t(v)] != 0;
            break;
        }
        default:
            break;
    }
    if (view_.lampIndex() != 2) view_.setLampIndex(2);
    view_.restartTimer1();
}

bool ControllerLink::SendOutputReport() {
    if (!dataDevice_ || !dataDevice_->PluggedIn()) return false;
    const CommandReport report = outputReport();
    std::size_t written = 0;
    return dataDevice_->WriteFile(report, written);
}

bool ControllerLink::sendFeatureReport(HidDevice* device, const CommandReport& report) {
    return device && device->SetFeature(report);
}

bool ControllerLink::SendFeatureCommand(Command command, std::uint8_t argument) {
    return sendFeatureReport(featureDevice_, featureReport(command, argument));
}

void ControllerLink::suiRadioGroup1Click() {
    if (!featureDevice_) return;
    if (view_.debugModeItemIndex() == 0)
        SendFeatureCommand(Command::NormalMode, 0);
    else
        SendFeatureCommand(Command::TestMode, 0);
}

}  // namespace tc::device
