#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <vector>

#include "platform/VirtualEventLoop.h"
#include "platform/hid/Hidraw.h"
#include "platform/hid/Hotplug.h"

using namespace tc::platform::hid;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::vector<std::uint8_t> Vendor63 = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00,
                                            0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x3F, 0x09, 0x01,
                                            0x81, 0x02, 0x95, 0x08, 0x09, 0x01, 0x91, 0x02, 0xC0};

// A sysfs and /dev tree shaped like the kernel's, in a temporary folder.
class FakeTree {
public:
    FakeTree() {
        root_ = fs::temp_directory_path() /
                ("touchcal-hidraw-" + std::to_string(getpid()) + "-" + std::to_string(counter_++));
        fs::remove_all(root_);
        fs::create_directories(root_ / "sys/class/hidraw");
        fs::create_directories(root_ / "dev");
    }
    ~FakeTree() { fs::remove_all(root_); }

    // One hidraw node under a HID device called `hidName` ("0003:1B2F:4100.0007").
    void addNode(const std::string& node, const std::string& hidName, const std::string& uevent,
                 const std::vector<std::uint8_t>& descriptor) {
        const fs::path hid = root_ / "sys/devices/pci0000:00/usb1/1-1/1-1:1.0" / hidName;
        fs::create_directories(hid / "hidraw" / node);
        write(hid / "uevent", uevent);
        write(hid / "report_descriptor", std::string(descriptor.begin(), descriptor.end()));
        fs::create_directory_symlink(hid, hid / "hidraw" / node / "device");
        fs::create_directory_symlink(hid / "hidraw" / node, root_ / "sys/class/hidraw" / node);
    }
    void removeNode(const std::string& node) { fs::remove(root_ / "sys/class/hidraw" / node); }
    HidrawRoots roots() const {
        HidrawRoots r;
        r.sysfs = (root_ / "sys").string();
        r.dev = (root_ / "dev").string();
        r.hotplug = false;
        return r;
    }
    fs::path dev(const std::string& node) const { return root_ / "dev" / node; }
    static void write(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }

private:
    static inline int counter_ = 0;
    fs::path root_;
};

std::string hidUevent(const char* id) {
    return std::string("DRIVER=hid-generic\nHID_ID=") + id +
           "\nHID_NAME=Touch Controller\nHID_PHYS=usb-0000:00:14.0-1/input0\n";
}

}  // namespace

TEST(HidrawScan, ParsesTheHidIdOfTheUevent) {
    struct {
        const char* text;
        bool ok;
        std::uint16_t bus, vendor, product;
    } cases[] = {
        {"HID_ID=0003:00001B2F:00004100\n", true, 3, 0x1B2F, 0x4100},
        {"DRIVER=x\nHID_ID=0005:0000046d:0000B33d", true, 5, 0x046D, 0xB33D},
        {"HID_ID=0003:1B2F\n", false, 0, 0, 0},
        {"HID_ID=0003:00011B2F:00004100\n", false, 0, 0, 0},  // beyond 16 bits
        {"HID_NAME=x\n", false, 0, 0, 0},
    };
    for (auto& c : cases) {
        std::uint16_t b = 0, v = 0, p = 0;
        EXPECT_EQ(parseHidId(c.text, b, v, p), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(b, c.bus);
            EXPECT_EQ(v, c.vendor);
            EXPECT_EQ(p, c.product);
        }
    }
}

TEST(HidrawScan, ListsNodesInNumberOrderWithIdentityCapsAndDevicePath) {
    FakeTree t;
    t.addNode("hidraw10", "0003:1B2F:4100.000B", hidUevent("0003:00001B2F:00004100"), Vendor63);
    t.addNode("hidraw2", "0003:046D:C31C.0003", hidUevent("0003:0000046D:0000C31C"), {0x05, 0x01});
    t.addNode("hidraw3", "0003:1234:0001.0004", "DRIVER=x\n", Vendor63);  // no HID_ID
    const auto list = scanHidraw(t.roots());
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list[0].vendorId, 0x046D);
    EXPECT_EQ(list[0].caps.inputReportByteLength, 0);  // malformed descriptor: all zero
    EXPECT_EQ(list[1].vendorId, 0x1B2F);
    EXPECT_EQ(list[1].productId, 0x4100);
    EXPECT_EQ(list[1].bus, 3);
    EXPECT_EQ(list[1].caps.inputReportByteLength, 64);
    EXPECT_FALSE(list[1].numberedReports);
    EXPECT_EQ(list[1].path, t.dev("hidraw10").string());
}

TEST(HidrawScan, AReplugGivesANewInstanceIdAndAStablePlugKeepsIt) {
    FakeTree t;
    t.addNode("hidraw0", "0003:1B2F:4100.0001", hidUevent("0003:00001B2F:00004100"), Vendor63);
    const auto first = scanHidraw(t.roots());
    EXPECT_EQ(scanHidraw(t.roots())[0].instanceId, first[0].instanceId);
    t.removeNode("hidraw0");
    EXPECT_TRUE(scanHidraw(t.roots()).empty());
    t.addNode("hidraw0", "0003:1B2F:4100.0002", hidUevent("0003:00001B2F:00004100"), Vendor63);
    const auto again = scanHidraw(t.roots());
    ASSERT_EQ(again.size(), 1u);
    EXPECT_NE(again[0].instanceId, first[0].instanceId);
}

TEST(HidrawScan, NodeThatCannotBeOpenedForWritingIsIdentificationOnly) {
    FakeTree t;
    t.addNode("hidraw0", "0003:1B2F:4100.0001", hidUevent("0003:00001B2F:00004100"), Vendor63);
    t.addNode("hidraw1", "0003:1B2F:4100.0002", hidUevent("0003:00001B2F:00004100"), Vendor63);
    FakeTree::write(t.dev("hidraw0"), "");
    fs::create_directory(t.dev("hidraw1"));  // refuses O_RDWR, whoever we are
    tc::platform::VirtualEventLoop loop;
    auto backend = makeHidrawBackend(loop, t.roots());
    const auto list = backend->enumerate();
    ASSERT_EQ(list.size(), 2u);
    auto rw = backend->open(list[0]);
    auto idOnly = backend->open(list[1]);
    ASSERT_TRUE(rw && idOnly);
    EXPECT_TRUE(rw->readWrite());
    EXPECT_FALSE(idOnly->readWrite());
    const std::uint8_t out[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_TRUE(rw->write(out));
    EXPECT_FALSE(idOnly->write(out));
    EXPECT_FALSE(idOnly->setFeature(out));
    EXPECT_EQ(fs::file_size(t.dev("hidraw0")), 9u);  // report ID included
}

TEST(HidrawScan, OpenGivesNothingForANodeThatIsNotThere) {
    struct Case {
        const char* what;
        void (*make)(const fs::path& node);
        bool opens, readWrite;
    } cases[] = {
        {"node to read and write", [](const fs::path& n) { FakeTree::write(n, ""); }, true, true},
        {"node refusing read/write", [](const fs::path& n) { fs::create_directory(n); }, true,
         false},
        {"no node", [](const fs::path&) {}, false, false},
        {"node pointing nowhere",
         [](const fs::path& n) { fs::create_symlink(n.parent_path() / "gone", n); }, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FakeTree t;
        t.addNode("hidraw0", "0003:1B2F:4100.0001", hidUevent("0003:00001B2F:00004100"), Vendor63);
        c.make(t.dev("hidraw0"));
        tc::platform::VirtualEventLoop loop;
        auto backend = makeHidrawBackend(loop, t.roots());
        const auto list = backend->enumerate();
        ASSERT_EQ(list.size(), 1u);  // sysfs still lists it
        const auto conn = backend->open(list[0]);
        EXPECT_EQ(conn != nullptr, c.opens);
        if (conn) {
            EXPECT_EQ(conn->readWrite(), c.readWrite);
        }
    }
}

namespace {
struct Pair {
    tc::platform::UniqueFd host, device;
    Pair() {
        int fds[2];
        EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds), 0);
        host.reset(fds[0]);
        device.reset(fds[1]);
    }
    void send(std::vector<std::uint8_t> r) const {
        ASSERT_EQ(::write(device.get(), r.data(), r.size()), ssize_t(r.size()));
    }
};
}  // namespace

TEST(HidrawRead, UnnumberedReportsGetReportIdZeroInFront) {
    Pair p;
    HidrawConnection c(std::move(p.host), false);
    p.send({0x25, 1, 2, 3});
    std::vector<std::uint8_t> buf(64, 0xEE);
    const auto r = c.read(buf, 100ms);
    ASSERT_EQ(r.status, ReadResult::Status::Data);
    EXPECT_EQ(r.size, 5u);
    EXPECT_EQ((std::vector<std::uint8_t>(buf.begin(), buf.begin() + 5)),
              (std::vector<std::uint8_t>{0, 0x25, 1, 2, 3}));
}

TEST(HidrawRead, NumberedReportsKeepTheirId) {
    Pair p;
    HidrawConnection c(std::move(p.host), true);
    p.send({0x06, 0x84});
    std::vector<std::uint8_t> buf(9);
    const auto r = c.read(buf, 100ms);
    ASSERT_EQ(r.status, ReadResult::Status::Data);
    EXPECT_EQ(r.size, 2u);
    EXPECT_EQ(buf[0], 0x06);
}

TEST(HidrawRead, TimeoutZeroLengthCancelAndHangUp) {
    Pair p;
    HidrawConnection c(std::move(p.host), false);
    std::vector<std::uint8_t> buf(64);
    EXPECT_EQ(c.read(buf, 0ms).status, ReadResult::Status::Timeout);
    p.send({});
    const auto empty = c.read(buf, 100ms);
    EXPECT_EQ(empty.status, ReadResult::Status::Data);
    EXPECT_EQ(empty.size, 0u);
    p.device.reset();
    EXPECT_EQ(c.read(buf, 100ms).status, ReadResult::Status::Unplugged);
    EXPECT_TRUE(c.gone());
    c.cancelRead();
    EXPECT_EQ(c.read(buf, 100ms).status, ReadResult::Status::Cancelled);
}

TEST(HidrawSend, AFailedSendSaysWhy) {
    const std::uint8_t report[9] = {6, 0x84, 0, 0, 0, 0, 0, 0, 0};
    HidrawConnection idOnly{tc::platform::UniqueFd(), false};
    EXPECT_EQ(idOnly.write(report).error, EBADF);
    EXPECT_EQ(idOnly.setFeature(report).error, EBADF);
    // The system's own reason comes through.
    HidrawConnection full{tc::platform::UniqueFd(::open("/dev/full", O_RDWR | O_CLOEXEC)), true};
    ASSERT_TRUE(full.readWrite());
    EXPECT_EQ(full.write(report).error, ENOSPC);
    EXPECT_EQ(full.setFeature(report).error, ENOTTY);  // not a hidraw node
    EXPECT_FALSE(full.gone());
    Pair p;
    HidrawConnection socket(std::move(p.host), true);
    EXPECT_TRUE(socket.write(report).ok());
}

TEST(HidHotplug, KernelUeventsAboutHidrawNodesAreRecognised) {
    auto msg = [](std::string s) { return std::vector<char>(s.begin(), s.end()); };
    using namespace std::string_literals;
    EXPECT_TRUE(
        isHidrawUevent(msg("add@/devices/x/hidraw/hidraw3\0ACTION=add\0SUBSYSTEM=hidraw\0"s)));
    EXPECT_TRUE(isHidrawUevent(msg("remove@/devices/x\0SUBSYSTEM=hidraw"s)));
    EXPECT_FALSE(isHidrawUevent(msg("add@/devices/x\0SUBSYSTEM=usb\0"s)));
    EXPECT_FALSE(isHidrawUevent(msg("libudev\0SUBSYSTEM=hidraw\0"s)));
    EXPECT_FALSE(isHidrawUevent(msg("SUBSYSTEM=hidraw"s)));
}

TEST(HidHotplug, FallsBackToTheKernelGroupWithoutAUdevDaemon) {
    tc::platform::VirtualEventLoop loop;
    HotplugMonitor m(
        loop, [] {}, "/nonexistent/udev/control");
    // Containers may refuse the netlink socket too; then nothing watches, and the scan at
    // start is all there is.
    EXPECT_NE(m.source(), HotplugMonitor::Source::Udev);
}
