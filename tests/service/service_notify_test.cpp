// What the program tells a service manager, how it knows the journal reads it, where an
// installed copy keeps its files and which addresses the station may listen on.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/ServiceNotify.h"
#include "platform/StateDir.h"
#include "platform/VirtualEventLoop.h"
#include "platform/net/Socket.h"

using namespace tc::platform;
using namespace std::chrono_literals;

namespace {

// The manager's end of the protocol, bound at a path or in the abstract namespace ("@...").
struct Manager {
    UniqueFd fd{::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0)};
    std::string name;
    explicit Manager(std::string n) : name(std::move(n)) {
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::memcpy(a.sun_path, name.data(), name.size());
        if (name[0] == '@') a.sun_path[0] = '\0';
        const socklen_t len =
            socklen_t(offsetof(sockaddr_un, sun_path) + name.size() + (name[0] == '/' ? 1 : 0));
        EXPECT_EQ(::bind(fd.get(), reinterpret_cast<sockaddr*>(&a), len), 0)
            << std::strerror(errno);
    }
    // Every message waiting, in order.
    std::vector<std::string> take() {
        std::vector<std::string> out;
        char buf[4096];
        for (ssize_t n; (n = ::recv(fd.get(), buf, sizeof buf, 0)) >= 0;) out.emplace_back(buf, n);
        return out;
    }
};

using Strings = std::vector<std::string>;

std::string tempName(const char* what) {
    return (std::filesystem::temp_directory_path() /
            (std::string("touchcal-") + what + "-" + std::to_string(::getpid())))
        .string();
}

}  // namespace

TEST(ServiceEnvironment, TakesTheWatchdogOnlyForThisProcess) {
    struct Case {
        const char *usec, *pid;
        std::optional<Millis> watchdog;
    } cases[] = {
        {nullptr, nullptr, std::nullopt}, {"30000000", nullptr, 30000ms},
        {"30000000", "4242", 30000ms},    {"30000000", "4243", std::nullopt},
        {"30000000", "x", std::nullopt},  {"0", nullptr, std::nullopt},
        {"-5", nullptr, std::nullopt},    {"12abc", nullptr, std::nullopt},
        {"", nullptr, std::nullopt},      {"500", nullptr, 1ms},
    };
    for (const auto& c : cases) {
        const auto env = serviceEnvironment("/run/notify", c.usec, c.pid, 4242);
        EXPECT_EQ(env.watchdog, c.watchdog)
            << (c.usec ? c.usec : "-") << " " << (c.pid ? c.pid : "-");
        EXPECT_EQ(env.notifySocket, "/run/notify");
    }
}

TEST(ServiceNotifier, SpeaksTheDatagramProtocolAtAPathAndInTheAbstractNamespace) {
    for (const std::string& name : {tempName("notify"), "@" + tempName("abstract")}) {
        std::filesystem::remove(name);
        Manager manager(name);
        ServiceNotifier n(ServiceEnvironment{name, std::nullopt});
        ASSERT_TRUE(n.enabled()) << name;
        n.status("starting");
        n.ready("lamp grey\nstation 0.0.0.0:10000");
        n.status("lamp grey station 0.0.0.0:10000");  // the same as the last one: not again
        n.status("lamp red");
        n.watchdogPing();
        n.stopping();
        n.stopping();  // a signal, then the loop's end: said once
        EXPECT_EQ(n.lastError(), 0);
        EXPECT_EQ(manager.take(),
                  (Strings{"STATUS=starting", "READY=1\nSTATUS=lamp grey station 0.0.0.0:10000",
                           "STATUS=lamp red", "WATCHDOG=1", "STOPPING=1"}))
            << name;
        std::filesystem::remove(name);
    }
}

TEST(ServiceNotifier, WithoutAUsableSocketNothingIsSentAndNothingFails) {
    const std::string gone = tempName("gone");
    std::filesystem::remove(gone);
    struct Case {
        std::string socket;
        bool enabled;
    } cases[] = {
        {"", false},
        {"relative/notify", false},
        {"vsock:2:1234", false},
        {"/" + std::string(200, 'x'), false},
        {gone, true},  // named but nobody there: sends fail quietly
    };
    for (const auto& c : cases) {
        ServiceNotifier n(ServiceEnvironment{c.socket, 10000ms});
        EXPECT_EQ(n.enabled(), c.enabled) << c.socket;
        n.ready("x");
        n.status("y");
        n.watchdogPing();
        n.stopping();
        EXPECT_EQ(n.lastError(), c.enabled ? ENOENT : 0) << c.socket;
        EXPECT_EQ(n.watchdogInterval().has_value(), c.enabled) << c.socket;
    }
    ServiceNotifier nobody;
    EXPECT_FALSE(nobody.enabled());
    VirtualEventLoop loop;
    const TimerHandle none = nobody.startWatchdog(loop);
    loop.advance(60000ms);
}

TEST(ServiceNotifier, PingsFromTheLoopAtHalfTheWatchdogTime) {
    const std::string name = tempName("watchdog");
    std::filesystem::remove(name);
    Manager manager(name);
    VirtualEventLoop loop;
    ServiceNotifier n(ServiceEnvironment{name, 3000ms});
    EXPECT_EQ(n.watchdogInterval(), 1500ms);
    {
        const TimerHandle pings = n.startWatchdog(loop);
        loop.advance(1499ms);
        EXPECT_EQ(manager.take(), Strings{});
        loop.advance(1ms);
        EXPECT_EQ(manager.take(), Strings{"WATCHDOG=1"});
        loop.advance(1500ms);
        EXPECT_EQ(manager.take(), Strings{"WATCHDOG=1"});
    }
    // The handle gone (the loop it pinged from ended): no more pings.
    loop.advance(10000ms);
    EXPECT_EQ(manager.take(), Strings{});
    std::filesystem::remove(name);
}

TEST(JournalStream, MatchesOnlyTheVeryFileItNames) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    const UniqueFd r(ends[0]), w(ends[1]);
    struct stat st {};
    ASSERT_EQ(::fstat(w.get(), &st), 0);
    const std::string dev = std::to_string(st.st_dev), ino = std::to_string(st.st_ino);
    struct Case {
        std::optional<std::string> value;
        int fd;
        bool journal;
    } cases[] = {
        {dev + ":" + ino, w.get(), true},
        {dev + ":" + ino, r.get(), true},  // both ends are the one pipe
        {dev + ":" + std::to_string(st.st_ino + 1), w.get(), false},
        {std::to_string(st.st_dev + 1) + ":" + ino, w.get(), false},
        {dev + ":" + ino, 999, false},  // not open
        {dev + ino, w.get(), false},
        {dev + ":" + ino + "x", w.get(), false},
        {"", w.get(), false},
        {std::nullopt, w.get(), false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(isJournalStream(c.value ? c.value->c_str() : nullptr, c.fd), c.journal)
            << (c.value ? *c.value : "unset");
}

TEST(StateFolder, FollowsTheBaseDirectoryRules) {
    struct Case {
        const char *xdg, *home;
        std::filesystem::path folder;
    } cases[] = {
        {"/srv/state", "/home/op", "/srv/state/touchcal"},
        {nullptr, "/home/op", "/home/op/.local/state/touchcal"},
        {"", "/home/op", "/home/op/.local/state/touchcal"},
        {"state", "/home/op", "/home/op/.local/state/touchcal"},  // relative: ignored
    };
    for (const auto& c : cases)
        EXPECT_EQ(userStateFolder("touchcal", c.xdg, c.home), c.folder) << (c.xdg ? c.xdg : "-");
    // No HOME: the user database's home folder.
    EXPECT_EQ(userStateFolder("touchcal", nullptr, nullptr).filename(), "touchcal");
    EXPECT_TRUE(folderWritable(std::filesystem::temp_directory_path()));
    EXPECT_FALSE(folderWritable("/nonexistent/folder"));
}

TEST(ListenAddress, TakesNumericIpv4AndIpv6AddressesOnly) {
    using net::ListenAddress;
    struct Case {
        const char* text;
        bool ok;
        bool ipv6;
        const char* shown;  // withPort(10000)
    } cases[] = {
        {"127.0.0.1", true, false, "127.0.0.1:10000"},
        {"0.0.0.0", true, false, "0.0.0.0:10000"},
        {"::1", true, true, "[::1]:10000"},
        {"::", true, true, "[::]:10000"},
        {"0:0::1", true, true, "[::1]:10000"},
        {"fe80::1%lo", true, true, "[fe80::1%lo]:10000"},
        {"localhost", false, false, ""},
        {"127.1", false, false, ""},
        {"256.0.0.1", false, false, ""},
        {"1.2.3.4 ", false, false, ""},
        {"::1::", false, false, ""},
        {"", false, false, ""},
    };
    for (const auto& c : cases) {
        const auto a = ListenAddress::parse(c.text);
        ASSERT_EQ(a.has_value(), c.ok) << c.text;
        if (!a) continue;
        EXPECT_EQ(a->ipv6(), c.ipv6) << c.text;
        EXPECT_EQ(a->withPort(10000), c.shown) << c.text;
    }
    EXPECT_EQ(ListenAddress().withPort(10000), "0.0.0.0:10000");
}

TEST(ListenAddress, AListenerTakesConnectionsOnItsAddressOnly) {
    using namespace net;
    auto l = TcpListener::bind(*ListenAddress::parse("127.0.0.1"), 0);
    l.listen(5);
    const auto port = l.localPort();
    ASSERT_NE(port, 0);
    EXPECT_TRUE(connectLoopback(port).valid());
    // "::" takes IPv4 connections too.
    auto any6 = TcpListener::bind(*ListenAddress::parse("::"), 0);
    any6.listen(5);
    EXPECT_TRUE(connectLoopback(any6.localPort()).valid());
    // An address of no interface here.
    try {
        (void)TcpListener::bind(*ListenAddress::parse("192.0.2.1"), 0);
        FAIL() << "bound to an address of no interface";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.api(), "bind");
        EXPECT_EQ(e.error(), EADDRNOTAVAIL);
    }
}
