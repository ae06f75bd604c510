// The settings file Start_Up.ini: 22 lines read by position, 18 values, four comment lines.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/serial/SerialSettings.h"

namespace tc::app {

constexpr int kSlotCount = 18;
constexpr int kFileLineCount = 22;
constexpr const char* kSettingsFileName = "Start_Up.ini";
using Slots = std::array<std::string, kSlotCount>;

// Slot numbers by the key of their line.
enum Slot : int {
    PortNo = 0,
    BaudRate = 1,
    ByteSize = 2,
    ParityValue = 3,
    StopBitsValue = 4,
    PpX = 5,
    PpY = 6,
    Bm = 7,
    PrinterTypeValue = 8,
    SerialNumberValue = 9,
    Customer = 10,
    Model = 11,
    RowNumber = 12,
    ColumnNumber = 13,
    CommPort = 14,
    MechinName = 15,
    Date = 16,
    OpenTimes = 17,
};

// CR, LF and CR LF each end a line; a last line without an end still counts.
std::vector<std::string> splitLines(std::string_view bytes);
// Lines joined with CR LF after each, the last one included.
std::string joinLines(const std::vector<std::string>& lines);

// A value line's value: nothing up to and including the first colon, then every character
// except the one right after each colon.
std::string extractValue(std::string_view line);

// Is this line position (from 1) one of the comment lines?
bool isCommentLine(int position);

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
