// A main window on virtual time in a folder of its own.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/Unit1.h"
#include "platform/Files.h"
#include "platform/VirtualEventLoop.h"
#include "sim/hid/VirtualController.h"

namespace tc::testing {

inline std::filesystem::path freshFolder(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() /
               ("touchcal-" + name + "-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir;
}

inline std::string readAll(const std::filesystem::path& p) {
    return platform::readFileIfExists(p).value_or("<missing>");
}

inline void writeAll(const std::filesystem::path& p, const std::string& s) {
    std::ofstream(p, std::ios::binary) << s;
}

struct AppFixture : ::testing::Test {
    platform::VirtualEventLoop loop{{2026, 12, 10, 9, 30, 0, 0}};
    // A good unit on the virtual controller, found by the first scan once the loop runs.
    sim::hid::VirtualController hid{loop, sim::hid::defaultScenario()};
    // Where the window looks for the controller: `hid`, unless a test puts another here
    // before making the window.
    sim::hid::VirtualController* controller = &hid;
    std::filesystem::path dir =
        freshFolder(::testing::UnitTest::GetInstance()->current_test_info()->name());
    std::vector<std::string> errors;
    std::unique_ptr<app::TForm1> form;

    AppFixture() {
        loop.setErrorSink([this](const std::string& e) { errors.push_back(e); });
    }
    ~AppFixture() override { std::filesystem::remove_all(dir); }

    // The window in the test's folder. Its station server takes an ephemeral port, so
    // suites running side by side (or a station on this machine) never collide on 10000.
    app::TForm1& makeForm(app::DeviceOptions devices = {0, "", false}) {
        form = std::make_unique<app::TForm1>(loop, *controller, app::AppPaths{dir, dir},
                                             app::HostInfo{},
                                             std::move(devices));
        return *form;
    }
    app::TForm1& start() {
        makeForm().FormCreate();
        return *form;
    }
    std::filesystem::path settingsPath() const { return dir / "Start_Up.ini"; }
};

}  // namespace tc::testing
