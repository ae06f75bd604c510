// The program as a service sees it: the service manager's notify socket, the journal's
// stream, the listen address, the work folder of an installed copy and the controller file.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <regex>
#include <set>
#include <sstream>

#include "ProcessRunner.h"
#include "platform/UniqueFd.h"

using tc::platform::UniqueFd;
using tc::testing::Launch;
using tc::testing::Process;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

std::string readText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// The service manager's end: a datagram socket bound where NOTIFY_SOCKET points.
class NotifySocket {
public:
    explicit NotifySocket(std::filesystem::path path) : path_(std::move(path)) {
        fd_.reset(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0));
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::strncpy(a.sun_path, path_.c_str(), sizeof a.sun_path - 1);
        if (::bind(fd_.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            ADD_FAILURE() << "bind " << path_ << ": " << std::strerror(errno);
    }
    std::string env() const { return "NOTIFY_SOCKET=" + path_.string(); }

    struct Message {
        Clock::time_point at;
        std::string text;
    };
    // The next message, or nothing when none came in time.
    std::optional<Message> next(std::chrono::milliseconds limit) {
        pollfd p{fd_.get(), POLLIN, 0};
        if (::poll(&p, 1, int(limit.count())) <= 0) return std::nullopt;
        char buf[4096];
        const ssize_t n = ::recv(fd_.get(), buf, sizeof buf, 0);
        if (n < 0) return std::nullopt;
        Message m{Clock::now(), std::string(buf, std::size_t(n))};
        seen_.push_back(m);
        return m;
    }
    // Messages until one holds `needle`; that one, or nothing after `limit`.
    std::optional<Message> waitFor(const std::string& needle, std::chrono::milliseconds limit) {
        const auto end = Clock::now() + limit;
        while (Clock::now() < end) {
            auto m =
                next(std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()));
            if (m && m->text.find(needle) != std::string::npos) return m;
        }
        return std::nullopt;
    }
    bool sawAny(const std::string& needle) const {
        for (const auto& m : seen_)
            if (m.text.find(needle) != std::string::npos) return true;
        return false;
    }
    const std::vector<Message>& seen() const { return seen_; }

private:
    std::filesystem::path path_;
    UniqueFd fd_;
    std::vector<Message> seen_;
};

// 0 when a TCP connection to `address`:`port` is accepted, else the errno of connect.
int connectError(const std::string& address, std::uint16_t port) {
    sockaddr_storage ss{};
    socklen_t len;
    if (address.find(':') != std::string::npos) {
        auto& a = reinterpret_cast<sockaddr_in6&>(ss);
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        ::inet_pton(AF_INET6, address.c_str(), &a.sin6_addr);
        len = sizeof a;
    } else {
        auto& a = reinterpret_cast<sockaddr_in&>(ss);
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        len = sizeof a;
    }
    UniqueFd fd(::socket(ss.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return ::connect(fd.get(), reinterpret_cast<sockaddr*>(&ss), len) == 0 ? 0 : errno;
}

// The port in a status text "station <address>:<port>, ...".
std::uint16_t statusPort(const std::string& text) {
    std::smatch m;
    if (!std::regex_search(text, m, std::regex(R"(STATUS=station \S+:(\d+),)"))) return 0;
    return std::uint16_t(std::stoi(m[1]));
}

struct Service : ::testing::Test {
    std::filesystem::path dir =
        std::filesystem::temp_directory_path() / ("touchcal-svc-" + std::to_string(::getpid()));
    void SetUp() override {
        std::filesystem::remove_all(dir);
        std::filesystem::create_directories(dir / "run");
    }
    void TearDown() override {
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add);
        if (std::filesystem::exists(dir / "bin"))
            std::filesystem::permissions(dir / "bin", std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add);
        std::filesystem::remove_all(dir);
    }
    std::vector<std::string> env(std::vector<std::string> extra = {}) const {
        std::vector<std::string> e = {"XDG_RUNTIME_DIR=" + (dir / "run").string(),
                                      "PATH=/usr/bin:/bin"};
        e.insert(e.end(), extra.begin(), extra.end());
        return e;
    }
    std::vector<std::string> simulated(std::vector<std::string> extra = {}) const {
        std::vector<std::string> a = {
            TOUCHCAL_BINARY, "--headless",           "--simulate", "--port", "0",
            "--workdir",     (dir / "work").string()};
        a.insert(a.end(), extra.begin(), extra.end());
        return a;
    }
};

}  // namespace

TEST_F(Service, ReadyOnlyOnceThePortListensThenStatusAndStoppingOnSigterm) {
    NotifySocket manager(dir / "notify");
    Process p(simulated({"--listen", "127.0.0.1"}), env({manager.env()}));
    const auto ready = manager.waitFor("READY=1", 20s);
    ASSERT_TRUE(ready) << p.output();
    // The status that comes with it says where the station port is; it takes a connection
    // at once, and only on the address it was given.
    const std::uint16_t port = statusPort(ready->text);
    ASSERT_NE(port, 0) << ready->text;
    EXPECT_EQ(connectError("127.0.0.1", port), 0);
    EXPECT_EQ(connectError("127.0.0.2", port), ECONNREFUSED);
    // The lamp's changes follow as status lines.
    EXPECT_TRUE(manager.waitFor("lamp green", 20s)) << p.output();
    EXPECT_TRUE(p.waitForOutput(" lamp: green\n", 20s));
    p.signal(SIGTERM);
    EXPECT_TRUE(manager.waitFor("STOPPING=1", 10s));
    EXPECT_EQ(p.wait(10s), 0);
    // Without WATCHDOG_USEC no pings, and nothing before readiness but status.
    EXPECT_FALSE(manager.sawAny("WATCHDOG=1"));
    EXPECT_EQ(manager.seen().front().text.rfind("READY=1\nSTATUS=", 0), 0u)
        << manager.seen().front().text;
}

TEST_F(Service, PingsTheWatchdogAtHalfItsInterval) {
    NotifySocket manager(dir / "notify");
    Process p(simulated(), env({manager.env(), "WATCHDOG_USEC=400000"}));
    ASSERT_TRUE(manager.waitFor("READY=1", 20s)) << p.output();
    std::vector<Clock::time_point> pings;
    while (pings.size() < 4) {
        const auto m = manager.waitFor("WATCHDOG=1", 5s);
        ASSERT_TRUE(m) << p.output();
        pings.push_back(m->at);
    }
    for (std::size_t i = 1; i < pings.size(); ++i) {
        const auto gap =
            std::chrono::duration_cast<std::chrono::milliseconds>(pings[i] - pings[i - 1]);
        // 200 ms apart; a loaded machine may be late, never much early.
        EXPECT_GE(gap.count(), 150) << i;
        EXPECT_LE(gap.count(), 1500) << i;
    }
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
}

TEST_F(Service, WithoutNotifySocketNothingIsSentAndNothingFails) {
    NotifySocket manager(dir / "notify");
    Process p(simulated(), env({"WATCHDOG_USEC=100000"}));
    ASSERT_TRUE(p.waitForOutput(" lamp: green\n", 20s)) << p.output();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
    EXPECT_FALSE(manager.next(0ms));
    EXPECT_EQ(p.output().find("error"), std::string::npos) << p.output();
}

TEST_F(Service, ListensOnIpv6LoopbackOnly) {
    NotifySocket manager(dir / "notify");
    Process p(simulated({"--listen", "::1"}), env({manager.env()}));
    const auto ready = manager.waitFor("READY=1", 20s);
    ASSERT_TRUE(ready) << p.output();
    EXPECT_NE(ready->text.find("STATUS=station [::1]:"), std::string::npos) << ready->text;
    const std::uint16_t port = statusPort(ready->text);
    EXPECT_EQ(connectError("::1", port), 0);
    EXPECT_EQ(connectError("127.0.0.1", port), ECONNREFUSED);
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
}

TEST_F(Service, AnAddressThatCannotBeListenedOnIsAnErrorAndNeverReady) {
    struct Case {
        std::vector<std::string> args;
        int exitCode;  // -1: runs on, not ready
        const char* says;
    } cases[] = {
        {{"--listen", "localhost"},
         2,
         "touchcal: --listen needs an IPv4 or IPv6 address, not 'localhost'"},
        {{"--listen", "127.1"}, 2, "not '127.1'"},
        {{"--listen", "::1::2"}, 2, "not '::1::2'"},
        {{"--listen"}, 2, "--listen needs an address"},
        // A documentation address no interface has: the port cannot open, said as the
        // window says a socket error.
        {{"--listen", "192.0.2.1"},
         -1,
         "error: Windows socket error: Cannot assign requested address (99), on API 'bind'"},
    };
    for (const auto& c : cases) {
        NotifySocket manager(dir / "notify");
        Process p(simulated(c.args), env({manager.env()}));
        if (c.exitCode >= 0) {
            EXPECT_EQ(p.wait(10s), c.exitCode) << c.args.back();
            EXPECT_NE(p.output().find(c.says), std::string::npos) << p.output();
        } else {
            EXPECT_TRUE(p.waitForOutput(c.says, 20s)) << p.output();
            EXPECT_TRUE(manager.waitFor("is not listening", 10s));
            p.signal(SIGTERM);
            EXPECT_EQ(p.wait(10s), 0);
            EXPECT_FALSE(manager.sawAny("READY=1"));
        }
        std::filesystem::remove(dir / "notify");
    }
}

TEST_F(Service, InTheJournalLinesCarryPrioritiesInsteadOfTimeStamps) {
    // The lock file cannot be used (a warning), the port cannot open (an error).
    std::filesystem::create_directory(dir / "run" / "RodudOvevezadizeRA.lock");
    struct Case {
        bool journal;
        std::regex line;
    } cases[] = {
        {true, std::regex(R"((^|\n)<4>touchcal: cannot take the single-instance lock )")},
        {true, std::regex(R"(\n<3>error: Windows socket error: Cannot assign requested address)")},
        {true, std::regex(R"(\n<6>LabelDevice: Device: PlugIn\n)")},
        {false, std::regex(R"((^|\n)touchcal: cannot take the single-instance lock )")},
        {false,
         std::regex(R"(\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} error: Windows socket error)")},
        {false,
         std::regex(R"(\n\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} LabelDevice: Device: PlugIn\n)")},
    };
    for (const auto& c : cases) {
        Launch launch;
        launch.journalStream = c.journal;
        Process p(simulated({"--listen", "192.0.2.1"}), env(), launch);
        ASSERT_TRUE(p.waitForOutput("lamp: green\n", 20s)) << p.output();
        p.signal(SIGTERM);
        EXPECT_EQ(p.wait(10s), 0);
        EXPECT_TRUE(std::regex_search(p.output(), c.line)) << c.journal << "\n" << p.output();
    }
}

// An installed copy: its folder is not writable, so its files go to the user's state folder.
TEST_F(Service, AnInstalledCopyWorksInTheStateFolderAndSaysSo) {
    namespace fs = std::filesystem;
    fs::create_directories(dir / "bin");
    fs::copy_file(TOUCHCAL_BINARY, dir / "bin" / "touchcal");
    fs::create_directories(dir / "home");
    fs::create_directories(dir / "cwd");
    // A test run as root may write anywhere: the program then runs as nobody.
    Launch launch;
    if (::geteuid() == 0) {
        launch.user = 65534;
        launch.group = 65534;
        for (const auto& p : {dir, dir / "run", dir / "home", dir / "cwd", dir / "bin"})
            if (::chown(p.c_str(), launch.user, launch.group) != 0) FAIL() << p;
    }
    struct Case {
        const char* what;
        fs::perms binPerms;
        std::vector<std::string> env;
        fs::path expected;  // where Start_Up.ini is written
        bool said;
    } cases[] = {
        {"XDG_STATE_HOME",
         fs::perms(0555),
         {"XDG_STATE_HOME=" + (dir / "state").string()},
         dir / "state" / "touchcal",
         true},
        {"HOME",
         fs::perms(0555),
         {"HOME=" + (dir / "home").string()},
         dir / "home" / ".local" / "state" / "touchcal",
         true},
        {"a relative XDG_STATE_HOME",
         fs::perms(0555),
         {"XDG_STATE_HOME=state", "HOME=" + (dir / "home").string()},
         dir / "home" / ".local" / "state" / "touchcal",
         true},
        {"a writable program folder",
         fs::perms(0755),
         {"XDG_STATE_HOME=" + (dir / "state").string()},
         dir / "bin",
         false},
    };
    if (::geteuid() == 0 && ::chown(dir.c_str(), 65534, 65534) != 0) FAIL();
    fs::permissions(dir, fs::perms(0777));
    for (const auto& c : cases) {
        fs::remove_all(dir / "state");
        fs::remove_all(dir / "home" / ".local");
        fs::permissions(dir / "bin", fs::perms(0755));
        fs::remove(dir / "bin" / "Start_Up.ini");
        fs::permissions(dir / "bin", c.binPerms);
        const std::string exe = (dir / "bin" / "touchcal").string();
        // Started from another folder: the current directory is where the file is read.
        std::vector<std::string> e = env(c.env);
        Process p({"/bin/sh", "-c",
                   "cd " + (dir / "cwd").string() + " && exec " + exe +
                       " --headless --simulate --port 0"},
                  e, launch);
        ASSERT_TRUE(p.waitForOutput(" lamp: green\n", 20s)) << c.what << "\n" << p.output();
        p.signal(SIGTERM);
        EXPECT_EQ(p.wait(10s), 0) << c.what;
        EXPECT_TRUE(fs::exists(c.expected / "Start_Up.ini")) << c.what << "\n" << p.output();
        const std::string note = " work folder " + c.expected.string() + " (the program's folder " +
                                 (dir / "bin").string() + " is not writable)\n";
        EXPECT_EQ(p.output().find(note) != std::string::npos, c.said) << c.what << "\n"
                                                                      << p.output();
        EXPECT_FALSE(fs::exists(dir / "cwd" / "Start_Up.ini")) << c.what;
    }
    fs::permissions(dir / "bin", fs::perms(0755));
}

TEST_F(Service, TheControllerFileChoosesTheControllerAndABrokenOneStopsTheStart) {
    const auto file = dir / "controllers.conf";
    struct Broken {
        const char* text;
        const char* says;
    } broken[] = {
        {"data 1b2f:4121\nmouse 1b2f:4121\n",
         " line 2: unknown kind 'mouse'; expected family, data or command"},
        {"# none\n\ndata\n", " line 3: 'data' needs a pair VVVV:PPPP"},
        {"command 1b2f-5001\n",
         " line 1: '1b2f-5001' is not a pair VVVV:PPPP of four hexadecimal digits each"},
        {"data 1b2f:4121 0a2d:0f20\n", " line 1: one pair a line: '1b2f:4121 0a2d:0f20'"},
        {"family 1b2f:4100\nfamily 1b2f:4200\n",
         " line 2: a second family line (the first is line 1)"},
        {"family 1b2f:4121\n",
         " line 1: the family pair stands for every product 41xx, so its product ends in 00"},
        {"# nothing but comments\n", ": no identifiers in the file"},
    };
    for (const auto& b : broken) {
        std::ofstream(file, std::ios::binary | std::ios::trunc) << b.text;
        Process p(simulated({"--controllers", file.string()}), env());
        EXPECT_EQ(p.wait(10s), 2) << b.text;
        EXPECT_NE(p.output().find("touchcal: " + file.string() + b.says), std::string::npos)
            << p.output();
        EXPECT_EQ(p.output().find("lamp"), std::string::npos) << p.output();
    }
    {
        Process p(simulated({"--controllers", (dir / "missing.conf").string()}), env());
        EXPECT_EQ(p.wait(10s), 2);
        EXPECT_NE(p.output().find("touchcal: cannot read controller file " +
                                  (dir / "missing.conf").string() + ": No such file or directory"),
                  std::string::npos)
            << p.output();
    }
    // The virtual controller is 1B2F:4100: found by an exact pair of each table as well.
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        << "# the virtual controller\r\ndata 1b2f:4100  # data\r\ncommand 1B2F:4100\r\n";
    Process p(simulated({"--controllers", file.string()}), env());
    EXPECT_TRUE(p.waitForOutput(" LabelDevice: Device: PlugIn\n", 20s)) << p.output();
    EXPECT_TRUE(p.waitForOutput(" lamp: green\n", 20s)) << p.output();
    p.signal(SIGTERM);
    EXPECT_EQ(p.wait(10s), 0);
}

TEST_F(Service, ThePrintedRuleFollowsTheIdentifiersInForce) {
    // Without a file: the packaged rule, written from the same tables.
    {
        Process p({TOUCHCAL_BINARY, "--print-udev-rule"}, env());
        EXPECT_EQ(p.wait(10s), 0);
        EXPECT_EQ(p.output(), readText(TOUCHCAL_SOURCE_DIR "/packaging/udev/70-touchcal.rules"));
    }
    const auto file = dir / "controllers.conf";
    std::ofstream(file) << "family 1b2f:4200\ndata 1b2f:4255\ncommand 0A2D:0F30\n";
    Process p({TOUCHCAL_BINARY, "--controllers", file.string(), "--print-udev-rule"}, env());
    EXPECT_EQ(p.wait(10s), 0);
    const std::string access = R"(, TAG+="uaccess", GROUP="touchcal", MODE="0660")";
    // The family takes 42xx (4255 with it); the other pair gets a line of its own.
    EXPECT_NE(p.output().find("\nSUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"1b2f\", "
                              "ATTRS{idProduct}==\"42??\"" +
                              access + "\n"),
              std::string::npos)
        << p.output();
    EXPECT_NE(p.output().find("\nSUBSYSTEM==\"hidraw\", ATTRS{idVendor}==\"0a2d\", "
                              "ATTRS{idProduct}==\"0f30\"" +
                              access + "\n"),
              std::string::npos)
        << p.output();
    EXPECT_EQ(p.output().find("4255\""), std::string::npos) << p.output();
    EXPECT_EQ(p.output().find("41??"), std::string::npos) << p.output();
}

namespace {

std::set<std::string> optionNames(const std::string& text, const std::regex& re) {
    std::set<std::string> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), re); it != std::sregex_iterator();
         ++it)
        out.insert((*it)[1]);
    return out;
}

// The options a manual page's OPTIONS section lists.
std::set<std::string> manualOptions(const char* page) {
    std::string man = readText(page);
    man = man.substr(man.find(".SH OPTIONS"));
    man = man.substr(0, man.find("\n.SH ", 1));
    man = std::regex_replace(man, std::regex(R"(\\-)"), "-");
    return optionNames(man, std::regex(R"(\n\.TP\n\.BI? (--[a-z-]*))"));
}

}  // namespace

// --help, the README's option table and the manual pages name the same options.
TEST_F(Service, HelpReadmeAndManualPagesNameTheSameOptions) {
    Process p({TOUCHCAL_BINARY, "--help"}, env());
    ASSERT_EQ(p.wait(10s), 0);
    const auto help = optionNames(p.output(), std::regex(R"(\n  (--[a-z-]+))"));
    // The first cell of each row of the option table.
    std::string table;
    std::istringstream readmeLines(readText(TOUCHCAL_SOURCE_DIR "/README.md"));
    for (std::string line; std::getline(readmeLines, line);)
        if (line.rfind("| `--", 0) == 0) table += line.substr(0, line.find(" |", 1)) + "\n";
    EXPECT_GE(help.size(), 11u);
    EXPECT_EQ(help, manualOptions(TOUCHCAL_SOURCE_DIR "/docs/man/touchcal.1"));
    EXPECT_EQ(help, optionNames(table, std::regex(R"(`(--[a-z-]+))")));

    Process station({TOUCHCAL_STATION_BINARY, "--help"}, env());
    ASSERT_EQ(station.wait(10s), 0);
    auto stationHelp = optionNames(station.output(), std::regex(R"(\n  (--[a-z-]*))"));
    stationHelp.insert("--help");
    EXPECT_EQ(stationHelp, manualOptions(TOUCHCAL_SOURCE_DIR "/docs/man/touchcal-station.1"));
}
