#include "platform/net/Socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
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

ListenAddress::ListenAddress() : text_("0.0.0.0") {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_ANY);
    sockaddr_.assign(reinterpret_cast<const char*>(&a), sizeof a);
}

std::optional<ListenAddress> ListenAddress::parse(const std::string& text) {
    ListenAddress a;
    if (text.find(':') == std::string::npos) {
        // Dotted quads only: the older short forms ("127.1") read as some other address.
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        if (::inet_pton(AF_INET, text.c_str(), &v4.sin_addr) != 1) return std::nullopt;
        a.sockaddr_.assign(reinterpret_cast<const char*>(&v4), sizeof v4);
        a.text_ = text;
        return a;
    }
    // getaddrinfo for IPv6, as it also takes a zone ("fe80::1%eth0").
    addrinfo hints{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
    addrinfo* found = nullptr;
    if (::getaddrinfo(text.c_str(), "0", &hints, &found) != 0 || !found) return std::nullopt;
    a.ipv6_ = true;
    a.sockaddr_.assign(reinterpret_cast<const char*>(found->ai_addr), found->ai_addrlen);
    char host[NI_MAXHOST];
    a.text_ = ::getnameinfo(found->ai_addr, found->ai_addrlen, host, sizeof host, nullptr, 0,
                            NI_NUMERICHOST) == 0
                  ? host
                  : text;
    ::freeaddrinfo(found);
    return a;
}

std::string ListenAddress::withPort(std::uint16_t port) const {
    return (ipv6_ ? "[" + text_ + "]" : text_) + ":" + std::to_string(port);
}

TcpListener TcpListener::bind(const ListenAddress& address, std::uint16_t port) {
    const int family = address.ipv6_ ? AF_INET6 : AF_INET;
    Fd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
    if (!fd.valid()) throw SocketError(errno, "socket");
    // Lets a restart bind while old connections of the previous run sit in TIME_WAIT; a
    // port held by a live listener is still refused.
    const int on = 1;
    if (::setsockopt(fd.get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        throw SocketError(errno, "setsockopt");
    // "::" takes IPv4 connections too, whatever the system's default for new sockets.
    const int off = 0;
    if (address.ipv6_ && ::setsockopt(fd.get(), IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off) != 0)
        throw SocketError(errno, "setsockopt");
    sockaddr_storage addr{};
    std::memcpy(&addr, address.sockaddr_.data(), address.sockaddr_.size());
    if (address.ipv6_)
        reinterpret_cast<sockaddr_in6&>(addr).sin6_port = htons(port);
    else
        reinterpret_cast<sockaddr_in&>(addr).sin_port = htons(port);
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr),
               socklen_t(address.sockaddr_.size())) != 0)
        throw SocketError(errno, "bind");
    return TcpListener(std::move(fd));
}

void TcpListener::listen(int backlog) {
    if (::listen(fd_.get(), backlog) != 0) throw SocketError(errno, "listen");
}

std::uint16_t TcpListener::localPort() const {
    sockaddr_storage addr{};
    socklen_t len = sizeof addr;
    if (::getsockname(fd_.get(), reinterpret_cast<sockaddr*>(&addr), &len) != 0) return 0;
    if (addr.ss_family == AF_INET6) return ntohs(reinterpret_cast<sockaddr_in6&>(addr).sin6_port);
    return ntohs(reinterpret_cast<sockaddr_in&>(addr).sin_port);
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
