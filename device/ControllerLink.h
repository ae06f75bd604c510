// The program's side of the controller link: finds the controller's data and command
// interfaces among the listed HID interfaces and holds them, shows the plug state, files
// the input reports for the measurement code and sends the command reports. The main
// window owns one and forwards its HidCtrl handlers and the "DeBug Mode" click to it; the
// link reaches the window only through ControllerView.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "device/CommandReports.h"
#include "device/HidCtrl.h"

namespace tc::device {

// What the link needs of the main window.
class ControllerView {
public:
    virtual ~ControllerView() = default;
    virtual void setLabelDevice(const std::string& text) = 0;
    virtual void setLabelEPROM(const std::string& text) = 0;
    virtual void setLabelChecksum(const std::string& text) = 0;
    virtual void setLabel9(const std::string& text) = 0;   // product identifier
    virtual void setLabel10(const std::string& text) = 0;  // vendor identifier
    virtual void appendLog(const std::string& line) = 0;   // Memo1
    virtual void setLampIndex(int index) = 0;              // 0 none, 1 held, 2 reports
    virtual int lampIndex() const = 0;
    virtual void restartTimer1() = 0;  // disable, enable
    virtual void enableTimer3() = 0;   // enabling an enabled timer does not restart it
    // The item "DeBug Mode" (suiRadioGroup1) shows: 0 "Normal", 1 "Calibration".
    virtual int debugModeItemIndex() const = 0;
    virtual bool applicationTerminating() const = 0;
    virtual bool ReportsBlocked() const = 0;
    // The integer in the hidden edit box Edit52 ("1"); may throw a conversion error.
    virtual int edit52Index() const = 0;
};

// The controller's answer to a table commit (a kind-4 report): what its flag byte says.
struct RomWriteResult {
    std::uint8_t flags = 0;
    bool epromPresent() const { return (flags & FlagEpromPresent) != 0; }
    bool checksumFailed() const { return (flags & FlagChecksumFailed) != 0; }
};
// Takes a result for the ROM write. True when the handling ended at its latch check, so the
// lamp and watchdog step is skipped for this report.
using RomResultHandler = std::function<bool(const RomWriteResult&)>;

// Four slots of 64 bytes, slot = block number; zero at start and never cleared.
class RawBlockStore {
public:
    static constexpr std::size_t SlotSize = 64;
    static constexpr std::size_t SlotCount = 4;

    // Copies `data` (cut to one slot) into the slot of `block`; a slot keeps the bytes
    // beyond a shorter block. False, and nothing stored, when the block has no slot.
    bool store(std::size_t block, std::span<const std::uint8_t> data);
    std::uint8_t byteAt(std::size_t offset) const {
        return offset < bytes_.size() ? bytes_[offset] : 0;
    }
    // Little-endian 16-bit value at a store offset.
    std::uint16_t wordAt(std::size_t offset) const {
        return std::uint16_t(byteAt(offset) | (byteAt(offset + 1) << 8));
    }
    const std::array<std::uint8_t, SlotSize * SlotCount>& bytes() const { return bytes_; }

private:
    std::array<std::uint8_t, SlotSize * SlotCount> bytes_{};
};

using TestDataBuffer = std::array<std::uint8_t, 64>;

class ControllerLink {
public:
    ControllerLink(HidCtrl& ctrl, ControllerView& view);
    // Detaches the handlers it connected; held interfaces stay with the controller.
    ~ControllerLink();
    ControllerLink(const ControllerLink&) = delete;
    ControllerLink& operator=(const ControllerLink&) = delete;

    // Points HidCtrl's four events straight at this link. A window that has handlers of
    // its own wires them instead and calls the Hid* methods below from them.
    void connectHandlers();

    HidDevice* DataDevice() const { return dataDevice_; }
    HidDevice* FeatureDevice() const { return featureDevice_; }

    bool IsFeatureInterface(HidDevice* device);
    bool IsDataInterface(HidDevice* device);

    bool HidCtrlEnumerate(HidDevice& device, int index);  // always true
    void HidCtrlDeviceChange();
    // Also called by the station's "HIDUnplug" with DataDevice().
    void HidCtrlDeviceUnplug(HidDevice* device);
    void HidCtrlDeviceData(HidDevice& device, std::uint8_t reportId,
                           std::span<const std::uint8_t> data);

    bool SendOutputReport();
    bool SendFeatureCommand(Command command, std::uint8_t argument);
    // A feature report to a given interface (the station's TestMode through the data
    // interface, the ROM write's table entries). False when `device` is null.
    static bool sendFeatureReport(HidDevice* device, const CommandReport& report);
    // The "DeBug Mode" radio group's click.
    void suiRadioGroup1Click();

    // Where kind-4 reports go; without a handler they only update the labels and the lamp.
    void setRomResultHandler(RomResultHandler handler) { romResultHandler_ = std::move(handler); }

    const RawBlockStore& rawBlockStore() const { return rawBlocks_; }
    const TestDataBuffer& testDataBuffer() const { return testData_; }
    bool SamplePending() const { return samplePending_; }
    void setSamplePending(bool pending) { samplePending_ = pending; }

private:
    HidCtrl& ctrl_;
    ControllerView& view_;
    bool connected_ = false;
    HidDevice* dataDevice_ = nullptr;
    HidDevice* featureDevice_ = nullptr;
    RawBlockStore rawBlocks_;
    TestDataBuffer testData_{};
    bool samplePending_ = false;
    RomResultHandler romResultHandler_;
};

}  // namespace tc::device
