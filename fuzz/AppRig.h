// The main window on virtual time with the virtual controller, in a folder of its own,
// as the fuzz targets that drive the whole program need it. The printer's port points at
// a path that is not there, so no input can reach a real line of this machine, and the
// station server takes an ephemeral port, so runs never collide.
#pragma once

#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>

#include "app/Unit1.h"
#include "platform/VirtualEventLoop.h"
#include "sim/hid/VirtualController.h"

namespace tc::fuzz {

inline std::filesystem::path rigFolder(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("touchcal-fuzz-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

struct AppRig {
    platform::VirtualEventLoop loop;
    std::filesystem::path dir;
    sim::hid::VirtualController hid{loop, sim::hid::defaultScenario()};
    std::unique_ptr<app::TForm1> form;

    // `dir` must exist; the window is built and FormCreate has run.
    explicit AppRig(std::filesystem::path folder) : dir(std::move(folder)) {
        loop.setErrorSink([](const std::string&) {});
        app::DeviceOptions devices;
        devices.serialDevice = (dir / "no-such-tty").string();
        devices.stationPort = 0;
        form = std::make_unique<app::TForm1>(loop, hid, app::AppPaths{dir, dir}, app::HostInfo{},
                                             devices);
        form->FormCreate();
    }
};

}  // namespace tc::fuzz
