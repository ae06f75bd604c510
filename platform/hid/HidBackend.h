// The HID access that the device controller layer is built on. A backend lists the HID
// interfaces that are present, opens them, and tells the controller when the set may have
// changed. A connection is either read or pushes its reports: hidraw connections are read
// by the controller's own read threads (blocking reads in short slices); a pushing
// connection delivers its reports on the main thread through the event loop, so that tests
// on virtual time stay deterministic. The virtual controller can do either. Both end in
// the same delivery path of the controller.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace tc::platform::hid {

using Millis = std::chrono::milliseconds;

// What the program reads of an interface's report descriptor. Lengths count the report ID
// byte, whether or not the interface numbers its reports; 0 means "no such report".
struct HidCaps {
    std::uint16_t usage = 0;
    std::uint16_t usagePage = 0;
    std::uint16_t inputReportByteLength = 0;
    std::uint16_t outputReportByteLength = 0;
    std::uint16_t featureReportByteLength = 0;
    bool operator==(const HidCaps&) const = default;
};

// One present HID interface as a scan sees it.
struct HidInterfaceInfo {
    // Stable while the interface stays plugged in; a replug gives a new one.
    std::string instanceId;
    std::string path;  // e.g. /dev/hidraw3
    std::uint16_t bus = 0;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t version = 0;
    // The first top-level collection's usage with the lengths over all of the interface's
    // reports; all zero when the descriptor could not be read or parsed.
    HidCaps caps;
    // Each top-level collection with the lengths of its own reports. A node stands for a
    // whole USB interface, which may declare several (a mouse beside a touch screen).
    // Empty when the backend describes the interface by `caps` alone.
    std::vector<HidCaps> collections;
    bool numberedReports = false;
};

struct ReadResult {
    enum class Status {
        Data,       // `size` bytes in the buffer, byte 0 the report ID (size 0: nothing read)
        Timeout,    // the slice passed without a report
        Cancelled,  // cancelRead() was called
        Unplugged,  // the interface is gone
        Error,      // the read failed for another reason; `error` holds errno
    };
    Status status = Status::Timeout;
    std::size_t size = 0;
    int error = 0;
};

// What became of a feature or output report: sent, or refused with the errno that says
// why (EBADF: the interface is not open for reading and writing; ENODEV: it has gone).
struct SendResult {
    int error = 0;  // 0: sent
    bool ok() const { return error == 0; }
    explicit operator bool() const { return ok(); }
};

// Receives one input report, byte 0 the report ID, on the main thread.
using ReportSink = std::function<void(std::span<const std::uint8_t>)>;

// An opened interface. setFeature and write run on the main thread; read and cancelRead
// on the reading thread and any thread respectively, concurrently with them.
class HidConnection {
public:
    virtual ~HidConnection() = default;

    // False when the interface could only be identified, not opened for reading and
    // writing: such an interface is never read or written.
    virtual bool readWrite() const = 0;

    // Both take the report ID as byte 0 and the length counting it.
    virtual SendResult setFeature(std::span<const std::uint8_t> report) = 0;
    virtual SendResult write(std::span<const std::uint8_t> report) = 0;

    // True when the backend pushes reports (startReports) instead of being read.
    virtual bool pushesReports() const = 0;

    // Reading backends: wait at most `slice` for one report into `buffer`. A report ID 0
    // is put in front of reports of interfaces without numbered reports.
    virtual ReadResult read(std::span<std::uint8_t> buffer, Millis slice);
    // Wakes a read in progress (and every later one) with Cancelled. Any thread.
    virtual void cancelRead();

    // Pushing backends: reports go to `sink` on the main thread until stopReports.
    virtual void startReports(ReportSink sink);
    virtual void stopReports();
};

class HidBackend {
public:
    virtual ~HidBackend() = default;

    // The interfaces present now. Interfaces that cannot be identified are left out.
    virtual std::vector<HidInterfaceInfo> enumerate() = 0;

    // Opens an interface for reading and writing, or for identification only when that
    // is refused. Null when it cannot be opened at all (it has gone).
    virtual std::unique_ptr<HidConnection> open(const HidInterfaceInfo& info) = 0;

    // `onChange` runs on the main thread whenever interfaces may have come or gone. The
    // backend starts watching for hot-plug here, so the controller sets it before its
    // first scan.
    virtual void setChangeHandler(std::function<void()> onChange) = 0;
};

}  // namespace tc::platform::hid
