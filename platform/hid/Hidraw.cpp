#include "platform/hid/Hidraw.h"

#include <fcntl.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

#include "platform/hid/Hotplug.h"
#include "platform/hid/ReportDescriptor.h"

namespace fs = std::filesystem;

namespace tc::platform::hid {

namespace {

bool readFile(const fs::path& p, std::string& out, std::size_t limit) {
    std::ifstream f(p, std::ios::binary);
    if (!f) return false;
    out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    if (out.size() > limit) out.resize(limit);
    return true;
}

bool parseHex(std::string_view s, unsigned long& v) {
    if (s.empty() || s.size() > 8) return false;
    v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            return false;
        v = v * 16 + unsigned(d);
    }
    return true;
}

// hidraw12 → 12, so nodes come in number order rather than text order.
long nodeNumber(const std::string& name) {
    if (name.rfind("hidraw", 0) != 0 || name.size() == 6) return -1;
    long n = 0;
    for (std::size_t i = 6; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') return -1;
        n = n * 10 + (name[i] - '0');
        if (n > 1000000) return -1;
    }
    return n;
}

bool isUnplugErrno(int e) {
    return e == ENODEV || e == EIO || e == ENXIO || e == EPIPE;
}

}  // namespace

bool parseHidId(std::string_view uevent, std::uint16_t& bus, std::uint16_t& vendor,
                std::uint16_t& product) {
    std::size_t pos = 0;
    while (pos < uevent.size()) {
        std::size_t end = uevent.find('\n', pos);
        if (end == std::string_view::npos) end = uevent.size();
        std::string_view line = uevent.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("HID_ID=", 0) != 0) continue;
        line.remove_prefix(7);
        const std::size_t a = line.find(':');
        const std::size_t b = a == std::string_view::npos ? a : line.find(':', a + 1);
        if (b == std::string_view::npos) return false;
        unsigned long vb, vv, vp;
        if (!parseHex(line.substr(0, a), vb) || !parseHex(line.substr(a + 1, b - a - 1), vv) ||
            !parseHex(line.substr(b + 1), vp))
            return false;
        if (vb > 0xFFFF || vv > 0xFFFF || vp > 0xFFFF) return false;
        bus = std::uint16_t(vb);
        vendor = std::uint16_t(vv);
        product = std::uint16_t(vp);
        return true;
    }
    return false;
}

std::vector<HidInterfaceInfo> scanHidraw(const HidrawRoots& roots) {
    std::vector<std::pair<long, HidInterfaceInfo>> found;
    const fs::path classDir = fs::path(roots.sysfs) / "class" / "hidraw";
    std::error_code ec;
    fs::directory_iterator it(classDir, ec);
    if (ec) return {};
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) break;
        const std::string name = it->path().filename().string();
        const long number = nodeNumber(name);
        if (number < 0) continue;
        const fs::path hidDevice = it->path() / "device";
        std::string uevent;
        HidInterfaceInfo info;
        if (!readFile(hidDevice / "uevent", uevent, 64 * 1024) ||
            !parseHidId(uevent, info.bus, info.vendorId, info.productId))
            continue;  // cannot be identified: left out, as a failed open would be
        std::string descriptor;
        if (readFile(hidDevice / "report_descriptor", descriptor, 64 * 1024)) {
            const auto parsed = parseReportDescriptor(std::span(
                reinterpret_cast<const std::uint8_t*>(descriptor.data()), descriptor.size()));
            // A descriptor we cannot make sense of gives all-zero capabilities, so the
            // interface matches nothing rather than something by accident.
            if (parsed.wellFormed) {
                info.caps = parsed.caps;
                info.collections = parsed.collections;
                info.numberedReports = parsed.numberedReports;
            }
        }
        // The HID device's sysfs name carries a sequence number that changes on every
        // plug, so its resolved path tells one plugged interface from the next.
        const fs::path resolved = fs::weakly_canonical(hidDevice, ec);
        info.instanceId = (ec ? hidDevice.string() : resolved.string()) + "|" + name;
        info.path = (fs::path(roots.dev) / name).string();
        found.emplace_back(number, std::move(info));
    }
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<HidInterfaceInfo> out;
    out.reserve(found.size());
    for (auto& [n, info] : found) out.push_back(std::move(info));
    return out;
}

std::unique_ptr<HidrawConnection> HidrawConnection::open(const std::string& path,
                                                         bool numberedReports) {
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC));
    if (fd) return std::make_unique<HidrawConnection>(std::move(fd), numberedReports);
    // No node, or a node without a device behind it: the interface has gone.
    const int refused = errno;
    if (refused == ENOENT || refused == ENODEV || refused == ENXIO) return nullptr;
    // Refused for reading and writing: still identifiable when the node is there (O_PATH
    // asks nothing of the driver nor of the node's permissions).
    if (!UniqueFd(::open(path.c_str(), O_PATH | O_CLOEXEC))) return nullptr;
    return std::make_unique<HidrawConnection>(UniqueFd(), numberedReports);
}

HidrawConnection::HidrawConnection(UniqueFd fd, bool numberedReports)
    : fd_(std::move(fd)),
      cancelFd_(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)),
      numbered_(numberedReports) {
    if (fd_) {
        const int flags = fcntl(fd_.get(), F_GETFL);
        if (flags >= 0) fcntl(fd_.get(), F_SETFL, flags | O_NONBLOCK);
    }
}

SendResult HidrawConnection::setFeature(std::span<const std::uint8_t> report) {
    if (!fd_) return {EBADF};
    if (report.empty() || report.size() > 4096) return {EINVAL};
    std::vector<std::uint8_t> copy(report.begin(), report.end());  // the ioctl writes back
    if (::ioctl(fd_.get(), HIDIOCSFEATURE(copy.size()), copy.data()) >= 0) return {};
    const int e = errno;
    if (isUnplugErrno(e)) gone_ = true;
    return {e};
}

SendResult HidrawConnection::write(std::span<const std::uint8_t> report) {
    if (!fd_) return {EBADF};
    if (report.empty()) return {EINVAL};
    ssize_t r;
    do {
        r = ::write(fd_.get(), report.data(), report.size());
    } while (r < 0 && errno == EINTR);
    if (r == ssize_t(report.size())) return {};
    // A node takes a report whole or not at all; a part written is a fault of the device.
    const int e = r < 0 ? errno : EIO;
    if (r < 0 && isUnplugErrno(e)) gone_ = true;
    return {e};
}

ReadResult HidrawConnection::read(std::span<std::uint8_t> buffer, Millis slice) {
    using S = ReadResult::Status;
    const std::size_t offset = numbered_ ? 0 : 1;
    if (!fd_) return {S::Error, 0, EBADF};
    if (buffer.size() <= offset) return {S::Error, 0, EINVAL};
    pollfd p[2] = {{fd_.get(), POLLIN, 0}, {cancelFd_.get(), POLLIN, 0}};
    const int n = ::poll(p, 2, int(slice.count()));
    if (n < 0)
        return errno == EINTR ? ReadResult{S::Timeout, 0, 0} : ReadResult{S::Error, 0, errno};
    if (p[1].revents) return {S::Cancelled, 0, 0};
    if (n == 0) return {S::Timeout, 0, 0};
    if (p[0].revents & POLLIN) {
        // Reports queued before an unplug are still returned; only then does read fail.
        const ssize_t r = ::read(fd_.get(), buffer.data() + offset, buffer.size() - offset);
        if (r < 0) {
            if (errno == EAGAIN || errno == EINTR) return {S::Timeout, 0, 0};
            if (isUnplugErrno(errno)) {
                gone_ = true;
                return {S::Unplugged, 0, errno};
            }
            return {S::Error, 0, errno};
        }
        if (r == 0) {
            if (p[0].revents & (POLLHUP | POLLERR)) {
                gone_ = true;
                return {S::Unplugged, 0, 0};
            }
            // A node that keeps answering with nothing must not spin its reader.
            pollfd c{cancelFd_.get(), POLLIN, 0};
            ::poll(&c, 1, 10);
            return {S::Data, 0, 0};
        }
        if (!numbered_) buffer[0] = 0;
        return {S::Data, std::size_t(r) + offset, 0};
    }
    if (p[0].revents & (POLLHUP | POLLERR | POLLNVAL)) {
        gone_ = true;
        return {S::Unplugged, 0, 0};
    }
    return {S::Timeout, 0, 0};
}

void HidrawConnection::cancelRead() {
    const std::uint64_t one = 1;
    [[maybe_unused]] auto r = ::write(cancelFd_.get(), &one, sizeof one);
}

namespace {

class HidrawBackend final : public HidBackend {
public:
    HidrawBackend(EventLoop& loop, HidrawRoots roots) : loop_(loop), roots_(std::move(roots)) {}

    std::vector<HidInterfaceInfo> enumerate() override { return scanHidraw(roots_); }

    std::unique_ptr<HidConnection> open(const HidInterfaceInfo& info) override {
        return HidrawConnection::open(info.path, info.numberedReports);
    }

    void setChangeHandler(std::function<void()> onChange) override {
        monitor_.reset();
        if (roots_.hotplug && onChange)
            monitor_ =
                std::make_unique<HotplugMonitor>(loop_, std::move(onChange), roots_.udevControl);
    }

private:
    EventLoop& loop_;
    HidrawRoots roots_;
    std::unique_ptr<HotplugMonitor> monitor_;
};

}  // namespace

std::unique_ptr<HidBackend> makeHidrawBackend(EventLoop& loop, HidrawRoots roots) {
    return std::make_unique<HidrawBackend>(loop, std::move(roots));
}

}  // namespace tc::platform::hid
