#include "device/HidCtrl.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <exception>
#include <set>
#include <stdexcept>

namespace tc::device {

using platform::hid::HidConnection;
using platform::hid::HidInterfaceInfo;
using platform::hid::ReadResult;

namespace {
std::atomic<int> controllers{0};
}

HidDevice::HidDevice(HidCtrl& ctrl, HidInterfaceInfo info, bool readWrite, std::uint64_t serial)
    : ctrl_(ctrl), info_(std::move(info)), readWrite_(readWrite), serial_(serial) {}

HidDevice::~HidDevice() {
    stopReading();
}

bool HidDevice::ensureOpen() {
    if (!conn_) conn_ = ctrl_.backend_.open(info_);
    return conn_ != nullptr;
}

bool HidDevice::usable() {
    // The capabilities need the read/write handle, as on the platform the contract comes
    // from; an identification-only interface therefore matches nothing.
    return IsAccessible() && readWrite_ && ensureOpen() && conn_->readWrite();
}

bool HidDevice::isReading() const {
    return read_ == ReadState::Pushed || (reader_ && reader_->running());
}

void HidDevice::closeHandles() {
    // The reader reads through the handle until it has been stopped.
    if (read_ != ReadState::Off) return;
    conn_.reset();
}

HidCaps HidDevice::GetCaps() {
    ctrl_.loop_.assertMainThread("HidDevice::GetCaps");
    if (!usable()) return {};
    return info_.caps;
}

std::vector<HidCaps> HidDevice::getCollectionCaps() {
    ctrl_.loop_.assertMainThread("HidDevice::getCollectionCaps");
    if (!usable()) return {};
    if (info_.collections.empty()) return {info_.caps};
    return info_.collections;
}

bool HidDevice::sent(platform::hid::SendResult result) {
    lastError_ = result.error;
    return result.ok();
}

bool HidDevice::SetFeature(std::span<const std::uint8_t> report) {
    ctrl_.loop_.assertMainThread("HidDevice::SetFeature");
    if (!usable()) return sent({pluggedIn_ ? EBADF : ENODEV});
    return sent(conn_->setFeature(report));
}

bool HidDevice::WriteFile(std::span<const std::uint8_t> report, std::size_t& written) {
    ctrl_.loop_.assertMainThread("HidDevice::WriteFile");
    written = 0;
    if (!usable()) return sent({pluggedIn_ ? EBADF : ENODEV});
    if (!sent(conn_->write(report))) return false;
    written = report.size();
    return true;
}

void HidDevice::startReading(platform::Millis delay) {
    if (read_ == ReadState::Pushed || stopping()) return;
    if (read_ == ReadState::Threaded) {
        if (reader_->running()) return;  // reading already
        // A reader that has left its loop is joined before another one starts.
        stopReading();
        if (read_ != ReadState::Off || !checkedOut_) return;
    }
    if (!readWrite_ || !ctrl_.onData_ || !pluggedIn_ || !ensureOpen() || !conn_->readWrite())
        return;
    HidCtrl* ctrl = &ctrl_;
    if (conn_->pushesReports()) {
        read_ = ReadState::Pushed;
        conn_->startReports(
            [this, ctrl](std::span<const std::uint8_t> report) { ctrl->deliver(*this, report); });
        return;
    }
    const std::size_t length = info_.caps.inputReportByteLength;
    if (length == 0) return;  // the interface declares no input report
    reader_ = std::make_unique<HidReadThread>(ctrl_.loop_, ctrl_.scope_, *conn_);
    read_ = ReadState::Threaded;
    // The node has gone when the reader says so: a scan tells the owner, or, when it finds
    // the node still there, starts another reader.
    reader_->start(
        length, ctrl_.DevThreadSleepTime, delay,
        [this, ctrl](std::span<const std::uint8_t> report) { ctrl->deliver(*this, report); },
        [ctrl] { ctrl->requestScan(); });
}

void HidDevice::stopReading() {
    if (read_ == ReadState::Pushed) {
        read_ = ReadState::Off;
        if (conn_) conn_->stopReports();
        return;
    }
    if (read_ != ReadState::Threaded) return;  // not read, or being stopped already
    reader_->stop();
    if (ctrl_.delivering(*this)) {
        // Called from inside this device's own hand-over: its reader is waiting for us to
        // return, so it cannot be joined here. It is joined once the hand-over is over.
        read_ = ReadState::Off;
        ctrl_.retire({std::move(conn_), std::move(reader_)});
        return;
    }
    read_ = ReadState::Stopping;
    reader_->join();
    const bool checkedIn = read_ == ReadState::StoppingCheckedIn;
    reader_.reset();
    // A cancelled connection answers every later read with Cancelled: the next reader
    // opens the interface afresh.
    conn_.reset();
    read_ = ReadState::Off;
    if (checkedIn) checkedOut_ = false;  // its owner let it go while the reader was joined
}

bool HidDevice::readerSawUnplug() const {
    return reader_ && reader_->state() == HidReadThread::State::Unplugged;
}

HidCtrl::HidCtrl(platform::EventLoop& loop, platform::hid::HidBackend& backend)
    : loop_(loop), backend_(backend) {
    loop_.assertMainThread("HidCtrl::HidCtrl");
    if (controllers.fetch_add(1) != 0) {
        controllers.fetch_sub(1);
        throw std::runtime_error("Only one TJvHidDeviceController allowed per program");
    }
    // Hot-plug watching starts before the first scan so that nothing plugged in between
    // is missed. The destructor takes the handler back.
    backend_.setChangeHandler([this] { requestScan(); });
    requestScan();
}

HidCtrl::~HidCtrl() {
    loop_.assertMainThread("HidCtrl::~HidCtrl");
    closing_ = true;  // hand-overs still queued are dropped from here on
    for (std::size_t i = devices_.size(); i-- > 0;) {
        if (i < devices_.size() && devices_[i]->checkedOut_ && devices_[i]->pluggedIn_)
            doUnplug(*devices_[i]);
    }
    for (auto& d : devices_) d->stopReading();
    devices_.clear();
    reapRetired();
    backend_.setChangeHandler({});
    scope_.close();
    controllers.fetch_sub(1);
}

void HidCtrl::setOnDeviceData(DataHandler h) {
    loop_.assertMainThread("HidCtrl::setOnDeviceData");
    onData_ = std::move(h);
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        HidDevice& d = *devices_[i];
        if (!d.checkedOut_) continue;
        if (onData_)
            d.startReading();
        else
            d.stopReading();
    }
}

HidDevice* HidCtrl::Device(int index) const {
    if (index < 0 || std::size_t(index) >= devices_.size()) return nullptr;
    return devices_[std::size_t(index)].get();
}

HidDevice* HidCtrl::findSerial(std::uint64_t serial) const {
    for (auto& d : devices_)
        if (d->serial_ == serial) return d.get();
    return nullptr;
}

void HidCtrl::erase(HidDevice* d) {
    auto it =
        std::find_if(devices_.begin(), devices_.end(), [d](const auto& p) { return p.get() == d; });
    if (it != devices_.end()) devices_.erase(it);
}

void HidCtrl::requestScan() {
    if (scanPosted_ || closing_) return;
    scanPosted_ = true;
    scope_.post([this] {
        scanPosted_ = false;
        DeviceChange();
    });
}

void HidCtrl::DeviceChange() {
    loop_.assertMainThread("HidCtrl::DeviceChange");
    // A scan can be asked for from inside one (a check-in keeps the queue running while
    // it waits for a reader); it then runs again after the current one instead of nesting.
    if (scanning_) {
        rescan_ = true;
        return;
    }
    scanning_ = true;
    do {
        rescan_ = false;
        scanOnce();
    } while (rescan_ && !closing_);
    scanning_ = false;
}

void HidCtrl::scanOnce() {
    // 1 and 2: what is present, each opened once to learn its access, then closed again.
    std::vector<std::unique_ptr<HidDevice>> fresh;
    for (auto& info : backend_.enumerate()) {
        auto conn = backend_.open(info);
        if (!conn) continue;  // cannot be opened at all: left out
        const bool rw = conn->readWrite();
        fresh.push_back(
            std::unique_ptr<HidDevice>(new HidDevice(*this, std::move(info), rw, nextSerial_++)));
    }
    std::set<std::string> present;
    for (auto& f : fresh) present.insert(f->deviceID());

    // 3: from the last listed to the first, unplug what has gone. Handlers may check
    // devices in meanwhile (and so destroy them), so devices are found again by serial.
    bool changed = false;
    std::vector<std::uint64_t> gone;
    for (std::size_t i = devices_.size(); i-- > 0;) {
        const HidDevice& d = *devices_[i];
        if (!d.pluggedIn_ || !present.count(d.deviceID())) gone.push_back(d.serial_);
    }
    for (std::uint64_t serial : gone) {
        HidDevice* d = findSerial(serial);
        if (!d) continue;
        if (d->pluggedIn_) {
            doUnplug(*d);
            changed = true;
        }
        d = findSerial(serial);
        if (d && !d->checkedOut_) erase(d);
    }

    // 4: append what is new.
    for (auto& f : fresh) {
        const bool known = std::any_of(devices_.begin(), devices_.end(), [&](const auto& d) {
            return d->pluggedIn_ && d->deviceID() == f->deviceID();
        });
        if (known) continue;
        devices_.push_back(std::move(f));
        changed = true;
    }

    // A reader that stopped on what looked like an unplug, on an interface this scan still
    // finds, reads again; without a hot-plug source nothing else would ever restart it.
    std::vector<std::uint64_t> revive;
    for (auto& d : devices_)
        if (d->pluggedIn_ && d->checkedOut_ && d->readerSawUnplug()) revive.push_back(d->serial_);
    for (std::uint64_t serial : revive) restartReader(serial);

    // 5
    if (changed && onChange_ && !closing_) onChange_();
}

void HidCtrl::restartReader(std::uint64_t serial) {
    HidDevice* d = findSerial(serial);
    if (!d || d->stopping() || closing_) return;
    d->stopReading();
    if (!(d = findSerial(serial))) return;
    // After a slice, so an interface that keeps failing costs a scan per slice, not a spin.
    if (d->pluggedIn_ && d->checkedOut_)
        d->startReading(DevThreadSleepTime);
    else
        d->closeHandles();
}

void HidCtrl::doUnplug(HidDevice& d) {
    const std::uint64_t serial = d.serial_;
    d.pluggedIn_ = false;
    d.stopReading();
    if (!findSerial(serial)) return;
    d.closeHandles();
    if (d.unplugNotified_) return;
    d.unplugNotified_ = true;
    if (onUnplug_) onUnplug_(d);
}

void HidCtrl::Enumerate() {
    loop_.assertMainThread("HidCtrl::Enumerate");
    for (std::size_t i = 0; i < devices_.size(); ++i) {
        HidDevice* d = devices_[i].get();
        if (!d->pluggedIn_) continue;
        const std::uint64_t serial = d->serial_;
        d->enumerating_ = true;
        bool goOn = true;
        try {
            goOn = onEnumerate_ ? onEnumerate_(*d, int(i)) : true;
        } catch (...) {
            if ((d = findSerial(serial))) d->enumerating_ = false;
            throw;
        }
        d = findSerial(serial);
        if (d) {
            d->enumerating_ = false;
            if (!d->checkedOut_) d->closeHandles();
        }
        if (!goOn) break;
    }
}

bool HidCtrl::CheckOutByIndex(HidDevice*& device, int index) {
    loop_.assertMainThread("HidCtrl::CheckOutByIndex");
    device = nullptr;
    HidDevice* d = Device(index);
    if (!d || d->checkedOut_) return false;
    d->checkedOut_ = true;
    device = d;
    d->startReading();
    return true;
}

void HidCtrl::CheckIn(HidDevice*& device) {
    loop_.assertMainThread("HidCtrl::CheckIn");
    HidDevice* d = device;
    if (!d) return;
    if (d->stopping()) {
        // Asked from a hand-over that runs while this device's reader is being stopped:
        // the operation that stops it finishes the check-in.
        d->read_ = HidDevice::ReadState::StoppingCheckedIn;
        device = nullptr;
        return;
    }
    const std::uint64_t serial = d->serial_;
    // The owner's pointer stays set while the reader is joined: a report handed over
    // meanwhile still reaches it.
    d->stopReading();
    device = nullptr;
    d = findSerial(serial);
    if (!d) return;
    d->closeHandles();
    if (d->pluggedIn_)
        d->checkedOut_ = false;
    else
        erase(d);
}

void HidCtrl::deliver(HidDevice& d, std::span<const std::uint8_t> report) {
    if (report.empty() || closing_ || !onData_) return;
    delivering_.push_back(d.serial_);
    try {
        onData_(d, report[0], report.subspan(1));
    } catch (const std::exception& e) {
        // Reading goes on; the handler's failure is written down, not swallowed.
        const std::string text = std::string("Error in HID data handler: ") + e.what();
        if (errorLog_)
            errorLog_(text);
        else
            loop_.reportError(text);
    } catch (...) {
        const std::string text = "Error in HID data handler";
        if (errorLog_)
            errorLog_(text);
        else
            loop_.reportError(text);
    }
    delivering_.pop_back();
}

bool HidCtrl::delivering(const HidDevice& d) const {
    return std::find(delivering_.begin(), delivering_.end(), d.serial_) != delivering_.end();
}

void HidCtrl::retire(Retired r) {
    retired_.push_back(std::move(r));
    scope_.post([this] { reapRetired(); });
}

void HidCtrl::reapRetired() {
    // A join runs queued work, which may retire another reader meanwhile.
    while (!retired_.empty()) {
        Retired r = std::move(retired_.back());
        retired_.pop_back();
        r.reader->join();
    }
}

}  // namespace tc::device
