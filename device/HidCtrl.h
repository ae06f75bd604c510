// The HID device controller: the list of present HID interfaces in first-seen order,
// check-out and check-in, one read thread per held readable interface whose reports are
// handed to the main thread one at a time, and hot-plug scans. All events run on the main
// thread. The program has exactly one of these (TJvHidDeviceController in the window
// layout's terms).
//
// Threads: every public call of HidCtrl and HidDevice, every event and both destructors
// run on the main thread. The read threads (HidReadThread) only read their connection,
// hand each report to the main thread and wait there until it has been handled, and post a
// scan when their interface seems gone; nothing of the list is touched off the main thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/HidReadThread.h"
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
    std::uint16_t version() const { return info_.version; }
    const std::string& devicePath() const { return info_.path; }
    const std::string& deviceID() const { return info_.instanceId; }

    bool PluggedIn() const { return pluggedIn_; }
    bool CheckedOut() const { return checkedOut_; }
    bool Enumerating() const { return enumerating_; }
    bool IsAccessible() const { return pluggedIn_ && (checkedOut_ || enumerating_); }
    // False for an interface that could only be identified: never read or written.
    bool hasReadWriteAccess() const { return readWrite_; }
    // A reader that has ended (the interface seemed gone) no longer counts.
    bool isReading() const;

    // Zero when the device is not accessible or has no read/write access, so every
    // comparison against it fails.
    HidCaps GetCaps();
    // The capabilities of each top-level collection, as the platform the contract comes
    // from would list them (one device per collection, where hidraw has one node for the
    // whole interface). Empty when GetCaps would be all zero.
    std::vector<HidCaps> getCollectionCaps();
    // Report ID first, length counting it. False when not accessible or refused; then
    // lastError says why.
    bool SetFeature(std::span<const std::uint8_t> report);
    bool WriteFile(std::span<const std::uint8_t> report, std::size_t& written);
    // The errno of the last SetFeature or WriteFile that failed, 0 after one that
    // succeeded: ENODEV once unplugged, EBADF while not accessible for reading and
    // writing, else what the interface answered.
    int lastError() const { return lastError_; }

private:
    friend class HidCtrl;

    // How the device's reports come in. One read thread at most, and none while the
    // backend pushes.
    enum class ReadState : unsigned char {
        Off,
        Pushed,             // the backend pushes them on the main thread
        Threaded,           // a read thread runs, or has left its loop on its own
        Stopping,           // its read thread is being joined; queued work runs meanwhile
        StoppingCheckedIn,  // ... and its owner checked the device in meanwhile
    };

    HidDevice(HidCtrl& ctrl, platform::hid::HidInterfaceInfo info, bool readWrite,
              std::uint64_t serial);
    bool ensureOpen();
    bool usable();  // accessible, read/write and open
    void closeHandles();
    // `delay`: how long a new reader waits before its first read.
    void startReading(platform::Millis delay = platform::Millis(0));
    // Stops reading; a check-in that came while the reader was joined is completed here.
    void stopReading();
    bool stopping() const {
        return read_ == ReadState::Stopping || read_ == ReadState::StoppingCheckedIn;
    }
    bool readerSawUnplug() const;
    bool sent(platform::hid::SendResult result);

    HidCtrl& ctrl_;
    platform::hid::HidInterfaceInfo info_;
    bool readWrite_;
    std::uint64_t serial_;
    bool pluggedIn_ = true;
    bool checkedOut_ = false;
    bool enumerating_ = false;
    bool unplugNotified_ = false;
    ReadState read_ = ReadState::Off;
    int lastError_ = 0;
    std::unique_ptr<platform::hid::HidConnection> conn_;
    std::unique_ptr<HidReadThread> reader_;  // declared after conn_: it reads through it
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

    void setOnEnumerate(EnumerateHandler h) {
        loop_.assertMainThread("HidCtrl::setOnEnumerate");
        onEnumerate_ = std::move(h);
    }
    void setOnDeviceChange(ChangeHandler h) {
        loop_.assertMainThread("HidCtrl::setOnDeviceChange");
        onChange_ = std::move(h);
    }
    void setOnDeviceUnplug(UnplugHandler h) {
        loop_.assertMainThread("HidCtrl::setOnDeviceUnplug");
        onUnplug_ = std::move(h);
    }
    // Setting or clearing the data handler starts or stops reading of held devices.
    void setOnDeviceData(DataHandler h);
    // Where an exception that escapes the data handler is written; the read thread goes
    // on reading. Unset: the loop's error sink.
    void setErrorLog(ErrorLog log) {
        loop_.assertMainThread("HidCtrl::setErrorLog");
        errorLog_ = std::move(log);
    }

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

    // A reader told to stop from inside its own hand-over, with the connection it reads;
    // joined once that hand-over has returned.
    struct Retired {
        std::unique_ptr<platform::hid::HidConnection> connection;
        std::unique_ptr<HidReadThread> reader;  // goes before its connection
    };

    void requestScan();
    void scanOnce();
    void restartReader(std::uint64_t serial);
    void doUnplug(HidDevice& d);
    void deliver(HidDevice& d, std::span<const std::uint8_t> report);
    bool delivering(const HidDevice& d) const;
    void retire(Retired r);
    void reapRetired();
    HidDevice* findSerial(std::uint64_t serial) const;
    void erase(HidDevice* d);

    platform::EventLoop& loop_;
    platform::hid::HidBackend& backend_;
    // Work the read threads and the controller itself queue; closed once every reader has
    // been joined, so nothing queued reaches a destroyed controller.
    platform::PostScope scope_{loop_};
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
    std::vector<Retired> retired_;
};

}  // namespace tc::device
