// A whole unit as a line PC runs it: the program headless on the virtual devices, a station
// on the command line driving it over TCP, and the files the unit leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "ProcessRunner.h"

using tc::testing::Process;
using namespace std::chrono_literals;

namespace {

// A port nobody listens on now (the kernel's choice of an ephemeral one).
int freePort() {
    const int s = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(s);
    return ntohs(a.sin_port);
}

std::string readFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

struct Cycle : ::testing::Test {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("touchcal-cycle-" + std::to_string(::getpid()));
    std::filesystem::path work = dir / "work";
    std::string port = std::to_string(freePort());
    void SetUp() override {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "run");
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    std::vector<std::string> env() const {
        return {"XDG_RUNTIME_DIR=" + (dir / "run").string(), "QT_QPA_PLATFORM=offscreen",
                "PATH=/usr/bin:/bin"};
    }
    Process program(std::vector<std::string> extra = {}) {
        std::vector<std::string> args = {TOUCHCAL_BINARY, "--simulate", "--headless",
                                         "--port",        port,         "--workdir",
                                         work.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        return Process(args, env());
    }
    Process station(std::vector<std::string> args) {
        args.insert(args.begin(), {TOUCHCAL_STATION_BINARY, "--port", port});
        return Process(args, env());
    }
};

}  // namespace

TEST_F(Cycle, AStationRunsAWholeUnitOnTheVirtualDevices) {
    auto p = program();
    ASSERT_TRUE(p.waitForOutput(" Listen\n", 20s)) << p.output();
    auto s = station({"--cycle"});
    EXPECT_EQ(s.wait(60s), 0) << s.output() << "\n" << p.output();
    for (const char* reply : {"< READY", "< DATA_OK", "< ROM_OK", "< BARCODE_OK", "< NONE"})
        EXPECT_NE(s.output().find(reply), std::string::npos) << reply << "\n" << s.output();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);

    // The ROM result recorded the unit and the label moved the counter on once more.
    const std::string record = readFile(work / "qrcode.txt");
    EXPECT_EQ(std::count(record.begin(), record.end(), '\n'), 1) << record;
    EXPECT_NE(record.find("$!`A"), std::string::npos);
    EXPECT_NE(readFile(work / "Start_Up.ini").find("Serial Number : 0003\r\n"), std::string::npos);
    ASSERT_TRUE(std::filesystem::is_directory(work / "save"));
    int files = 0;
    for (const auto& f : std::filesystem::directory_iterator(work / "save")) {
        ++files;
        const std::string lines = readFile(f.path());
        EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 56);
        EXPECT_NE(f.path().filename().string().find("0002_"), std::string::npos);
    }
    EXPECT_EQ(files, 1);
}

// The printer named on the command line is the one the label goes to, with the controller
// still virtual: here a line nobody answers, so the label fails.
TEST_F(Cycle, ASerialDeviceWinsOverTheVirtualPrinter) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    const std::string slave = ::ptsname(master);
    auto p = program({"--serial-device", slave});
    ASSERT_TRUE(p.waitForOutput(" Listen\n", 20s)) << p.output();
    auto s = station({"WriteBarCode"});
    EXPECT_EQ(s.wait(30s), 1) << s.output();
    EXPECT_NE(s.output().find("< BARCODE_NG"), std::string::npos) << s.output();
    std::string sent;
    char buf[256];
    pollfd pfd{master, POLLIN, 0};
    while (::poll(&pfd, 1, 200) == 1) {
        const ssize_t n = ::read(master, buf, sizeof buf);
        if (n <= 0) break;
        sent.append(buf, std::size_t(n));
    }
    EXPECT_NE(sent.find("BARTYPE \"DATAMATRIX\""), std::string::npos) << sent;
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
    ::close(master);
}
