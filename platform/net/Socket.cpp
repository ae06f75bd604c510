#include "platform/net/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

namespace tc::platform::net {

std::string socketErrorText(int code, const std::string& api) {
    char buf[256];
    const char* msg = strerror_r(code, buf, sizeof buf);
    return "Windows socket error: " + std::string(msg) + " (" + std::to_string(code) +
           "), on API '" + api + "'";
}

SocketError::SocketError(int error, std::string api)
    : WordedError(error, socketErrorText(error, api)), api_(std::move(api)) {}

TcpListener TcpListener::bindAny(std::uint16_t port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) throw SocketError(errno, "socket");
    // Lets a restart bind while old connections of the previous run sit in TIME_WAIT; a
    // port held by a live listener is still refused.
    const int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        throw SocketError(errno, "setsockopt");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_ANY);
    addr.sin_port = htons(port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        throw SocketError(errno, "bind");
    return TcpListener(std::move(fd));
}

void TcpListener::listen(int backlog) {
    if (::listen(fd_.get(), backlog) != 0) throw SocketError(errno, "listen");
}

std::uint16_t TcpListener::localPort() const {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    return ntohs(addr.sin_port);
}

std::optional<TcpStream> TcpListener::accept() {
    for (;;) {
        const int c = ::accept4(fd_.get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (c >= 0) return TcpStream(Fd(c));
        switch (errno) {
            case EINTR:
                continue;
            case EAGAIN:
#if EAGAIN != EWOULDBLOCK
            case EWOULDBLOCK:
#endif
            // The peer gave up before we took it: nothing to accept.
            case ECONNABORTED:
            case EPROTO:
                return std::nullopt;
            default:
                throw SocketError(errno, "accept");
        }
    }
}

namespace {

bool wouldBlock(int e) {
    return e == EAGAIN || e == EWOULDBLOCK;
}

}  // namespace

IoResult TcpStream::receive(std::span<char> buffer) {
    std::size_t total = 0;
    while (total < buffer.size()) {
        const ssize_t n = ::recv(fd_.get(), buffer.data() + total, buffer.size() - total, 0);
        if (n > 0) {
            total += std::size_t(n);
            continue;
        }
        if (n == 0) return {total ? IoStatus::Done : IoStatus::Closed, total};
        if (errno == EINTR) continue;
        if (wouldBlock(errno)) return {total ? IoStatus::Done : IoStatus::WouldBlock, total};
        // Bytes already taken are handed over; the error shows on the next call.
        if (total) return {IoStatus::Done, total};
        return {IoStatus::Failed, 0, errno};
    }
    return {IoStatus::Done, total};
}

IoResult TcpStream::peek() {
    char c;
    for (;;) {
        const ssize_t n = ::recv(fd_.get(), &c, 1, MSG_PEEK);
        if (n > 0) return {IoStatus::Done, 1};
        if (n == 0) return {IoStatus::Closed};
        if (errno == EINTR) continue;
        if (wouldBlock(errno)) return {IoStatus::WouldBlock};
        return {IoStatus::Failed, 0, errno};
    }
}

IoResult TcpStream::send(std::span<const char> data) {
    std::size_t total = 0;
    while (total < data.size()) {
        const ssize_t n = ::send(fd_.get(), data.data() + total, data.size() - total,
                                 MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            total += std::size_t(n);
            continue;
        }
        if (errno == EINTR) continue;
        if (wouldBlock(errno)) return {total ? IoStatus::Done : IoStatus::WouldBlock, total};
        return {IoStatus::Failed, total, errno};
    }
    return {IoStatus::Done, total};
}

int TcpStream::takePendingError() {
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) return errno;
    return err;
}

Fd connectLoopback(std::uint16_t port) {
    Fd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!fd.valid()) throw SocketError(errno, "socket");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (errno != EINTR) throw SocketError(errno, "connect");
    // A signal broke into the wait, but the connection goes on being made: a second
    // connect would only say EALREADY. Wait for it to finish and take its outcome.
    pollfd p{fd.get(), POLLOUT, 0};
    while (::poll(&p, 1, -1) < 0) {
        if (errno != EINTR) throw SocketError(errno, "poll");
    }
    int err = 0;
    socklen_t len = sizeof err;
    if (::getsockopt(fd.get(), SOL_SOCKET, SO_ERROR, &err, &len) != 0) err = errno;
    if (err != 0) throw SocketError(err, "connect");
    return fd;
}

}  // namespace tc::platform::net
