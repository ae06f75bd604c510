// What a station sends, any bytes, over a real loopback connection into the main window's
// station server and its read handler.
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>

#include "fuzz/AppRig.h"
#include "platform/net/Socket.h"

using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tc::fuzz::AppRig& rig = []() -> tc::fuzz::AppRig& {
        static tc::fuzz::AppRig r(tc::fuzz::rigFolder("station"));
        r.form->FormShow();
        return r;
    }();
    auto& server = rig.form->ServerSocket1;
    {
        auto client = tc::platform::net::connectLoopback(server.localPort());
        if (!rig.loop.runUntil([&] { return server.activeConnections() == 1; }, 60000ms, 2000ms))
            __builtin_trap();
        if (size) ::send(client.get(), data, size, MSG_NOSIGNAL);
    }
    // The peer has gone: everything it sent is read, then the connection closes.
    if (!rig.loop.runUntil([&] { return server.activeConnections() == 0; }, 60000ms, 2000ms))
        __builtin_trap();
    return 0;
}
