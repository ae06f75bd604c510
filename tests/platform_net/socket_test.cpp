#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/net/Socket.h"

using namespace tc::platform::net;

namespace {

// Waits (bounded) until `fd` reports `events`.
bool waitFor(int fd, short events, int timeoutMs = 5000) {
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

TcpStream acceptOne(TcpListener& l) {
    EXPECT_TRUE(waitFor(l.fd(), POLLIN));
    auto s = l.accept();
    EXPECT_TRUE(s.has_value());
    return std::move(*s);
}

}  // namespace

TEST(SocketErrorText, NamesMessageNumberAndCall) {
    EXPECT_EQ(socketErrorText(EADDRINUSE, "bind"),
              "Windows socket error: Address already in use (98), on API 'bind'");
    const SocketError e(ECONNRESET, "recv");
    EXPECT_EQ(e.error(), ECONNRESET);
    EXPECT_EQ(e.api(), "recv");
    EXPECT_STREQ(e.what(), "Windows socket error: Connection reset by peer (104), on API 'recv'");
    // One of the errno family: whoever catches std::system_error gets the reason and the
    // same text.
    const std::system_error& family = e;
    EXPECT_EQ(family.code(), std::errc::connection_reset);
    EXPECT_STREQ(family.what(), e.what());
}

TEST(TcpListener, PortHeldByALiveListenerIsRefusedAtBind) {
    auto first = TcpListener::bindAny(0);
    first.listen(5);
    try {
        TcpListener::bindAny(first.localPort());
        FAIL() << "second bind succeeded";
    } catch (const SocketError& e) {
        EXPECT_EQ(e.error(), EADDRINUSE);
        EXPECT_EQ(e.api(), "bind");
    }
}

TEST(TcpListener, RestartBindsWhileAnOldConnectionSitsInTimeWait) {
    std::uint16_t port;
    {
        auto l = TcpListener::bindAny(0);
        l.listen(5);
        port = l.localPort();
        Fd client = connectLoopback(port);
        auto server = acceptOne(l);
        server.close();  // the server closes first, so its side enters TIME_WAIT
        char c;
        ASSERT_EQ(::recv(client.get(), &c, 1, 0), 0);
    }
    auto again = TcpListener::bindAny(port);
    again.listen(5);
    EXPECT_EQ(again.localPort(), port);
}

TEST(TcpListener, AcceptWithNothingWaitingGivesNothing) {
    auto l = TcpListener::bindAny(0);
    l.listen(5);
    EXPECT_FALSE(l.accept().has_value());
}

TEST(TcpStream, ReceiveTakesWhatHasArrivedAndSeesTheEnd) {
    auto l = TcpListener::bindAny(0);
    l.listen(5);
    Fd client = connectLoopback(l.localPort());
    auto s = acceptOne(l);
    char buf[16];
    EXPECT_EQ(s.receive(buf).status, IoStatus::WouldBlock);
    ASSERT_EQ(::send(client.get(), "abcdef", 6, 0), 6);
    ASSERT_TRUE(waitFor(s.fd(), POLLIN));
    EXPECT_EQ(s.peek().status, IoStatus::Done);
    const auto r = s.receive(std::span<char>(buf, 4));
    EXPECT_EQ(r.status, IoStatus::Done);
    EXPECT_EQ(std::string(buf, r.bytes), "abcd");
    client.reset();
    ASSERT_TRUE(waitFor(s.fd(), POLLIN));
    const auto rest = s.receive(buf);
    EXPECT_EQ(std::string(buf, rest.bytes), "ef");
    EXPECT_EQ(s.receive(buf).status, IoStatus::Closed);
    EXPECT_EQ(s.peek().status, IoStatus::Closed);
}

TEST(TcpStream, SendToAResetPeerFailsWithoutSigpipe) {
    auto l = TcpListener::bindAny(0);
    l.listen(5);
    Fd client = connectLoopback(l.localPort());
    auto s = acceptOne(l);
    const linger hard{1, 0};
    ASSERT_EQ(::setsockopt(client.get(), SOL_SOCKET, SO_LINGER, &hard, sizeof hard), 0);
    client.reset();  // sends a reset
    ASSERT_TRUE(waitFor(s.fd(), POLLIN));
    EXPECT_EQ(s.takePendingError(), ECONNRESET);
    EXPECT_EQ(s.takePendingError(), 0);
    // A process without a SIGPIPE handler would die here if the flag were missing.
    const auto r = s.send(std::string_view("x"));
    EXPECT_EQ(r.status, IoStatus::Failed);
    EXPECT_EQ(r.error, EPIPE);
}

TEST(TcpStream, SendIntoAFullBufferTakesPartOrWouldBlock) {
    auto l = TcpListener::bindAny(0);
    l.listen(5);
    Fd client = connectLoopback(l.localPort());
    auto s = acceptOne(l);
    const std::string chunk(64 * 1024, 'x');
    std::size_t sent = 0;
    IoResult r{IoStatus::Done};
    for (int i = 0; i < 10000; ++i) {
        r = s.send(chunk);
        sent += r.bytes;
        if (r.status != IoStatus::Done || r.bytes < chunk.size()) break;
    }
    EXPECT_NE(r.status, IoStatus::Failed);
    EXPECT_LT(r.bytes, chunk.size());
    EXPECT_GT(sent, 0u);
}

namespace {
void ignoreSignal(int) {}
}  // namespace

// A signal that breaks into the wait of a loopback connect does not make it a failure: the
// connection goes on being made and the caller gets it. The listener's queue is filled so
// the connect has to wait (the kernel only answers its retried SYN once there is room).
TEST(Loopback, AConnectInterruptedByASignalStillConnects) {
    auto listener = TcpListener::bindAny(0);
    ASSERT_EQ(::listen(listener.fd(), 0), 0);
    const auto port = listener.localPort();
    std::vector<Fd> waiting;
    for (int i = 0; i < 8; ++i) {
        Fd c(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        ::connect(c.get(), reinterpret_cast<const sockaddr*>(&a), sizeof a);
        waiting.push_back(std::move(c));
    }
    struct sigaction sa {
    }, old{};
    sa.sa_handler = ignoreSignal;  // no SA_RESTART: the connect returns EINTR
    sigemptyset(&sa.sa_mask);
    ASSERT_EQ(::sigaction(SIGUSR1, &sa, &old), 0);

    const pthread_t caller = ::pthread_self();
    std::atomic<bool> connected{false};
    std::thread helper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        ::pthread_kill(caller, SIGUSR1);
        // Make room: take everything queued until the caller has its connection.
        for (int i = 0; i < 500 && !connected; ++i) {
            pollfd p{listener.fd(), POLLIN, 0};
            if (::poll(&p, 1, 10) == 1) {
                const int s = ::accept4(listener.fd(), nullptr, nullptr, SOCK_CLOEXEC);
                if (s >= 0) waiting.emplace_back(s);
            }
        }
    });
    bool threw = false;
    try {
        Fd fd = connectLoopback(port);
        EXPECT_TRUE(fd.valid());
    } catch (const SocketError& e) {
        threw = true;
        ADD_FAILURE() << e.what();
    }
    connected = true;
    helper.join();
    ::sigaction(SIGUSR1, &old, nullptr);
    EXPECT_FALSE(threw);
}
