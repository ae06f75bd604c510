// Non-blocking TCP sockets: a listener (IPv4 or IPv6) and an accepted stream. Nothing here
// waits; readiness comes from a loop watch (EventLoop::watch) on fd().
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/UniqueFd.h"
#include "platform/WordedError.h"

namespace tc::platform::net {

// A failed socket call, worded the way the window's error box shows it:
// "Windows socket error: <system message> (<errno>), on API '<call>'". error() is the errno.
class SocketError : public tc::platform::WordedError {
public:
    SocketError(int error, std::string api);
    const std::string& api() const { return api_; }

private:
    std::string api_;
};

std::string socketErrorText(int code, const std::string& api);

// An owned socket descriptor.
using Fd = tc::platform::UniqueFd;

class TcpStream;

// A local address to listen on, IPv4 or IPv6, without a port.
class ListenAddress {
public:
    // Every local IPv4 address (0.0.0.0).
    ListenAddress();
    // A numeric IPv4 ("127.0.0.1") or IPv6 address ("::1", "fe80::1%eth0"); nothing for any
    // other text (names are not looked up).
    static std::optional<ListenAddress> parse(const std::string& text);

    bool ipv6() const { return ipv6_; }
    // The address as the system writes it ("0.0.0.0", "::1").
    const std::string& text() const { return text_; }
    // "<address>:<port>", IPv6 in brackets.
    std::string withPort(std::uint16_t port) const;

private:
    friend class TcpListener;
    bool ipv6_ = false;
    std::string text_;
    std::string sockaddr_;  // sockaddr_in or sockaddr_in6 bytes, port 0
};

class TcpListener {
public:
    // socket, SO_REUSEADDR and bind on `address` (for "::" IPv4 too, mapped); throws
    // SocketError naming "socket", "setsockopt" or "bind". Port 0 takes an ephemeral port.
    static TcpListener bind(const ListenAddress& address, std::uint16_t port);
    // The same on every local IPv4 address.
    static TcpListener bindAny(std::uint16_t port) { return bind(ListenAddress(), port); }
    // listen(); throws SocketError naming "listen".
    void listen(int backlog);

    int fd() const { return fd_.get(); }
    std::uint16_t localPort() const;
    // One pending connection, or nothing when none is waiting (or it vanished before it
    // was taken). Throws SocketError naming "accept" on a real failure.
    std::optional<TcpStream> accept();

private:
    explicit TcpListener(Fd fd) : fd_(std::move(fd)) {}
    Fd fd_;
};

enum class IoStatus { Done, WouldBlock, Closed, Failed };

struct IoResult {
    IoStatus status;
    std::size_t bytes = 0;  // moved by the call
    int error = 0;          // errno when Failed
};

class TcpStream {
public:
    explicit TcpStream(Fd fd) : fd_(std::move(fd)) {}

    int fd() const { return fd_.get(); }
    bool open() const { return fd_.valid(); }
    void close() { fd_.reset(); }

    // Takes what has arrived, at most `buffer.size()` bytes, without waiting. Closed when
    // the peer has ended its side and nothing is left.
    IoResult receive(std::span<char> buffer);
    // Looks whether the next receive would give data, an end or an error, without taking
    // anything.
    IoResult peek();
    // Sends without waiting and without SIGPIPE; bytes may be fewer than offered.
    IoResult send(std::span<const char> data);
    // The pending error of the socket (SO_ERROR), cleared by reading it; 0 when none.
    int takePendingError();

private:
    Fd fd_;
};

// Connects a blocking client to 127.0.0.1:port; for tests and tools.
Fd connectLoopback(std::uint16_t port);

}  // namespace tc::platform::net
