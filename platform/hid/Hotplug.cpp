#include "platform/hid/Hotplug.h"

#include <libudev.h>
#include <linux/netlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <sys/stat.h>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace tc::platform::hid {

bool isHidrawUevent(std::span<const char> message) {
    const std::string_view all(message.data(), message.size());
    // libudev's own datagrams start with "libudev"; only the kernel's are read here.
    if (all.rfind("libudev", 0) == 0) return false;
    const std::size_t head = all.find('\0');
    if (head == std::string_view::npos || all.substr(0, head).find('@') == std::string_view::npos)
        return false;
    std::size_t pos = head + 1;
    while (pos < all.size()) {
        std::size_t end = all.find('\0', pos);
        if (end == std::string_view::npos) end = all.size();
        if (all.substr(pos, end - pos) == "SUBSYSTEM=hidraw") return true;
        pos = end + 1;
    }
    return false;
}

HotplugMonitor::HotplugMonitor(EventLoop& loop, std::function<void()> onChange,
                               const std::string& udevControl)
    : loop_(loop), onChange_(std::move(onChange)) {
    struct stat st {};
    const bool udevRuns = ::stat(udevControl.c_str(), &st) == 0;
    // Without a udev daemon the udev group stays silent; the kernel's group still speaks.
    if (udevRuns && startUdev()) {
        source_ = Source::Udev;
    } else if (startKernel()) {
        source_ = Source::Kernel;
    }
}

HotplugMonitor::~HotplugMonitor() {
    watch_.reset();  // before the descriptor it watches goes
    if (monitor_) udev_monitor_unref(monitor_);
    if (udev_) udev_unref(udev_);
}

bool HotplugMonitor::startUdev() {
    udev_ = udev_new();
    if (!udev_) return false;
    monitor_ = udev_monitor_new_from_netlink(udev_, "udev");
    if (!monitor_ ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor_, "hidraw", nullptr) < 0 ||
        udev_monitor_enable_receiving(monitor_) < 0) {
        if (monitor_) udev_monitor_unref(monitor_);
        monitor_ = nullptr;
        udev_unref(udev_);
        udev_ = nullptr;
        return false;
    }
    watch_ = loop_.watch(udev_monitor_get_fd(monitor_), FdEvent::Read,
                         [this](FdEvent ev) { onUdevReadable(ev); });
    return true;
}

bool HotplugMonitor::startKernel() {
    UniqueFd fd(
        ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT));
    if (!fd) return false;
    sockaddr_nl addr{};
    addr.nl_family = AF_NETLINK;
    addr.nl_groups = 1;  // the kernel's uevent group
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0) return false;
    netlinkFd_ = std::move(fd);
    watch_ =
        loop_.watch(netlinkFd_.get(), FdEvent::Read, [this](FdEvent ev) { onKernelReadable(ev); });
    return true;
}

void HotplugMonitor::onUdevReadable(FdEvent ev) {
    bool changed = false;
    while (udev_device* d = udev_monitor_receive_device(monitor_)) {
        udev_device_unref(d);
        changed = true;
    }
    if (any(ev & (FdEvent::Error | FdEvent::HangUp))) watch_.reset();
    if (changed && onChange_) onChange_();
}

void HotplugMonitor::onKernelReadable(FdEvent ev) {
    bool changed = false;
    char buf[8192];
    for (;;) {
        sockaddr_nl from{};
        iovec iov{buf, sizeof buf};
        msghdr msg{};
        msg.msg_name = &from;
        msg.msg_namelen = sizeof from;
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        const ssize_t n = ::recvmsg(netlinkFd_.get(), &msg, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            // Events were lost: only a full rescan tells what is present now.
            if (errno == ENOBUFS) {
                changed = true;
                continue;
            }
            break;  // EAGAIN: drained
        }
        if (from.nl_pid != 0) continue;  // not from the kernel
        if (isHidrawUevent(std::span<const char>(buf, std::size_t(n)))) changed = true;
    }
    if (any(ev & (FdEvent::Error | FdEvent::HangUp))) watch_.reset();
    if (changed && onChange_) onChange_();
}

}  // namespace tc::platform::hid
