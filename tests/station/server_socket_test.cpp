#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>

#include <atomic>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/VirtualEventLoop.h"
#include "platform/net/Socket.h"
#include "station/ServerSocket.h"

using namespace tc::station;
using namespace tc::platform;
using namespace std::chrono_literals;
using tc::platform::net::connectLoopback;
using tc::platform::net::Fd;
using tc::platform::net::TcpListener;

namespace {

// The main window as the server sees it: every handler appends its line to a log, and a
// received text is logged and answered through SendStationReply when a reply is set.
struct Station : ::testing::Test {
    VirtualEventLoop loop;
    TServerSocket server{loop};
    std::vector<std::string> memo;
    std::vector<std::string> errors;
    std::string reply;  // sent for every received text when not empty

    void SetUp() override {
        loop.setErrorSink([this](const std::string& e) { errors.push_back(e); });
        server.setPort(0);
        server.onListen = [this] { memo.push_back("Listen"); };
        server.onGetSocket = [this](int) { memo.push_back("GetSocket"); };
        server.onClientConnect = [this](StationConnection&) { memo.push_back("ClientConnect"); };
        server.onAccept = [this](StationConnection&) { memo.push_back("Accept"); };
        server.onClientWrite = [this](StationConnection&) { memo.push_back("ClientWrite"); };
        server.onClientDisconnect = [this](StationConnection&) {
            memo.push_back("ClientDisconnect");
        };
        server.onClientError = [this](StationConnection&, ErrorEvent, int&) {
            memo.push_back("ClientError");
        };
        server.onClientRead = [this](StationConnection& c) {
            memo.push_back(c.ReceiveText());
            if (!reply.empty()) SendStationReply(log(), server, reply);
        };
    }

    std::function<void(const std::string&)> log() {
        return [this](const std::string& line) { memo.push_back(line); };
    }

    bool runUntil(const std::function<bool()>& done) {
        return loop.runUntil(done, Millis(60000), Millis(5000));
    }

    Fd connect() {
        const int before = server.activeConnections();
        Fd fd = connectLoopback(server.localPort());
        EXPECT_TRUE(runUntil([&] { return server.activeConnections() == before + 1; }));
        return fd;
    }

    static void send(const Fd& fd, const std::string& text) {
        ASSERT_EQ(::send(fd.get(), text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
    }

    // Reads until `n` bytes came or the peer stopped sending for a while (bounded).
    static std::string receive(const Fd& fd, std::size_t n) {
        std::string got;
        while (got.size() < n) {
            pollfd p{fd.get(), POLLIN, 0};
            if (::poll(&p, 1, 5000) != 1) break;
            char buf[65536];
            const ssize_t r = ::recv(fd.get(), buf, std::min(sizeof buf, n - got.size()), 0);
            if (r <= 0) break;
            got.append(buf, std::size_t(r));
        }
        return got;
    }

    // True when nothing is waiting to be read on `fd` (checked after the loop has run).
    static bool nothingWaiting(const Fd& fd) {
        pollfd p{fd.get(), POLLIN, 0};
        return ::poll(&p, 1, 0) == 0;
    }

    std::size_t count(const std::string& line) const {
        return std::size_t(std::count(memo.begin(), memo.end(), line));
    }
};

}  // namespace

TEST_F(Station, ActivationListensOnceAndLogsListen) {
    EXPECT_FALSE(server.Active());
    server.setActive(true);
    EXPECT_TRUE(server.Active());
    EXPECT_NE(server.localPort(), 0);
    server.setActive(true);  // a later show changes nothing
    EXPECT_EQ(memo, std::vector<std::string>{"Listen"});
}

TEST_F(Station, NewConnectionLogsItsEventsInOrder) {
    server.setActive(true);
    Fd c = connect();
    ASSERT_TRUE(runUntil([&] { return count("ClientWrite") == 1; }));
    EXPECT_EQ(memo, (std::vector<std::string>{"Listen", "GetSocket", "ClientConnect", "Accept",
                                              "ClientWrite"}));
    EXPECT_TRUE(server.connections(0).connected());
}

TEST_F(Station, WithoutAStationAReplyIsOnlyLogged) {
    server.setActive(true);
    SendStationReply(log(), server, "READY");
    EXPECT_EQ(memo, (std::vector<std::string>{"Listen", "READY"}));
    EXPECT_TRUE(errors.empty());
}

TEST_F(Station, ReplyToACommandOfTheSecondStationGoesToTheFirst) {
    server.setActive(true);
    Fd first = connect();
    Fd second = connect();
    reply = "DATA_OK";
    send(second, "DrawFinished");
    ASSERT_TRUE(runUntil([&] { return count("DATA_OK") == 1; }));
    EXPECT_EQ(count("DrawFinished"), 1u);
    EXPECT_EQ(receive(first, 7), "DATA_OK");
    runUntil([] { return true; });
    EXPECT_TRUE(nothingWaiting(second));
}

TEST_F(Station, WhenTheFirstStationLeavesTheSecondBecomesConnectionZero) {
    server.setActive(true);
    Fd first = connect();
    Fd second = connect();
    const int secondHandle = server.connections(1).handle();
    first.reset();
    ASSERT_TRUE(runUntil([&] { return server.activeConnections() == 1; }));
    EXPECT_EQ(count("ClientDisconnect"), 1u);
    EXPECT_EQ(server.connections(0).handle(), secondHandle);
    SendStationReply(log(), server, "ROM_OK");
    EXPECT_EQ(receive(second, 6), "ROM_OK");
}

TEST_F(Station, RepliesCarryNoTerminatorAndMayArriveTogether) {
    server.setActive(true);
    Fd c = connect();
    SendStationReply(log(), server, "READY");
    SendStationReply(log(), server, "DATA_NG");
    EXPECT_EQ(receive(c, 12), "READYDATA_NG");
    runUntil([] { return true; });
    EXPECT_TRUE(nothingWaiting(c));
}

TEST_F(Station, ReceiveTextReturnsEverythingThatHasArrivedAsOneText) {
    server.setActive(true);
    Fd c = connect();
    send(c, "Ready");
    send(c, "ToAcquire");
    // Let both pieces reach the server's socket before any read event runs.
    int waiting = 0;
    for (int i = 0; i < 5000 && waiting < 14; ++i) {
        pollfd p{server.connections(0).handle(), POLLIN, 0};
        ::poll(&p, 1, 1);
        ::ioctl(server.connections(0).handle(), FIONREAD, &waiting);
    }
    ASSERT_EQ(waiting, 14);
    EXPECT_EQ(server.connections(0).ReceiveText(), "ReadyToAcquire");
    EXPECT_EQ(server.connections(0).ReceiveText(), "");
}

TEST_F(Station, BindFailureIsReportedAndTheNextActivationRetries) {
    auto other = TcpListener::bindAny(0);
    other.listen(5);
    server.setPort(other.localPort());
    try {
        server.setActive(true);
        FAIL() << "activation succeeded on a taken port";
    } catch (const SocketError& e) {
        EXPECT_STREQ(e.what(), "Windows socket error: Address already in use (98), on API 'bind'");
        EXPECT_EQ(e.code(), std::errc::address_in_use);  // the reason, as the errno family has it
    }
    EXPECT_FALSE(server.Active());
    { auto gone = std::move(other); }
    server.setActive(true);
    EXPECT_TRUE(server.Active());
    EXPECT_EQ(server.localPort(), server.Port());
}

TEST_F(Station, APeerThatResetsIsReportedThenDropped) {
    server.setActive(true);
    Fd c = connect();
    const linger hard{1, 0};
    ASSERT_EQ(::setsockopt(c.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
    c.reset();
    ASSERT_TRUE(runUntil([&] { return server.activeConnections() == 0; }));
    EXPECT_EQ(errors, std::vector<std::string>{"Asynchronous socket error 104"});
    const auto err = std::find(memo.begin(), memo.end(), "ClientError");
    ASSERT_NE(err, memo.end());
    EXPECT_NE(std::find(err, memo.end(), "ClientDisconnect"), memo.end());
}

TEST_F(Station, AnErrorClearedByTheHandlerIsNotRaised) {
    server.onClientError = [this](StationConnection&, ErrorEvent, int& code) {
        memo.push_back("ClientError");
        code = 0;
    };
    server.setActive(true);
    Fd c = connect();
    const linger hard{1, 0};
    ASSERT_EQ(::setsockopt(c.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
    c.reset();
    ASSERT_TRUE(runUntil([&] { return server.activeConnections() == 0; }));
    EXPECT_EQ(count("ClientError"), 1u);
    EXPECT_TRUE(errors.empty());
}

TEST_F(Station, AFloodIsHandedOverInBoundedTexts) {
    server.setLimits({.maxReadBytes = 4096});
    std::string got;
    std::size_t largest = 0;
    server.onClientRead = [&](StationConnection& conn) {
        const std::string t = conn.ReceiveText();
        largest = std::max(largest, t.size());
        got += t;
    };
    server.setActive(true);
    Fd c = connect();
    std::string flood;
    for (int i = 0; i < 20000; ++i) flood += char('a' + i % 26);
    send(c, flood);
    ASSERT_TRUE(runUntil([&] { return got.size() == flood.size(); }));
    EXPECT_EQ(got, flood);
    EXPECT_LE(largest, 4096u);
}

TEST_F(Station, AReadHandlerThatLeavesTheDataIsNotCalledAgainUntilItReads) {
    int reads = 0;
    server.onClientRead = [&](StationConnection&) { ++reads; };
    server.setActive(true);
    Fd c = connect();
    send(c, "x");
    ASSERT_TRUE(runUntil([&] { return reads == 1; }));
    // With the data left in place the descriptor stays readable; a few more loop rounds
    // must not call the handler again.
    for (int i = 0; i < 20; ++i) loop.processMessages();
    EXPECT_EQ(reads, 1);
    EXPECT_EQ(server.connections(0).ReceiveText(), "x");
    send(c, "y");
    ASSERT_TRUE(runUntil([&] { return reads == 2; }));
}

namespace {

// Fills the connection's socket until the server has to keep some of a reply back.
void fillUntilKept(TServerSocket& server, std::string& sent) {
    StationConnection& conn = server.connections(0);
    const std::string block(16 * 1024, 'r');
    for (int i = 0; i < 10000 && conn.pendingBytes() == 0; ++i) {
        std::string text = block;
        text[0] = char('A' + i % 26);  // makes order and loss visible
        conn.SendText(text);
        sent += text;
    }
    ASSERT_GT(conn.pendingBytes(), 0u);
}

}  // namespace

TEST_F(Station, AReplyThatWouldBlockIsSentLaterInOrder) {
    server.setLimits({.maxPendingBytes = 8 * 1024 * 1024, .stallTimeout = 3600s});
    // Real time only: the stall timer must not be reached by jumping the clock.
    loop.setRealWaitSlice(1000ms);
    server.setActive(true);
    Fd c = connect();
    std::string sent;
    fillUntilKept(server, sent);
    server.connections(0).SendText("READY");
    sent += "READY";
    std::atomic<std::size_t> received{0};
    std::string got;
    std::thread reader([&] {
        got = receive(c, sent.size());
        received = got.size();
    });
    const bool all = runUntil([&] { return received == sent.size(); });
    reader.join();
    ASSERT_TRUE(all);
    EXPECT_TRUE(got == sent);
    EXPECT_EQ(server.connections(0).pendingBytes(), 0u);
    EXPECT_GE(count("ClientWrite"), 2u);  // first writable, and writable again
}

TEST_F(Station, APeerThatReadsNothingForLongIsDisconnected) {
    server.setLimits({.maxPendingBytes = 8 * 1024 * 1024, .stallTimeout = 30s});
    server.setActive(true);
    Fd c = connect();
    std::string sent;
    fillUntilKept(server, sent);
    const Millis start = loop.monotonic();
    ASSERT_TRUE(runUntil([&] { return server.activeConnections() == 0; }));
    EXPECT_GE(loop.monotonic() - start, 30s);
    EXPECT_EQ(count("ClientDisconnect"), 1u);
}

TEST_F(Station, KeptRepliesBeyondTheBoundDisconnectThePeer) {
    server.setLimits({.maxPendingBytes = 64 * 1024});
    server.setActive(true);
    Fd c = connect();
    std::string sent;
    fillUntilKept(server, sent);
    const std::string big(64 * 1024, 'z');
    EXPECT_EQ(server.connections(0).SendText(big), 0);
    EXPECT_EQ(server.activeConnections(), 0);
    EXPECT_EQ(count("ClientDisconnect"), 1u);
}

TEST_F(Station, StationsBeyondTheBoundAreRefusedAndTheOthersKeepWorking) {
    server.setLimits({.maxConnections = 2});
    int refused = 0;
    server.onClientRefused = [&] { ++refused; };
    server.setActive(true);
    Fd a = connect();
    Fd b = connect();
    std::vector<Fd> extra;
    for (int i = 0; i < 3; ++i) extra.push_back(connectLoopback(server.localPort()));
    ASSERT_TRUE(runUntil([&] { return refused == 3; }));
    EXPECT_EQ(server.activeConnections(), 2);
    EXPECT_EQ(count("GetSocket"), 2u);  // nothing else ran for the refused ones
    for (const auto& fd : extra) {
        pollfd p{fd.get(), POLLIN, 0};
        ASSERT_EQ(::poll(&p, 1, 5000), 1);
        char ch;
        EXPECT_LE(::recv(fd.get(), &ch, 1, 0), 0);  // closed at once
    }
    // Once one leaves, the next station is taken again.
    a.reset();
    ASSERT_TRUE(runUntil([&] { return server.activeConnections() == 1; }));
    Fd c = connect();
    reply = "READY";
    send(c, "x");
    ASSERT_TRUE(runUntil([&] { return count("x") == 1; }));
    EXPECT_EQ(receive(b, 5), "READY");
}

TEST_F(Station, DeactivationClosesEveryConnection) {
    server.setActive(true);
    Fd a = connect();
    Fd b = connect();
    server.setActive(false);
    EXPECT_FALSE(server.Active());
    EXPECT_EQ(server.activeConnections(), 0);
    EXPECT_EQ(count("ClientDisconnect"), 2u);
    char ch;
    EXPECT_EQ(::recv(a.get(), &ch, 1, 0), 0);
}

TEST(StationConnectionIndex, OutOfRangeIsAnError) {
    VirtualEventLoop loop;
    TServerSocket server(loop);
    EXPECT_THROW(server.connections(0), std::out_of_range);
}
