#include "app/Settings.h"

#include "platform/Convert.h"

namespace tc::app {

namespace {

// Prefix of each of the 22 lines; comment lines carry their whole text and no slot.
struct LineDef {
    const char* text;
    int slot;  // -1 for a comment line
};

const LineDef kLines[kFileLineCount] = {
    {"PORT NO : ", PortNo},
    {"## BAUD RATE:9600;19200;38400;57600;115200", -1},
    {"BAUD RATE : ", BaudRate},
    {"BYTESIZE : ", ByteSize},
    {"## PARITY:NO;EVENT;MARK;ODD;SPACE;", -1},
    {"PARITY : ", ParityValue},
    {"## STOPBITS:1;1.5;2;", -1},
    {"STOPBITS : ", StopBitsValue},
    {"PP_X : ", PpX},
    {"PP_Y : ", PpY},
    {"BM : ", Bm},
    {"Printer Type : ", PrinterTypeValue},
    {"######################", -1},
    {"Serial Number : ", SerialNumberValue},
    {"Customer : ", Customer},
    {"Model : ", Model},
    {"Row Number : ", RowNumber},
    {"Column Number : ", ColumnNumber},
    {"Comm Port : ", CommPort},
    {"Mechin Name : ", MechinName},
    {"Date : ", Date},
    {"Open Times : ", OpenTimes},
};

const char* const kFileDefaults[kSlotCount] = {
    "1",    "9600",   "8",      "NO", "1",  "100", "100", "5", "DATAMATRIX",
    "0001", "KORVAN", "KORVAN", "30", "30", "OFF", "A",   "",  "0"};

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
    return position == 2 || position == 5 || position == 7 || position == 13;
}

std::vector<std::string> defaultFileLines(const std::string& today) {
    std::vector<std::string> lines;
    for (const auto& def : kLines) {
        if (def.slot < 0) {
            lines.emplace_back(def.text);
        } else {
            lines.push_back(std::string(def.text) +
                            (def.slot == Date ? today : kFileDefaults[def.slot]));
        }
    }
    return lines;
}

Slots defaultSlots(const std::string& today) {
    Slots s;
    for (int i = 0; i < kSlotCount; ++i) s[i] = kFileDefaults[i];
    s[Customer] = "QMV";
    s[Model] = "olmerT5";
    s[Date] = today;
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
    int slot = 0;
    for (std::size_t i = 0; i < lines.size() && slot < kSlotCount; ++i) {
        if (isCommentLine(int(i) + 1)) continue;
        r.values[slot++] = extractValue(lines[i]);
    }
    return r;
}

SerialValidation validateSerialSettings(Slots& slots) {
    using platform::Parity;
    using platform::StopBits;
    SerialValidation v;

    // The port number has no fallback of its own; one that is not a whole number would
    // leave the port unconfigured, so it is reported and the first port is used.
    try {
        v.line.port = platform::strToInt(slots[PortNo]);
    } catch (const platform::ConvertError& e) {
        v.errors.push_back(e.what());
        v.line.port = 1;
        slots[PortNo] = "1";
        v.logLines.push_back("---PORT NO Set Default : 1---");
    }

    int baud = 0;
    try {
        baud = platform::strToInt(slots[BaudRate]);
    } catch (const platform::ConvertError& e) {
        v.errors.push_back(e.what());
    }
    if (baud == 9600 || baud == 19200 || baud == 38400 || baud == 57600 || baud == 115200) {
        v.line.baudRate = baud;
    } else {
        v.line.baudRate = 9600;
        slots[BaudRate] = "9600";
        v.logLines.push_back("Waring---Baud Rate Set Default : 9600---");
    }

    const std::string& bits = slots[ByteSize];
    if (bits == "6" || bits == "7" || bits == "8") {
        v.line.dataBits = bits[0] - '0';
    } else {
        v.line.dataBits = 8;
        slots[ByteSize] = "8";
    }

    const std::string& parity = slots[ParityValue];
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
        slots[ParityValue] = "NO";
        v.logLines.push_back("---Parity Set Default : NO---");
    }

    const std::string& stop = slots[StopBitsValue];
    if (stop == "1")
        v.line.stopBits = StopBits::One;
    else if (stop == "1.5")
        v.line.stopBits = StopBits::OneAndHalf;
    else if (stop == "2")
        v.line.stopBits = StopBits::Two;
    else {
        v.line.stopBits = StopBits::One;
        slots[StopBitsValue] = "1";
        v.logLines.push_back("---StopBits Set Default : 1---");
    }
    return v;
}

void applyDailyReset(Slots& slots, const std::string& today, bool fromFile) {
    if (slots[Date] == today) return;
    if (fromFile) slots[SerialNumberValue] = "0001";
    slots[Date] = today;
}

bool commPortEnabled(const std::string& value) {
    return value == "On" || value == "ON" || value == "on";
}

std::vector<std::string> settingsFileLines(const Slots& slots) {
    std::vector<std::string> lines;
    for (const auto& def : kLines)
        lines.push_back(def.slot < 0 ? std::string(def.text)
                                     : std::string(def.text) + slots[def.slot]);
    return lines;
}

}  // namespace tc::app
