// Start-up over any Start_Up.ini: the whole of FormCreate on virtual time, in a folder of
// its own. Whatever the file holds, start-up completes and the window is built.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/Unit1.h"
#include "platform/VirtualEventLoop.h"
#include "sim/hid/VirtualController.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tc;
    static const fs::path dir =
        fs::temp_directory_path() / ("touchcal-fuzz-startup-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    std::ofstream(dir / "Start_Up.ini", std::ios::binary)
        .write(reinterpret_cast<const char*>(data), std::streamsize(size));

    platform::VirtualEventLoop loop;
    loop.setErrorSink([](const std::string&) {});
    sim::hid::VirtualController hid(loop, sim::hid::defaultScenario());
    // A file that turns the printer's port on must never reach a real line of this machine.
    app::DeviceOptions devices;
    devices.serialDevice = (dir / "no-such-tty").string();
    devices.stationPort = 0;
    app::TForm1 form(loop, hid, app::AppPaths{dir, dir}, app::HostInfo{}, devices);
    form.FormCreate();
    if (form.RowCount < 1 || form.RowCount > 30 || form.ColumnCount < 1 || form.ColumnCount > 30)
        __builtin_trap();
    if (!form.RowRangeEdits[29] || !form.ColumnRangeEdits[29]) __builtin_trap();
    form.SaveSettings();
    return 0;
}
