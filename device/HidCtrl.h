// The HID device controller: the list of present HID interfaces in first-seen order,
// check-out and check-in, one read thread per held readable interface whose reports are
// handed to the main thread one at a time, and hot-plug scans. All events run on the main
// thread. The program has exactly one of these (TJvHidDeviceController in the window
// layout's terms).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/hid/HidBackend.h"

namespace tc::device {

using platform::hid::HidCaps;
class HidCtrl;

// One HID interface (TJvHidDevice). Created by a scan, owned by the controller.
class HidDevice {
public:
    ~HidDevice();
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    std::uint16_t VendorID() const { return info_.vendorId; }
    std::uint16_t ProductID() const { return info_.productId; }
    std::uint16_t Version() const { return info_.version; }
    const std::string& DevicePath() const { return info_.path; }
    const std::string& DeviceID() const { return info_.instanceId; }

    bool PluggedIn() const { return pluggedIn_; }
    bool CheckedOut() const { return checkedOut_; }
    bool Enumerating() const { return enumerating_; }
    bool IsAccessible() const { return pluggedIn_ && (checkedOut_ || enumerating_); }
    // False for an interface that could only be identified: never read or written.
    bool HasReadWriteAccess() const { return readWrite_; }
    // A reader that has ended (the interface seemed gone) no longer counts.
    bool IsReading() const;

    // Zero when the device is not accessible or has no read/write access, so every
    // comparison against it fails.
    HidCaps GetCaps();
    // The capabilities of each top-level collection, as the platform the contract comes
    // from would list them (one device per collection, where hidraw has one node for the
    // whole interface). Empty when GetCaps would be all zero.
    std::vector<HidCaps> GetCollectionCaps();
    // Report ID first, length counting it. False when not accessible or refused.
    bool SetFeature(std::span<const std::uint8_t> report);
    bool WriteFile(std::span<const std::uint8_t> report, std::size_t& written);

private:
    friend class HidCtrl;
    struct Reader;

    HidDevice(HidCtrl& ctrl, platform::hid::HidInterfaceInfo info, bool readWrite,
              std::uint64_t serial);
    bool ensureOpen();
    void closeHandles();
    // `delay`: how long a new reader waits before its first read.
    void startReading(platform::Millis delay = platform::Millis(0));
    void stopReading();
    bool readerSawUnplug() const;
    void readLoop(Reader& r, std::size_t length, platform::Millis delay);

    HidCtrl& ctrl_;
    platform::hid::HidInterfaceInfo info_;
    bool readWrite_;
    std::uint64_t serial_;
    bool pluggedIn_ = true;
    bool checkedOut_ = false;
    bool enumerating_ = false;
    bool unplugNotified_ = false;
    bool checkingIn_ = false;
    bool stopping_ = false;          // its reader is being stopped
    bool checkInRequested_ = false;  // a check-in came while it was
    bool pushing_ = false;
    std::unique_ptr<platform::hid::HidConnection> conn_;
    std::unique_ptr<Reader> reader_;
};

class HidCtrl {
public:
    using EnumerateHandler = std::function<bool(HidDevice& device, int index)>;
    using ChangeHandler = std::function<void()>;
    using DataHandler = std::function<void(HidDevice& device, std::uint8_t reportId,
                                           std::span<const std::uint8_t> data)>;
    using UnplugHandler = std::function<void(HidDevice& device)>;
    using ErrorLog = std::function<void(const std::string& text)>;

    // Throws "Only one TJvHidDeviceController allowed per program" when one exists.
    // Hooks the backend's hot-plug notifications and posts the first scan, so the scan
    // runs once the loop does, after the window has been built.
    HidCtrl(platform::EventLoop& loop, platform::hid::HidBackend& backend);
    // Held devices are unplugged (their owner's handler runs while the program is
    // terminating), every read thread is stopped, all devices are freed. Device pointers
    // the owner still keeps are invalid afterwards.
    ~HidCtrl();
    HidCtrl(const HidCtrl&) = delete;
    HidCtrl& operator=(const HidCtrl&) = delete;

    void setOnEnumerate(EnumerateHandler h) { onEnumerate_ = std::move(h); }
    void setOnDeviceChange(ChangeHandler h) { onChange_ = std::move(h); }
    void setOnDeviceUnplug(UnplugHandler h) { onUnplug_ = std::move(h); }
    // Setting or clearing the data handler starts or stops reading of held devices.
    void setOnDeviceData(DataHandler h);
    // Where an exception that escapes the data handler is written; the read thread goes
    // on reading. Unset: the loop's error sink.
    void setErrorLog(ErrorLog log) { errorLog_ = std::move(log); }

    // A scan (DeviceChange): find what is present now, unplug what has gone, append what
    // is new, then fire OnDeviceChange once if anything changed.
    void DeviceChange();
    void Enumerate();
    bool CheckOutByIndex(HidDevice*& device, int index);
    void CheckIn(HidDevice*& device);

    int Count() const { return int(devices_.size()); }
    HidDevice* Device(int index) const;

    // The read threads' wait slice.
    platform::Millis DevThreadSleepTime{100};

private:
    friend class HidDevice;

    void requestScan();
    void scanOnce();
    void restartReader(std::uint64_t serial);
    void doUnplug(HidDevice& d);
    void deliver(HidDevice& d, std::span<const std::uint8_t> report);
    void reapRetired();
    HidDevice* findSerial(std::uint64_t serial) const;
    void erase(HidDevice* d);

    platform::EventLoop& loop_;
    platform::hid::HidBackend& backend_;
    EnumerateHandler onEnumerate_;
    ChangeHandler onChange_;
    DataHandler onData_;
    UnplugHandler onUnplug_;
    ErrorLog errorLog_;
    std::vector<std::unique_ptr<HidDevice>> devices_;
    std::uint64_t nextSerial_ = 1;
    bool scanning_ = false;
    bool rescan_ = false;
    bool scanPosted_ = false;
    bool closing_ = false;
    // Devices whose report is being handled right now (nested hand-overs are possible).
    std::vector<std::uint64_t> delivering_;
    // Readers told to stop from inside their own hand-over; joined once it has returned.
    std::vector<std::pair<std::unique_ptr<HidDevice::Reader>,
                          std::unique_ptr<platform::hid::HidConnection>>>
        retired_;
    std::shared_ptr<char> alive_ = std::make_shared<char>();
};

}  // namespace tc::device
