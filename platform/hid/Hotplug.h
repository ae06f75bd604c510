// Hot-plug notifications for hidraw nodes: a libudev monitor where a udev daemon runs,
// else the kernel's uevent netlink group. Either way `onChange` runs on the main thread.
#pragma once

#include <functional>
#include <span>
#include <string>

#include "platform/EventLoop.h"
#include "platform/UniqueFd.h"

struct udev;
struct udev_monitor;

namespace tc::platform::hid {

// Main thread only.
class HotplugMonitor {
public:
    enum class Source { Udev, Kernel, None };

    HotplugMonitor(EventLoop& loop, std::function<void()> onChange,
                   const std::string& udevControl = "/run/udev/control");
    ~HotplugMonitor();
    HotplugMonitor(const HotplugMonitor&) = delete;
    HotplugMonitor& operator=(const HotplugMonitor&) = delete;

    Source source() const { return source_; }

private:
    bool startUdev();
    bool startKernel();
    void onUdevReadable(FdEvent ev);
    void onKernelReadable(FdEvent ev);

    EventLoop& loop_;
    std::function<void()> onChange_;
    Source source_ = Source::None;
    struct udev* udev_ = nullptr;
    struct udev_monitor* monitor_ = nullptr;  // owns the descriptor it is read through
    UniqueFd netlinkFd_;
    WatchHandle watch_;  // declared last: it ends before the descriptor it watches closes
};

// A kernel uevent datagram ("action@devpath\0KEY=value\0...") about a hidraw node.
bool isHidrawUevent(std::span<const char> message);

}  // namespace tc::platform::hid
