// The settings file Start_Up.ini: 22 lines read by position, 18 values, four comment lines.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial/SerialSettings.h"

namespace tc::app {

constexpr int kSlotCount = 18;
constexpr int kFileLineCount = 22;
constexpr const char* kSettingsFileName = "Start_Up.ini";

// The values by the key of their line, in file order.
enum class Slot : int {
    PortNo,
    BaudRate,
    ByteSize,
    Parity,
    StopBits,
    PpX,
    PpY,
    Bm,
    PrinterType,
    SerialNumber,
    Customer,
    Model,
    RowNumber,
    ColumnNumber,
    CommPort,
    MechinName,
    Date,
    OpenTimes,
};

constexpr std::size_t slotIndex(Slot s) {
    return static_cast<std::size_t>(s);
}

// The 18 value texts, one per slot.
class Slots {
public:
    std::string& operator[](Slot s) { return values_[slotIndex(s)]; }
    const std::string& operator[](Slot s) const { return values_[slotIndex(s)]; }
    bool operator==(const Slots&) const = default;

private:
    std::array<std::string, kSlotCount> values_;
};

// CR, LF and CR LF each end a line; a last line without an end still counts.
std::vector<std::string> splitLines(std::string_view bytes);
// Lines joined with CR LF after each, the last one included.
std::string joinLines(const std::vector<std::string>& lines);

// A value line's value: nothing up to and including the first colon, then every character
// except the one right after each colon.
std::string extractValue(std::string_view line);

// The file's layout, from its one line table: is this position (from 1) a comment line,
// and at which position is a slot's line.
bool isCommentLine(int position);
int linePosition(Slot slot);

// The 22 lines of a new file, dated `today` ("yyyymmdd").
std::vector<std::string> defaultFileLines(const std::string& today);
// The values a run uses when it starts from the default file: the file says KORVAN,
// memory holds QMV and olmerT5.
Slots defaultSlots(const std::string& today);

struct LoadResult {
    Slots values;
    std::vector<std::string> logLines;  // what Memo1 lists
    bool fromFile = false;
    // Set when the default file must be written (no file, or fewer than 22 lines).
    std::optional<std::string> defaultFileBytes;
};

// `file` is the content of Start_Up.ini, or nothing when there is none.
LoadResult readSettings(const std::optional<std::string>& file, const std::string& today);

// The serial line as the settings give it. Values that are not accepted fall back to
// safe ones, with the line Memo1 shows and the slot rewritten; `errors` are texts for the
// error box (a port number that is not a whole number).
struct SerialValidation {
    platform::SerialLineSettings line;
    std::vector<std::string> logLines;
    std::vector<std::string> errors;
};
SerialValidation validateSerialSettings(Slots& slots);

// A new day starts the serial numbers again at 0001 (only for values read from a file).
void applyDailyReset(Slots& slots, const std::string& today, bool fromFile);

// Whether the Comm Port value asks for the port to be opened.
bool commPortEnabled(const std::string& value);

// The lines SaveSettings writes, in file order, from the current slots.
std::vector<std::string> settingsFileLines(const Slots& slots);

}  // namespace tc::app
