#include "device/HidCtrl.h"

#include <algorithm>
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

struct HidDevice::Reader {
    std::thread thread;
    std::atomic<bool> stop{false};
    std::atomic<bool> ended{false};      // it has left its loop, for whatever reason
    std::atomic<bool> unplugged{false};  // it left because the interface seemed gone
    std::mutex m;
    std::condition_variable cv;
    bool finished = false;  // under m
    bool handover = false;  // under m: a hand-over is (about to be) queued
};

HidDevice::HidDevice(HidCtrl& ctrl, HidInterfaceInfo info, bool readWrite, std::uint64_t serial)
    : ctrl_(ctrl), info_(std::move(info)), readWrite_(readWrite), serial_(serial) {}

HidDevice::~HidDevice() {
    stopReading();
}

bool HidDevice::ensureOpen() {
    if (!conn_) conn_ = ctrl_.backend_.open(info_);
    return conn_ != nullptr;
}

bool HidDevice::IsReading() const {
    return (reader_ && !reader_->ended) || pushing_;
}

void HidDevice::closeHandles() {
    if (reader_ || pushing_) return;  // the reader owns the handle until it has been stopped
    conn_.reset();
}

HidCaps HidDevice::GetCaps() {
    // The capabilities need the read/write handle, as on the platform the contract comes
    // from; an identification-only interface therefore matches nothing.
    if (!IsAccessible() || !readWrite_ || !ensureOpen() || !conn_->readWrite()) return {};
    return info_.caps;
}

std::vector<HidCaps> HidDevice::GetCollectionCaps() {
    if (!IsAccessible() || !readWrite_ || !ensureOpen() || !conn_->readWrite()) return {};
    if (info_.collections.empty()) return {info_.caps};
    return info_.collections;
}

bool HidDevice::SetFeature(std::span<const std::uint8_t> report) {
    if (!IsAccessible() || !readWrite_ || !ensureOpen() || !conn_->readWrite()) return false;
    return conn_->setFeature(report);
}

bool HidDevice::WriteFile(std::span<const std::uint8_t> report, std::size_t& written) {
    written = 0;
    if (!IsAccessible() || !readWrite_ || !ensureOpen() || !conn_->readWrite()) return false;
    if (!conn_->write(report)) return false;
    written = report.size();
    return true;
}

void HidDevice::startReading(platform::Millis delay) {
    if (pushing_ || stopping_) return;
    if (reader_) {
        if (!reader_->ended) return;  // reading already
        // A reader that has left its loop is joined before another one starts.
        stopReading();
        if (reader_ || !checkedOut_ || checkInRequested_) return;
    }
    if (!readWrite_ || !ctrl_.onData_ || !pluggedIn_ || !ensureOpen() || !conn_->readWrite())
        return;
    if (conn_->pushesReports()) {
        pushing_ = true;
        std::weak_ptr<char> alive = ctrl_.alive_;
        conn_->startReports([this, alive](std::span<const std::uint8_t> report) {
            if (alive.lock()) ctrl_.deliver(*this, report);
        });
        return;
    }
    const std::size_t length = info_.caps.inputReportByteLength;
    if (length == 0) return;  // the interface declares no input report
    reader_ = std::make_unique<Reader>();
    Reader& r = *reader_;
    r.thread = std::thread([this, &r, length, delay] { readLoop(r, length, delay); });
}

void HidDevice::readLoop(Reader& r, std::size_t length, platform::Millis delay) {
    HidConnection& conn = *conn_;
    platform::EventLoop& loop = ctrl_.loop_;
    std::weak_ptr<char> alive = ctrl_.alive_;
    HidCtrl* ctrl = &ctrl_;
    std::vector<std::uint8_t> buffer(length);
    const platform::Millis slice = ctrl_.DevThreadSleepTime;
    if (delay.count() > 0) {
        std::unique_lock l(r.m);
        r.cv.wait_for(l, delay, [&] { return r.stop.load(); });
    }
    while (!r.stop) {
        std::fill(buffer.begin(), buffer.end(), 0);
        const ReadResult res = conn.read(buffer, slice);
        // A report that has been read is handed over even when a stop came meanwhile:
        // the check-in runs it while it waits, so nothing read is lost.
        if (res.status == ReadResult::Status::Data) {
            if (res.size == 0) continue;  // a read of nothing delivers nothing
            {
                std::lock_guard l(r.m);
                r.handover = true;
            }
            r.cv.notify_all();
            const std::span<const std::uint8_t> report(buffer.data(), res.size);
            // The reader waits until the handler has returned: reports reach the main
            // thread in arrival order, one at a time, and the buffer stays valid.
            loop.invokeAndWait([this, ctrl, alive, report] {
                if (alive.lock()) ctrl->deliver(*this, report);
            });
        } else if (res.status == ReadResult::Status::Timeout) {
            continue;
        } else if (res.status == ReadResult::Status::Unplugged) {
            // The node has gone: a scan tells the owner, or, when it finds the node still
            // there, starts another reader. The posted task checks that the controller
            // still exists when it runs.
            r.unplugged = true;
            loop.post([ctrl, alive] {
                if (alive.lock()) ctrl->requestScan();
            });
            break;
        } else if (res.status == ReadResult::Status::Cancelled) {
            break;
        } else {
            // A read that cannot be issued: nobody listens for the error; try again after
            // a slice rather than spin.
            std::unique_lock l(r.m);
            r.cv.wait_for(l, slice, [&] { return r.stop.load(); });
        }
    }
    r.ended = true;
    {
        std::lock_guard l(r.m);
        r.finished = true;
    }
    r.cv.notify_all();
}

void HidDevice::stopReading() {
    if (pushing_) {
        pushing_ = false;
        if (conn_) conn_->stopReports();
        return;
    }
    if (!reader_ || stopping_) return;
    Reader& r = *reader_;
    {
        std::lock_guard l(r.m);
        r.stop = true;
    }
    r.cv.notify_all();
    if (conn_) conn_->cancelRead();
    const bool ownHandOver = std::find(ctrl_.delivering_.begin(), ctrl_.delivering_.end(),
                                       serial_) != ctrl_.delivering_.end();
    if (ownHandOver) {
        // Called from inside this device's own hand-over: its reader is waiting for us to
        // return, so it cannot be joined here. It is joined once the hand-over is over.
        ctrl_.retired_.emplace_back(std::move(reader_), std::move(conn_));
        std::weak_ptr<char> alive = ctrl_.alive_;
        HidCtrl* ctrl = &ctrl_;
        ctrl_.loop_.post([ctrl, alive] {
            if (alive.lock()) ctrl->reapRetired();
        });
        return;
    }
    // Keep running the hand-overs the reader queues while we wait for it, or a reader
    // blocked in one and a main thread waiting for the reader would wait for each other.
    stopping_ = true;
    for (;;) {
        ctrl_.loop_.runQueuedWork();
        std::unique_lock l(r.m);
        if (r.finished) break;
        r.cv.wait_for(l, platform::Millis(2), [&] { return r.finished || r.handover; });
        r.handover = false;
        if (r.finished) break;
    }
    r.thread.join();
    reader_.reset();
    // A cancelled connection answers every later read with Cancelled: the next reader
    // opens the interface afresh.
    conn_.reset();
    stopping_ = false;
}

bool HidDevice::readerSawUnplug() const {
    return reader_ && reader_->unplugged;
}

HidCtrl::HidCtrl(platform::EventLoop& loop, platform::hid::HidBackend& backend)
    : loop_(loop), backend_(backend) {
    if (controllers.fetch_add(1) != 0) {
        controllers.fetch_sub(1);
        throw std::runtime_error("Only one TJvHidDeviceController allowed per program");
    }
    std::weak_ptr<char> alive = alive_;
    // Hot-plug watching starts before the first scan so that nothing plugged in between
    // is missed.
    backend_.setChangeHandler([this, alive] {
        if (alive.lock()) requestScan();
    });
    requestScan();
}

HidCtrl::~HidCtrl() {
    closing_ = true;  // hand-overs still queued are dropped from here on
    for (std::size_t i = devices_.size(); i-- > 0;) {
        if (i < devices_.size() && devices_[i]->checkedOut_ && devices_[i]->pluggedIn_)
            doUnplug(*devices_[i]);
    }
    for (auto& d : devices_) d->stopReading();
    devices_.clear();
    reapRetired();
    backend_.setChangeHandler({});
    alive_.reset();
    controllers.fetch_sub(1);
}

void HidCtrl::setOnDeviceData(DataHandler h) {
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
    std::weak_ptr<char> alive = alive_;
    loop_.post([this, alive] {
        if (!alive.lock()) return;
        scanPosted_ = false;
        DeviceChange();
    });
}

void HidCtrl::DeviceChange() {
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
    for (auto& f : fresh) present.insert(f->DeviceID());

    // 3: from the last listed to the first, unplug what has gone. Handlers may check
    // devices in meanwhile (and so destroy them), so devices are found again by serial.
    bool changed = false;
    std::vector<std::uint64_t> gone;
    for (std::size_t i = devices_.size(); i-- > 0;) {
        const HidDevice& d = *devices_[i];
        if (!d.pluggedIn_ || !present.count(d.DeviceID())) gone.push_back(d.serial_);
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
            return d->pluggedIn_ && d->DeviceID() == f->DeviceID();
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
    if (!d || d->stopping_ || closing_) return;
    d->stopReading();
    if (!(d = findSerial(serial))) return;
    if (d->checkInRequested_) {  // its owner let it go while the reader was joined
        d->checkInRequested_ = false;
        d->checkedOut_ = false;
        d->closeHandles();
        return;
    }
    // After a slice, so an interface that keeps failing costs a scan per slice, not a spin.
    if (d->pluggedIn_ && d->checkedOut_) d->startReading(DevThreadSleepTime);
}

void HidCtrl::doUnplug(HidDevice& d) {
    const std::uint64_t serial = d.serial_;
    d.pluggedIn_ = false;
    d.stopReading();
    if (!findSerial(serial)) return;
    if (d.checkInRequested_) {  // its owner let it go while the reader was stopping
        d.checkInRequested_ = false;
        d.checkedOut_ = false;
    }
    d.closeHandles();
    if (d.unplugNotified_) return;
    d.unplugNotified_ = true;
    if (onUnplug_) onUnplug_(d);
}

void HidCtrl::Enumerate() {
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
    device = nullptr;
    HidDevice* d = Device(index);
    if (!d || d->checkedOut_) return false;
    d->checkedOut_ = true;
    device = d;
    d->startReading();
    return true;
}

void HidCtrl::CheckIn(HidDevice*& device) {
    HidDevice* d = device;
    if (!d) return;
    if (d->checkingIn_ || d->stopping_) {
        // Asked from a hand-over that runs while this device's reader is being stopped:
        // the operation that stops it finishes the check-in.
        d->checkInRequested_ = true;
        device = nullptr;
        return;
    }
    d->checkingIn_ = true;
    const std::uint64_t serial = d->serial_;
    d->stopReading();
    d = findSerial(serial);
    if (d) {
        d->checkingIn_ = false;
        d->checkInRequested_ = false;
        d->closeHandles();
        if (d->pluggedIn_)
            d->checkedOut_ = false;
        else
            erase(d);
    }
    device = nullptr;
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

void HidCtrl::reapRetired() {
    for (auto& entry : retired_) {
        auto& reader = entry.first;
        auto& conn = entry.second;
        if (conn) conn->cancelRead();
        for (;;) {
            loop_.runQueuedWork();
            std::unique_lock l(reader->m);
            if (reader->finished) break;
            reader->cv.wait_for(l, platform::Millis(2), [&] { return reader->finished; });
            if (reader->finished) break;
        }
        reader->thread.join();
    }
    retired_.clear();
}

}  // namespace tc::device
