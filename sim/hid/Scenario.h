// What the virtual touch controller is: its panel, its EEPROM table, its faults and its
// plug events. Written in code by tests or read from a small text file (docs/simulator.md).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tc::sim::hid {

using Millis = std::chrono::milliseconds;

inline constexpr int MaxLines = 30;

enum class LineFault {
    None,
    Open,   // samples only near the line's maximum end
    Short,  // no samples while the pen is on the line
};

// The true ADC range of one sensing line.
struct PanelLine {
    std::uint16_t min = 0;
    std::uint16_t max = 0;
    LineFault fault = LineFault::None;
};

enum class Port { Data, Command, Extra };

struct PlugEvent {
    Millis at{0};  // from the controller's creation
    Port port = Port::Data;
    bool plugIn = false;
};

// What the controller's EEPROM holds.
struct EepromTable {
    std::uint8_t rows = 0;
    std::uint8_t columns = 0;
    std::uint16_t reference = 0;
    std::array<std::uint16_t, MaxLines> rowMin{}, rowGain{}, colMin{}, colGain{};
};

// A raw block carries at most this many values.
inline constexpr int ValuesPerBlock = 28;

struct Scenario {
    // Lines on the panel. The default unit has no more than a raw block carries.
    int rows = ValuesPerBlock;
    int columns = ValuesPerBlock;
    // What the table's head announces instead of the panel's counts (-1: the panel's).
    // A count above 28 is more than the blocks carry, above 30 more than any panel has.
    int announcedRows = -1;
    int announcedColumns = -1;
    std::uint16_t reference = 3000;
    std::array<PanelLine, MaxLines> rowLines{};
    std::array<PanelLine, MaxLines> columnLines{};
    bool epromPresent = true;
    bool checksumFailed = false;
    bool answerCommit = true;            // false: TableCommit gets no result report
    std::array<bool, 4> blockMissing{};  // ReadBlock n gets no answer
    int sampleRate = 200;                // test samples per second, 1..1000
    Millis roundTime{2000};              // one pen round of the four edges
    int noise = 4;                       // +- ADC units on every sample value
    std::uint32_t seed = 1;
    Millis latency{5};             // before a block answer
    Millis commitLatency{50};      // before the result report
    int liftEvery = 0;    // every Nth sample report says the pen is lifted (0: none)
    int strayEvery = 0;   // every Nth sample names a line that is not there (0: none)
    bool touchReports = false;  // the command interface also reports each touch
    bool extraDevice = false;      // an unrelated keyboard interface
    bool extraAccessOnly = false;  // ... that can only be identified
    std::vector<PlugEvent> events;
    std::uint16_t vendorId = 0x1B2F;
    std::uint16_t productId = 0x4100;
};

// A good 28 x 28 unit: every line well inside the range test's limits, the ROM write
// succeeds.
Scenario defaultScenario();

class ScenarioError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The text format of docs/simulator.md, applied over defaultScenario(). Throws
// ScenarioError naming the line.
Scenario parseScenario(std::string_view text);
Scenario loadScenario(const std::string& path);

// The gain code the controller stores for a line: the maximum is min + R*65536/D with
// D = code (code >= 0x7FFF) or code + 65536.
std::uint16_t gainCodeFor(std::uint16_t reference, std::uint16_t min, std::uint16_t max);

}  // namespace tc::sim::hid
