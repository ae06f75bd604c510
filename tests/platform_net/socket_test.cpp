#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

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
