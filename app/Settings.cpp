#include "app/Settings.h"

#include <optional>

#include "platform/Convert.h"

namespace tc::app {

namespace {

// The file's layout: every line in order. A value line is its key with the separator, then
// the value; a comment line is its whole text. Everything that knows where a line sits
// reads it from here.
struct LineDef {
    const char* text;
    std::optional<Slot> slot;  // none for a comment line
    const char* fileDefault = "";
};

constexpr LineDef kLines[kFileLineCount] = {
    {"PORT NO : ", Slot::PortNo, "1"},
    {"## BAUD RATE:9600;19200;38400;57600;115200", {}},
    {"BAUD RATE : ", Slot::BaudRate, "9600"},
    {"BYTESIZE : ", Slot::ByteSize, "8"},
    {"## PARITY:NO;EVENT;MARK;ODD;SPACE;", {}},
    {"PARITY : ", Slot::Parity, "NO"},
    {"## STOPBITS:1;1.5;2;", {}},
    {"STOPBITS : ", Slot::StopBits, "1"},
    {"PP_X : ", Slot::PpX, "100"},
    {"PP_Y : ", Slot::PpY, "100"},
    {"BM : ", Slot::Bm, "5"},
    {"Printer Type : ", Slot::PrinterType, "DATAMATRIX"},
    {"######################", {}},
    {"Serial Number : ", Slot::SerialNumber, "0001"},
    {"Customer : ", Slot::Customer, "KORVAN"},
    {"Model : ", Slot::Model, "KORVAN"},
    {"Row Number : ", Slot::RowNumber, "30"},
    {"Column Number : ", Slot::ColumnNumber, "30"},
    {"Comm Port : ", Slot::CommPort, "OFF"},
    {"Mechin Name : ", Slot::MechinName, "A"},
    {"Date : ", Slot::Date},  // the day the file is made
    {"Open Times : ", Slot::OpenTimes, "0"},
};

// The file is read by position: the n-th value line is the n-th slot.
constexpr bool everySlotOnceInOrder() {
    std::size_t next = 0;
    for (const auto& def : kLines)
        if (def.slot && slotIndex(*def.slot) != next++) return false;
    return next == std::size_t(kSlotCount);
}
static_assert(everySlotOnceInOrder());

// What a new file holds.
Slots fileDefaultSlots(const std::string& today) {
    Slots s;
    for (const auto& def : kLines)
        if (def.slot) s[*def.slot] = def.fileDefault;
    s[Slot::Date] = today;
    return s;
}

}  // namespace

std::vector<std::string> splitLines(std::string_view bytes) {
    std::vector<std::string> lines;
    std::string current;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(std::move(current));
            current.clear();
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(std::move(current));
    return lines;
}

std::string joinLines(const std::vector<std::string>& lines) {
    std::string s;
    for (const auto& l : lines) {
        s += l;
        s += "\r\n";
    }
    return s;
}

std::string extractValue(std::string_view line) {
    std::string value;
    bool afterFirstColon = false;
    bool skipNext = false;
    for (const char c : line) {
        if (skipNext) {
            skipNext = false;
            if (c != ':') continue;  // the skipped character itself may not be a colon
            // A colon right after a colon is skipped, but still causes a skip of its own.
            skipNext = true;
            continue;
        }
        if (c == ':') {
            if (afterFirstColon) value += c;
            afterFirstColon = true;
            skipNext = true;
            continue;
        }
        if (afterFirstColon) value += c;
    }
    return value;
}

bool isCommentLine(int position) {
    return position >= 1 && position <= kFileLineCount && !kLines[position - 1].slot;
}

int linePosition(Slot slot) {
    for (int i = 0; i < kFileLineCount; ++i)
        if (kLines[i].slot == slot) return i + 1;
    return 0;  // unreachable: every slot has its line
}

std::vector<std::string> defaultFileLines(const std::string& today) {
    return settingsFileLines(fileDefaultSlots(today));
}

Slots defaultSlots(const std::string& today) {
    Slots s = fileDefaultSlots(today);
    s[Slot::Customer] = "QMV";
    s[Slot::Model] = "olmerT5";
    return s;
}

LoadResult readSettings(const std::optional<std::string>& file, const std::string& today) {
    LoadResult r;
    std::vector<std::string> lines;
    if (file) lines = splitLines(*file);
    if (!file || lines.size() < std::size_t(kFileLineCount)) {
        r.logLines = defaultFileLines(today);
        r.values = defaultSlots(today);
        r.defaultFileBytes = joinLines(r.logLines);
        return r;
    }
    r.fromFile = true;
    r.logLines = lines;
    for (int i = 0; i < kFileLineCount; ++i)
        if (const auto slot = kLines[i].slot) r.values[*slot] = extractValue(lines[i]);
    return r;
}

SerialValidation validateSerialSettings(Slots& slots) {
    using platform::Parity;
    using platform::StopBits;
    SerialValidation v;

    // The port number has no fallback of its own; one that is not a whole number would
    // leave the port unconfigured, so it is reported and the first port is used.
    try {
        v.line.port = platform::strToInt(slots[Slot::PortNo]);
    } catch (const platform::ConvertError& e) {
        v.errors.push_back(e.what());
        v.line.port = 1;
        slots[Slot::PortNo] = "1";
        v.logLines.push_back("---PORT NO Set Default : 1---");
    }

    int baud = 0;
    try {
        baud = platform::strToInt(slots[Slot::BaudRate]);
    } catch (const platform::ConvertError& e) {
        v.errors.push_back(e.what());
    }
    if (baud == 9600 || baud == 19200 || baud == 38400 || baud == 57600 || baud == 115200) {
        v.line.baudRate = baud;
    } else {
        v.line.baudRate = 9600;
        slots[Slot::BaudRate] = "9600";
        v.logLines.push_back("Waring---Baud Rate Set Default : 9600---");
    }

    const std::string& bits = slots[Slot::ByteSize];
    if (bits == "6" || bits == "7" || bits == "8") {
        v.line.dataBits = bits[0] - '0';
    } else {
        v.line.dataBits = 8;
        slots[Slot::ByteSize] = "8";
    }

    const std::string& parity = slots[Slot::Parity];
    if (parity == "NO")
        v.line.parity = Parity::None;
    else if (parity == "EVENT")
        v.line.parity = Parity::Even;
    else if (parity == "MARK")
        v.line.parity = Parity::Mark;
    else if (parity == "ODD")
        v.line.parity = Parity::Odd;
    else if (parity == "SPACE")
        v.line.parity = Parity::Space;
    else {
        v.line.parity = Parity::None;
        slots[Slot::Parity] = "NO";
        v.logLines.push_back("---Parity Set Default : NO---");
    }

    const std::string& stop = slots[Slot::StopBits];
    if (stop == "1")
        v.line.stopBits = StopBits::One;
    else if (stop == "1.5")
        v.line.stopBits = StopBits::OneAndHalf;
    else if (stop == "2")
        v.line.stopBits = StopBits::Two;
    else {
        v.line.stopBits = StopBits::One;
        slots[Slot::StopBits] = "1";
        v.logLines.push_back("---StopBits Set Default : 1---");
    }
    return v;
}

void applyDailyReset(Slots& slots, const std::string& today, bool fromFile) {
    if (slots[Slot::Date] == today) return;
    if (fromFile) slots[Slot::SerialNumber] = "0001";
    slots[Slot::Date] = today;
}

bool commPortEnabled(const std::string& value) {
    return value == "On" || value == "ON" || value == "on";
}

std::vector<std::string> settingsFileLines(const Slots& slots) {
    std::vector<std::string> lines;
    for (const auto& def : kLines)
        lines.push_back(def.slot ? def.text + slots[*def.slot] : std::string(def.text));
    return lines;
}

}  // namespace tc::app
