// The hidraw backend: interfaces found in sysfs, opened as /dev/hidrawN, reports read by
// the controller's read threads, hot-plug from udev (or the kernel's uevents).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/UniqueFd.h"
#include "platform/hid/HidBackend.h"

namespace tc::platform::hid {

// Where the backend looks. Tests point them at a fake tree.
struct HidrawRoots {
    std::string sysfs = "/sys";  // <sysfs>/class/hidraw/hidrawN
    std::string dev = "/dev";    // <dev>/hidrawN
    // Its absence means no udev daemon runs (containers): hot-plug then comes from the
    // kernel's uevent group.
    std::string udevControl = "/run/udev/control";
    bool hotplug = true;  // false: no monitor (tests of the scan alone)
};

// Bus, vendor and product from the HID device's uevent text (HID_ID=0003:0000VVVV:0000PPPP).
bool parseHidId(std::string_view uevent, std::uint16_t& bus, std::uint16_t& vendor,
                std::uint16_t& product);

// The hidraw interfaces present under `roots`, in node-number order.
std::vector<HidInterfaceInfo> scanHidraw(const HidrawRoots& roots);

// Threads: read runs on one reading thread; cancelRead and gone on any thread; the
// constructor, setFeature, write and the destructor on the main thread (the destructor
// once the reading thread has stopped reading).
class HidrawConnection final : public HidConnection {
public:
    // Opens `path` read/write; when that is refused the connection is identification only.
    // Null when there is nothing to open (no node, or no device behind it).
    static std::unique_ptr<HidrawConnection> open(const std::string& path, bool numberedReports);
    // Adopts `fd` (none: identification only). Anything that keeps report boundaries will
    // do for reading, e.g. a SOCK_SEQPACKET socket (the virtual controller's threaded mode,
    // tests and benchmarks); setFeature needs a hidraw node.
    HidrawConnection(UniqueFd fd, bool numberedReports);

    bool readWrite() const override { return fd_.valid(); }
    SendResult setFeature(std::span<const std::uint8_t> report) override;
    SendResult write(std::span<const std::uint8_t> report) override;
    bool pushesReports() const override { return false; }
    ReadResult read(std::span<std::uint8_t> buffer, Millis slice) override;
    void cancelRead() override;
    // An operation saw the node go away (ENODEV, EIO, hang-up).
    bool gone() const { return gone_; }

private:
    UniqueFd fd_;
    UniqueFd cancelFd_;
    bool numbered_;
    std::atomic<bool> gone_{false};
};

std::unique_ptr<HidBackend> makeHidrawBackend(EventLoop& loop, HidrawRoots roots = {});

}  // namespace tc::platform::hid
