// A scenario file for the virtual controller: a bad one is refused with a line-naming
// error, never anything worse.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "sim/hid/Scenario.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    try {
        (void)tc::sim::hid::parseScenario(
            std::string_view(reinterpret_cast<const char*>(data), size));
    } catch (const tc::sim::hid::ScenarioError&) {
    }
    return 0;
}
