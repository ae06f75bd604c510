// ServerSocket1: the test station's TCP server. Event driven on the main loop, no worker
// threads; every event runs the matching handler that the main window sets.
//
// Threads: everything here belongs to the thread of the loop the server was made with (the
// main thread). Activation, the limits, ReceiveText, SendText and SendStationReply are
// called there, and every handler runs there, from the loop's watches and timers. Entry
// points check it (EventLoop::assertMainThread). Nothing is safe from another thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/net/Socket.h"

namespace tc::station {

using tc::platform::net::SocketError;

// What a connection was doing when an error was reported with one of its events.
enum class ErrorEvent { General, Send, Receive, Connect, Disconnect, Accept };

class TServerSocket;

// One accepted station connection. It stays a valid object for as long as someone holds
// it; once closed it is no longer connected and every transfer on it does nothing.
class StationConnection {
public:
    StationConnection(TServerSocket& server, tc::platform::net::TcpStream stream);
    StationConnection(const StationConnection&) = delete;
    StationConnection& operator=(const StationConnection&) = delete;

    bool connected() const { return connected_; }
    int handle() const { return stream_.fd(); }  // -1 once closed

    // Everything that has arrived, as one text (possibly empty), at most the server's
    // read bound per call. A failed receive closes the connection and raises
    // "Windows socket error ... on API 'recv'".
    std::string ReceiveText();
    // Sends the bytes as they are, no terminator added. What the socket cannot take now
    // is kept and sent when it becomes writable again. Returns the number of bytes taken
    // (0 when the connection is closed). A failed send closes the connection and raises
    // "Windows socket error ... on API 'send'".
    int SendText(std::string_view text);

    // Bytes accepted by SendText that the socket has not taken yet.
    std::size_t pendingBytes() const { return pending_.size(); }

private:
    friend class TServerSocket;

    TServerSocket& server_;
    tc::platform::net::TcpStream stream_;
    bool connected_ = true;
    tc::platform::WatchHandle watch_;
    tc::platform::TimerHandle stallTimer_;  // runs while kept bytes wait for a peer
    std::string pending_;
    bool firstWriteSeen_ = false;
    bool readTaken_ = false;   // ReceiveText ran since the last read event
    bool readPaused_ = false;  // read events held until the handler takes the data
};

class TServerSocket {
public:
    using ConnectionEvent = std::function<void(StationConnection&)>;
    // The handler may set `errorCode` to 0 to keep the error from being raised.
    using ErrorHandler = std::function<void(StationConnection&, ErrorEvent, int& errorCode)>;

    struct Limits {
        // The most ReceiveText hands over at once; more waiting makes a further read event.
        std::size_t maxReadBytes = 64 * 1024;
        // Unsent reply bytes kept for a peer that does not read; beyond this it is
        // disconnected.
        std::size_t maxPendingBytes = 1024 * 1024;
        // A peer that takes none of the kept bytes for this long is disconnected.
        tc::platform::Millis stallTimeout{30000};
        // Open connections at most; a station connecting beyond this is accepted and
        // closed at once (onClientRefused), so no number of peers grows the process.
        std::size_t maxConnections = 32;
    };

    explicit TServerSocket(tc::platform::EventLoop& loop);
    // Closes every connection and the listening socket without running any handler: the
    // window that set them is going away. The loop outlives the server.
    ~TServerSocket();
    TServerSocket(const TServerSocket&) = delete;
    TServerSocket& operator=(const TServerSocket&) = delete;

    // The port to listen on at the next activation (10000 at creation; 0 takes an
    // ephemeral port, see localPort).
    void setPort(int port) { port_ = port; }
    int Port() const { return port_; }
    // The address to listen on at the next activation (every IPv4 address at creation).
    void setListenAddress(tc::platform::net::ListenAddress address) {
        address_ = std::move(address);
    }
    const tc::platform::net::ListenAddress& listenAddress() const { return address_; }
    // The port actually listened on while active, 0 otherwise.
    std::uint16_t localPort() const;

    bool Active() const { return listener_ != nullptr; }
    // true: listen on the listen address (backlog 5); nothing happens when already
    // listening. A failure raises SocketError ("Windows socket error: %s (%d), on API
    // '%s'") and leaves the server inactive, so a later activation tries again.
    // false: close every connection (their disconnect handlers run) and stop listening.
    void setActive(bool active);

    // Open connections in the order they were accepted; index 0 is the oldest.
    int activeConnections() const { return int(connections_.size()); }
    StationConnection& connections(int index) const;

    void setLimits(const Limits& limits);
    const Limits& getLimits() const { return limits_; }

    // Event handlers (all optional).
    std::function<void()> onListen;
    std::function<void(int socketHandle)> onGetSocket;
    ConnectionEvent onClientConnect;
    ConnectionEvent onAccept;
    ConnectionEvent onClientRead;
    ConnectionEvent onClientWrite;  // first writable, and writable again after a full buffer
    ConnectionEvent onClientDisconnect;
    ErrorHandler onClientError;
    // A connection beyond Limits::maxConnections was closed as soon as it was accepted;
    // no other handler runs for it.
    std::function<void()> onClientRefused;

private:
    friend class StationConnection;
    struct Listener;

    void onListenerReady();
    void onConnectionReady(const std::shared_ptr<StationConnection>& c, tc::platform::FdEvent ev);
    void onWritable(StationConnection& c);
    void flushPending(StationConnection& c);
    void updateWatch(StationConnection& c);
    void restartStallTimer(StationConnection& c);
    // Runs the disconnect handler (when `notify`), then closes and drops the connection.
    void closeConnection(StationConnection& c, bool notify);
    void release(StationConnection& c);
    // Error reported with an event: the handler may clear it, otherwise it is raised as
    // "Asynchronous socket error %d".
    void asyncError(StationConnection& c, ErrorEvent kind, int code);
    // A receive or send that failed: handler, close, then the socket error is raised.
    void transferError(StationConnection& c, ErrorEvent kind, int code, const char* api);
    void resumeAccepting();

    tc::platform::EventLoop& loop_;
    int port_ = 10000;
    tc::platform::net::ListenAddress address_;
    Limits limits_;
    std::unique_ptr<Listener> listener_;
    std::vector<std::shared_ptr<StationConnection>> connections_;
    std::vector<char> readScratch_;  // one read's worth, reused; never more than the bound
};

// The one way a reply leaves the program: logged as a line, then sent (without any
// terminator) to connection 0 when there is one and it is connected.
void SendStationReply(const std::function<void(const std::string&)>& log, TServerSocket& server,
                      const std::string& text);

}  // namespace tc::station
