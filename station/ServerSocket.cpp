#include "station/ServerSocket.h"

#include <cerrno>
#include <stdexcept>

namespace tc::station {

using tc::platform::FdEvent;
using tc::platform::Millis;
using tc::platform::net::IoStatus;
using tc::platform::net::TcpListener;
using tc::platform::net::TcpStream;

namespace {

constexpr int kBacklog = 5;
// Connections taken per accept event, so a burst of connects cannot hold up the loop.
constexpr int kAcceptBatch = 16;
// After running out of descriptors the listener rests this long instead of spinning on
// a queue it cannot take from.
constexpr Millis kAcceptRest{1000};

}  // namespace

struct TServerSocket::Listener {
    explicit Listener(TcpListener s) : socket(std::move(s)) {}
    TcpListener socket;
    // After the socket, so they go before it closes.
    tc::platform::WatchHandle watch;
    tc::platform::TimerHandle restTimer;
};

// --- StationConnection ---

StationConnection::StationConnection(TServerSocket& server, TcpStream stream)
    : server_(server), stream_(std::move(stream)) {}

std::string StationConnection::ReceiveText() {
    server_.loop_.assertMainThread("StationConnection::ReceiveText");
    if (!connected_) return {};
    readTaken_ = true;
    if (readPaused_) {
        readPaused_ = false;
        server_.updateWatch(*this);
    }
    std::vector<char>& scratch = server_.readScratch_;
    scratch.resize(server_.limits_.maxReadBytes);
    const auto r = stream_.receive(scratch);
    if (r.status == IoStatus::Failed) {
        server_.transferError(*this, ErrorEvent::Receive, r.error, "recv");
        return {};
    }
    return std::string(scratch.data(), r.bytes);
}

int StationConnection::SendText(std::string_view text) {
    server_.loop_.assertMainThread("StationConnection::SendText");
    if (!connected_) return 0;
    if (text.empty()) return 0;
    if (!pending_.empty()) {
        // Keep the order: later texts wait behind the ones already kept.
        if (pending_.size() + text.size() > server_.limits_.maxPendingBytes) {
            server_.closeConnection(*this, true);
            return 0;
        }
        pending_.append(text);
        return int(text.size());
    }
    const auto r = stream_.send(text);
    if (r.status == IoStatus::Failed) {
        server_.transferError(*this, ErrorEvent::Send, r.error, "send");
        return 0;
    }
    if (r.bytes < text.size()) {
        const auto rest = text.substr(r.bytes);
        if (rest.size() > server_.limits_.maxPendingBytes) {
            server_.closeConnection(*this, true);
            return int(r.bytes);
        }
        pending_.assign(rest);
        server_.updateWatch(*this);
        server_.restartStallTimer(*this);
    }
    return int(text.size());
}

// --- TServerSocket ---

TServerSocket::TServerSocket(tc::platform::EventLoop& loop) : loop_(loop) {}

TServerSocket::~TServerSocket() {
    loop_.assertMainThread("TServerSocket::~TServerSocket");
    // A connection someone still holds outlives the server: its registrations go now.
    while (!connections_.empty()) release(*connections_.front());
}

void TServerSocket::setLimits(const Limits& limits) {
    loop_.assertMainThread("TServerSocket::setLimits");
    limits_ = limits;
    // A smaller read bound gives back what a larger one took.
    if (readScratch_.size() > limits_.maxReadBytes) {
        readScratch_.resize(limits_.maxReadBytes);
        readScratch_.shrink_to_fit();
    }
}

std::uint16_t TServerSocket::localPort() const {
    return listener_ ? listener_->socket.localPort() : 0;
}

StationConnection& TServerSocket::connections(int index) const {
    if (index < 0 || index >= int(connections_.size()))
        throw std::out_of_range("List index out of bounds (" + std::to_string(index) + ")");
    return *connections_[std::size_t(index)];
}

void TServerSocket::setActive(bool active) {
    loop_.assertMainThread("TServerSocket::setActive");
    if (active == Active()) return;
    if (!active) {
        while (!connections_.empty()) closeConnection(*connections_.front(), true);
        listener_.reset();
        return;
    }
    if (port_ < 0 || port_ > 65535) throw SocketError(EINVAL, "bind");
    auto l = std::make_unique<Listener>(TcpListener::bind(address_, std::uint16_t(port_)));
    l->watch = loop_.watch(l->socket.fd(), FdEvent::Read, [this](FdEvent) { onListenerReady(); });
    // A failure here drops `l`, and its watch with it.
    if (onListen) onListen();
    l->socket.listen(kBacklog);
    listener_ = std::move(l);
}

void TServerSocket::onListenerReady() {
    for (int i = 0; i < kAcceptBatch && listener_; ++i) {
        std::optional<TcpStream> s;
        try {
            s = listener_->socket.accept();
        } catch (const SocketError& e) {
            if (e.error() == EMFILE || e.error() == ENFILE || e.error() == ENOBUFS ||
                e.error() == ENOMEM) {
                listener_->watch.setEvents(FdEvent::None);
                listener_->restTimer = loop_.after(kAcceptRest, [this] { resumeAccepting(); });
            }
            throw;
        }
        if (!s) return;
        if (connections_.size() >= limits_.maxConnections) {
            s->close();
            if (onClientRefused) onClientRefused();
            continue;
        }
        if (onGetSocket) onGetSocket(s->fd());
        auto c = std::make_shared<StationConnection>(*this, std::move(*s));
        connections_.push_back(c);
        // Writable is watched until the first time it is reported: that is the
        // connection's first "ClientWrite".
        std::weak_ptr<StationConnection> weak = c;
        c->watch_ =
            loop_.watch(c->handle(), FdEvent::Read | FdEvent::Write, [this, weak](FdEvent ev) {
                if (auto strong = weak.lock()) onConnectionReady(strong, ev);
            });
        if (onClientConnect) onClientConnect(*c);
        if (c->connected() && onAccept) onAccept(*c);
    }
}

void TServerSocket::resumeAccepting() {
    if (listener_) listener_->watch.setEvents(FdEvent::Read);
}

void TServerSocket::onConnectionReady(const std::shared_ptr<StationConnection>& holder,
                                      FdEvent ev) {
    StationConnection& c = *holder;
    if (!c.connected_) return;
    if (any(ev & FdEvent::Error)) {
        if (const int err = c.stream_.takePendingError()) {
            asyncError(c, ErrorEvent::General, err);
            return;
        }
    }
    if (any(ev & FdEvent::Write)) onWritable(c);
    if (!c.connected_ || !any(ev & (FdEvent::Read | FdEvent::HangUp))) return;
    if (c.readPaused_) {
        // Only a hang-up can come here while reads are held; the end is seen once the
        // handler has taken the data.
        return;
    }
    const auto r = c.stream_.peek();
    switch (r.status) {
        case IoStatus::Done:
            c.readTaken_ = false;
            if (onClientRead) onClientRead(c);
            // A handler that leaves the data waiting would be called again at once for
            // ever; hold read events until it takes them, as a station would expect of
            // a read notification.
            if (c.connected_ && !c.readTaken_) {
                c.readPaused_ = true;
                updateWatch(c);
            }
            break;
        case IoStatus::Closed:
            closeConnection(c, true);
            break;
        case IoStatus::Failed:
            if (any(ev & FdEvent::HangUp)) {
                // The peer is gone for good and its error has been seen already.
                closeConnection(c, true);
            } else {
                asyncError(c, ErrorEvent::Receive, r.error);
            }
            break;
        case IoStatus::WouldBlock:
            break;
    }
}

void TServerSocket::onWritable(StationConnection& c) {
    if (!c.pending_.empty()) {
        flushPending(c);
        if (!c.connected_ || !c.pending_.empty()) return;
    }
    c.firstWriteSeen_ = true;
    updateWatch(c);
    if (onClientWrite) onClientWrite(c);
}

void TServerSocket::flushPending(StationConnection& c) {
    const auto r = c.stream_.send(c.pending_);
    if (r.status == IoStatus::Failed) {
        transferError(c, ErrorEvent::Send, r.error, "send");
        return;
    }
    c.pending_.erase(0, r.bytes);
    if (c.pending_.empty()) {
        // Give the room back: a peer that once fell behind must not keep up to the
        // bound resident for the rest of its connection.
        std::string().swap(c.pending_);
        c.stallTimer_.reset();
    } else if (r.bytes > 0) {
        restartStallTimer(c);
    }
}

void TServerSocket::updateWatch(StationConnection& c) {
    if (!c.connected_) return;
    FdEvent ev = FdEvent::None;
    if (!c.readPaused_) ev = ev | FdEvent::Read;
    if (!c.firstWriteSeen_ || !c.pending_.empty()) ev = ev | FdEvent::Write;
    c.watch_.setEvents(ev);
}

void TServerSocket::restartStallTimer(StationConnection& c) {
    StationConnection* raw = &c;
    // The timer goes with the connection (or its close), so `raw` is alive when it fires.
    c.stallTimer_ = loop_.after(limits_.stallTimeout, [this, raw] { closeConnection(*raw, true); });
}

void TServerSocket::closeConnection(StationConnection& c, bool notify) {
    if (!c.connected_) return;
    if (notify && onClientDisconnect) {
        try {
            onClientDisconnect(c);
        } catch (...) {
            release(c);
            throw;
        }
    }
    release(c);
}

void TServerSocket::release(StationConnection& c) {
    // Keep the object alive to the end of this call, whoever else lets go of it.
    std::shared_ptr<StationConnection> keep;
    for (auto it = connections_.begin(); it != connections_.end(); ++it) {
        if (it->get() == &c) {
            keep = *it;
            connections_.erase(it);
            break;
        }
    }
    if (!c.connected_) return;
    c.connected_ = false;
    // The object may live on in a holder's hands; what it registered ends with the close.
    c.watch_.reset();
    c.stallTimer_.reset();
    std::string().swap(c.pending_);
    c.stream_.close();
}

void TServerSocket::asyncError(StationConnection& c, ErrorEvent kind, int code) {
    int errorCode = code;
    if (onClientError) onClientError(c, kind, errorCode);
    if (errorCode != 0)
        throw tc::platform::WordedError(errorCode,
                                        "Asynchronous socket error " + std::to_string(errorCode));
}

void TServerSocket::transferError(StationConnection& c, ErrorEvent kind, int code,
                                  const char* api) {
    int errorCode = code;
    try {
        if (onClientError) onClientError(c, kind, errorCode);
    } catch (...) {
        closeConnection(c, true);
        throw;
    }
    closeConnection(c, true);
    if (errorCode != 0) throw SocketError(errorCode, api);
}

void SendStationReply(const std::function<void(const std::string&)>& log, TServerSocket& server,
                      const std::string& text) {
    if (log) log(text);
    if (server.activeConnections() > 0) {
        StationConnection& first = server.connections(0);
        if (first.connected()) first.SendText(text);
    }
}

}  // namespace tc::station
