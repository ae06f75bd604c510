// Input reports from the controller, any bytes on either interface, through the whole
// delivery path into the main window: the link's report handler, the lamp, the labels and
// the stores the measurement code reads.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

#include "app/Unit1.h"
#include "platform/VirtualEventLoop.h"
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
            fs::temp_directory_path() / ("touchcal-fuzz-report-" + std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        loop.setErrorSink([](const std::string&) {});
        auto scenario = tc::sim::hid::defaultScenario();
        hid = std::make_unique<tc::sim::hid::VirtualController>(loop, scenario);
        tc::app::DeviceOptions devices;
        devices.serialDevice = (dir / "no-such-tty").string();
        devices.stationPort = 0;
        form = std::make_unique<tc::app::TForm1>(loop, *hid, tc::app::AppPaths{dir, dir},
                                                 tc::app::HostInfo{}, devices);
        form->FormCreate();
        loop.advance(50ms);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Rig rig;
    if (size == 0) return 0;
    // The first byte picks the interface; the rest is the report, report ID first.
    const auto port = (data[0] & 1) ? tc::sim::hid::Port::Command : tc::sim::hid::Port::Data;
    rig.hid->injectReport(port, std::vector<std::uint8_t>(data + 1, data + size));
    rig.loop.advance(2ms);
    return 0;
}
