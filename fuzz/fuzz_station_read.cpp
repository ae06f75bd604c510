// What a station sends, any bytes, over a real loopback connection into the main window's
// station server and its read handler.
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>

#include "app/Unit1.h"
#include "platform/VirtualEventLoop.h"
#include "platform/net/Socket.h"
#include "sim/hid/VirtualController.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

struct Rig {
    tc::platform::VirtualEventLoop loop;
    std::unique_ptr<tc::sim::hid::VirtualController> hid;
    std::unique_ptr<tc::app::TForm1> form;

    Rig() {
        const fs::path dir =
            fs::temp_directory_path() / ("touchcal-fuzz-station-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        loop.setErrorSink([](const std::string&) {});
        hid = std::make_unique<tc::sim::hid::VirtualController>(loop,
                                                               tc::sim::hid::defaultScenario());
        tc::app::DeviceOptions devices;
        devices.serialDevice = (dir / "no-such-tty").string();
        devices.stationPort = 0;  // an ephemeral port, so runs never collide
        form = std::make_unique<tc::app::TForm1>(loop, *hid, tc::app::AppPaths{dir, dir},
                                                 tc::app::HostInfo{}, devices);
        form->FormCreate();
        form->FormShow();
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    auto& server = rig.form->ServerSocket1;
    {
        auto client = tc::platform::net::connectLoopback(server.LocalPort());
        if (!rig.loop.runUntil([&] { return server.ActiveConnections() == 1; }, 60000ms, 2000ms))
            __builtin_trap();
        if (size) ::send(client.get(), data, size, MSG_NOSIGNAL);
    }
    // The peer has gone: everything it sent is read, then the connection closes.
    if (!rig.loop.runUntil([&] { return server.ActiveConnections() == 0; }, 60000ms, 2000ms))
        __builtin_trap();
    return 0;
}
