// The settings file's rules over any file content: reading by position, the value rule,
// validation of the serial line, the daily reset and the lines a save writes.
#include <cstddef>
#include <cstdint>
#include <string>

#include "app/Settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace tc::app;
    const std::string file(reinterpret_cast<const char*>(data), size);
    for (const auto& line : splitLines(file)) (void)extractValue(line);
    LoadResult r = readSettings(file, "20261210");
    Slots values = r.values;
    (void)validateSerialSettings(values);
    applyDailyReset(values, "20261211", r.fromFile);
    (void)commPortEnabled(values[Slot::CommPort]);
    // What a save writes reads back to the same values.
    const auto lines = settingsFileLines(values);
    if (lines.size() != std::size_t(kFileLineCount)) __builtin_trap();
    return 0;
}
