// Input reports from the controller, any bytes on either interface, through the whole
// delivery path into the main window: the link's report handler, the lamp, the labels and
// the stores the measurement code reads.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/AppRig.h"

using namespace std::chrono_literals;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static tc::fuzz::AppRig& rig = []() -> tc::fuzz::AppRig& {
        static tc::fuzz::AppRig r(tc::fuzz::rigFolder("report"));
        r.loop.advance(50ms);  // the first scan has found the controller
        return r;
    }();
    if (size == 0) return 0;
    // The first byte picks the interface; the rest is the report, report ID first.
    const auto port = (data[0] & 1) ? tc::sim::hid::Port::Command : tc::sim::hid::Port::Data;
    rig.hid.injectReport(port, std::vector<std::uint8_t>(data + 1, data + size));
    rig.loop.advance(2ms);
    return 0;
}
