#include "station/StationProtocol.h"

#include <array>
#include <cstddef>

namespace tc::station {

namespace {

struct CommandEntry {
    std::string_view name;
    CommandId id;
    bool comparesWord;  // the CommandWord instead of the whole text
};

// In matching order.
constexpr std::array<CommandEntry, 19> kCommands{{
    {"ReadyToAcquire", CommandId::ReadyToAcquire, false},
    {"Ping", CommandId::Ping, false},
    {"DrawFinished", CommandId::DrawFinished, false},
    {"WriteBarCode", CommandId::WriteBarCode, false},
    {"HIDUnplug", CommandId::HIDUnplug, false},
    {"WriteROM", CommandId::WriteROM, false},
    {"ReportError", CommandId::ReportError, false},
    {"AppName", CommandId::AppName, false},
    {"AppVersion", CommandId::AppVersion, false},
    {"SetVender", CommandId::SetVender, true},
    {"SetModel", CommandId::SetModel, true},
    {"SetSerialNo", CommandId::SetSerialNo, true},
    {"SetPrinterType", CommandId::SetPrinterType, true},
    {"GetVender", CommandId::GetVender, false},
    {"GetModel", CommandId::GetModel, false},
    {"GetSerialNo", CommandId::GetSerialNo, false},
    {"GetPrinterType", CommandId::GetPrinterType, false},
    {"OpenShortData", CommandId::OpenShortData, false},
    {"ADCValueData", CommandId::ADCValueData, false},
}};

// Indexed by code.
constexpr std::array<std::string_view, 12> kErrorWords{
    "NONE",          "ERR_NODATA",       "ERR_DATA",        "ERR_NOTCOMPLETE",
    "ERR_NOROM",     "ERR_ROM_CHECKSUM", "ERR_VENDER_NAME", "ERR_MODEL_NAME",
    "ERR_SERIAL_NO", "ERR_PRINTER_TYPE", "ERR_PRINT",       "ERR_NO_DEVICE",
};

constexpr std::array<std::string_view, 2> kAcquireReplies{ReplyNoDevice, ReplyReady};
constexpr std::array<std::string_view, 1> kPingReplies{ReplyOk};
constexpr std::array<std::string_view, 2> kDrawReplies{ReplyDataOk, ReplyDataNg};
constexpr std::array<std::string_view, 2> kBarcodeReplies{ReplyBarcodeOk, ReplyBarcodeNg};
constexpr std::array<std::string_view, 1> kUnplugReplies{ReplyHidUnplugged};
constexpr std::array<std::string_view, 3> kRomReplies{ReplyRomNg, ReplyDataNg, ReplyRomOk};
constexpr std::array<std::string_view, 1> kAppNameReplies{ReplyAppName};
constexpr std::array<std::string_view, 1> kAppVersionReplies{ReplyAppVersion};
constexpr std::array<std::string_view, 2> kVenderReplies{ReplyVenderNameOk, ReplyVenderNameNg};
constexpr std::array<std::string_view, 2> kModelReplies{ReplyModelNameOk, ReplyModelNameNg};
constexpr std::array<std::string_view, 2> kSerialReplies{ReplySerialNoOk, ReplySerialNoNg};
constexpr std::array<std::string_view, 2> kPrinterReplies{ReplyPrinterTypeOk, ReplyPrinterTypeNg};
constexpr std::array<std::string_view, 1> kUnknownReplies{ReplyUnknownCommand};

constexpr std::array<std::string_view, 33> kAllWords{
    ReplyReady,          ReplyNoDevice,   ReplyOk,           ReplyDataOk,        ReplyDataNg,
    ReplyBarcodeOk,      ReplyBarcodeNg,  ReplyHidUnplugged, ReplyRomOk,         ReplyRomNg,
    ReplyAppName,        ReplyAppVersion, ReplyVenderNameOk, ReplyVenderNameNg,  ReplyModelNameOk,
    ReplyModelNameNg,    ReplySerialNoOk, ReplySerialNoNg,   ReplyPrinterTypeOk, ReplyPrinterTypeNg,
    ReplyUnknownCommand, kErrorWords[0],  kErrorWords[1],    kErrorWords[2],     kErrorWords[3],
    kErrorWords[4],      kErrorWords[5],  kErrorWords[6],    kErrorWords[7],     kErrorWords[8],
    kErrorWords[9],      kErrorWords[10], kErrorWords[11],
};

constexpr std::array<SettingCommand, 4> kSettings{{
    {CommandId::SetVender, ProductText::CustomerName, 10, "Customer", ReplyVenderNameOk,
     ReplyVenderNameNg, ErrorVenderName},
    {CommandId::SetModel, ProductText::ModelName, 11, "Model", ReplyModelNameOk, ReplyModelNameNg,
     ErrorModelName},
    {CommandId::SetSerialNo, ProductText::SerialNumber, 9, "Serial Number", ReplySerialNoOk,
     ReplySerialNoNg, ErrorSerialNo},
    {CommandId::SetPrinterType, ProductText::PrinterType, 8, "Printer Type", ReplyPrinterTypeOk,
     ReplyPrinterTypeNg, ErrorPrinterType},
}};

bool holdsControlCharacter(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) return true;
    }
    return false;
}

// The text for a log line, cut when long.
std::string shownArgument(std::string_view text) {
    constexpr std::size_t kShown = 40;
    if (text.size() <= kShown) return "'" + std::string(text) + "'";
    return "'" + std::string(text.substr(0, kShown)) + "...' (" + std::to_string(text.size()) +
           " bytes)";
}

// What the serial counter advances: decimal digits, any number of them.
bool isCountableSerial(std::string_view text) {
    for (const char c : text)
        if (c < '0' || c > '9') return false;
    return !text.empty();
}

}  // namespace

CommandParts splitCommand(std::string_view text) {
    const std::size_t space = text.find(' ');
    if (space == std::string_view::npos) return {std::string(text), {}};
    return {std::string(text.substr(0, space)), std::string(text.substr(space + 1))};
}

CommandId matchCommand(std::string_view text) {
    const std::string_view word = text.substr(0, text.find(' '));
    for (const auto& c : kCommands)
        if ((c.comparesWord ? word : text) == c.name) return c.id;
    return CommandId::Unknown;
}

std::string_view commandName(CommandId id) {
    for (const auto& c : kCommands)
        if (c.id == id) return c.name;
    return {};
}

std::optional<std::string_view> errorWord(ErrorCode code) {
    if (code >= kErrorWords.size()) return std::nullopt;
    return kErrorWords[code];
}

std::optional<std::string_view> fixedReply(CommandId id) {
    switch (id) {
        case CommandId::Ping:
            return ReplyOk;
        case CommandId::HIDUnplug:
            return ReplyHidUnplugged;
        case CommandId::AppName:
            return ReplyAppName;
        case CommandId::AppVersion:
            return ReplyAppVersion;
        case CommandId::Unknown:
            return ReplyUnknownCommand;
        default:
            return std::nullopt;
    }
}

std::span<const std::string_view> possibleReplies(CommandId id) {
    switch (id) {
        case CommandId::ReadyToAcquire:
            return kAcquireReplies;
        case CommandId::Ping:
            return kPingReplies;
        case CommandId::DrawFinished:
            return kDrawReplies;
        case CommandId::WriteBarCode:
            return kBarcodeReplies;
        case CommandId::HIDUnplug:
            return kUnplugReplies;
        case CommandId::WriteROM:
            return kRomReplies;
        case CommandId::ReportError:
            return kErrorWords;
        case CommandId::AppName:
            return kAppNameReplies;
        case CommandId::AppVersion:
            return kAppVersionReplies;
        case CommandId::SetVender:
            return kVenderReplies;
        case CommandId::SetModel:
            return kModelReplies;
        case CommandId::SetSerialNo:
            return kSerialReplies;
        case CommandId::SetPrinterType:
            return kPrinterReplies;
        case CommandId::Unknown:
            return kUnknownReplies;
        case CommandId::GetVender:
        case CommandId::GetModel:
        case CommandId::GetSerialNo:
        case CommandId::GetPrinterType:
        case CommandId::OpenShortData:
        case CommandId::ADCValueData:
            break;
    }
    return {};
}

std::span<const std::string_view> allReplyWords() {
    return kAllWords;
}

ReplyOutcome judgementOutcome(int rangeTestResult) {
    if (rangeTestResult == 0) return {ReplyDataOk, std::nullopt};
    if (rangeTestResult >= 1 && rangeTestResult <= 3)
        return {ReplyDataNg, ErrorCode(rangeTestResult)};
    return {ReplyDataNg, ErrorNotComplete};
}

ReplyOutcome labelJobOutcome(bool printed) {
    if (printed) return {ReplyBarcodeOk, std::nullopt};
    return {ReplyBarcodeNg, ErrorPrint};
}

std::optional<SettingCommand> settingCommand(CommandId id) {
    for (const auto& s : kSettings)
        if (s.command == id) return s;
    return std::nullopt;
}

SettingOutcome settingOutcome(const SettingCommand& rule, std::string_view argument) {
    SettingOutcome out;
    const std::string name(commandName(rule.command));
    const std::string key(rule.settingKey);
    if (argument.empty()) {
        // The plain refusal: no log line of its own beyond the reply.
    } else if (holdsControlCharacter(argument)) {
        out.refusal = name + ": the text holds a control character (a line end, a tab or the " +
                      "like); " + key + " is kept as it is";
    } else if (rule.target == ProductText::SerialNumber && !isCountableSerial(argument)) {
        out.refusal = name + ": " + shownArgument(argument) +
                      " is not a serial number (decimal digits only); " + key + " is kept as it is";
    } else {
        out.accepted = true;
        out.reply = rule.okReply;
        return out;
    }
    out.reply = rule.ngReply;
    out.errorCode = rule.errorCode;
    return out;
}

}  // namespace tc::station
