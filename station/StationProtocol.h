// The station's command language as plain rules: which command a received text is, the
// words the program answers with, the error words "ReportError" gives, and what the
// setting commands accept. No sockets and no window here: the main window gathers the
// text and its state, calls these, and applies what they say.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace tc::station {

// A received text cut at its first space; that space belongs to neither part. Without a
// space the whole text is the word and the argument is empty. Nothing is stripped: line
// ends and further spaces stay where they are.
struct CommandParts {
    std::string CommandWord;
    std::string CommandArgument;
};
CommandParts splitCommand(std::string_view text);

// The commands, in the order a text is matched against them.
enum class CommandId {
    ReadyToAcquire,
    Ping,
    DrawFinished,
    WriteBarCode,
    HIDUnplug,
    WriteROM,
    ReportError,
    AppName,
    AppVersion,
    SetVender,
    SetModel,
    SetSerialNo,
    SetPrinterType,
    GetVender,
    GetModel,
    GetSerialNo,
    GetPrinterType,
    OpenShortData,
    ADCValueData,
    Unknown,
};

// The first command whose name equals the text, byte for byte and case-sensitive. The
// four setting commands compare the CommandWord, every other command the whole text, so
// a trailing space or line end makes the text Unknown.
CommandId matchCommand(std::string_view text);
// The command's name as a station sends it; empty for Unknown.
std::string_view commandName(CommandId id);

// --- reply words, exactly as the program sends them ---
inline constexpr std::string_view ReplyReady = "READY";
inline constexpr std::string_view ReplyNoDevice = "NO_DEVICE";
inline constexpr std::string_view ReplyOk = "OK";
inline constexpr std::string_view ReplyDataOk = "DATA_OK";
inline constexpr std::string_view ReplyDataNg = "DATA_NG";
inline constexpr std::string_view ReplyBarcodeOk = "BARCODE_OK";
inline constexpr std::string_view ReplyBarcodeNg = "BARCODE_NG";
inline constexpr std::string_view ReplyHidUnplugged = "HID_UNPLUGGED";
inline constexpr std::string_view ReplyRomOk = "ROM_OK";
inline constexpr std::string_view ReplyRomNg = "ROM_NG";
inline constexpr std::string_view ReplyAppName = "DUDA_CALI_UTILITY";
inline constexpr std::string_view ReplyAppVersion = "V_20091222_SP_6";
inline constexpr std::string_view ReplyVenderNameOk = "VENDER_NAME_OK";
inline constexpr std::string_view ReplyVenderNameNg = "VENDER_NAME_NG";
inline constexpr std::string_view ReplyModelNameOk = "MODEL_NAME_OK";
inline constexpr std::string_view ReplyModelNameNg = "MODEL_NAME_NG";
inline constexpr std::string_view ReplySerialNoOk = "SERIAL_NO_OK";
inline constexpr std::string_view ReplySerialNoNg = "SERIAL_NO_NG";
inline constexpr std::string_view ReplyPrinterTypeOk = "PRINTER_TYPE_OK";
inline constexpr std::string_view ReplyPrinterTypeNg = "PRINTER_TYPE_NG";
inline constexpr std::string_view ReplyUnknownCommand = "UNKNOWED_COMMAND";

// --- progress lines the commands add to the log ---
inline constexpr std::string_view LogAcquiring = "Acquiring data...";
inline constexpr std::string_view LogCalculating = "Calculating...";
inline constexpr std::string_view LogWriteBarCode = "WriteBarCode....";
inline constexpr std::string_view LogBarCodePrinted = "BarCodePrinted....";
inline constexpr std::string_view LogWriteRom = "WriteROM....";

// --- LastErrorCode values ---
using ErrorCode = std::uint32_t;
inline constexpr ErrorCode ErrorNone = 0;
inline constexpr ErrorCode ErrorNoData = 1;
inline constexpr ErrorCode ErrorData = 2;
inline constexpr ErrorCode ErrorNotComplete = 3;
inline constexpr ErrorCode ErrorNoRom = 4;
inline constexpr ErrorCode ErrorRomChecksum = 5;
inline constexpr ErrorCode ErrorVenderName = 6;
inline constexpr ErrorCode ErrorModelName = 7;
inline constexpr ErrorCode ErrorSerialNo = 8;
inline constexpr ErrorCode ErrorPrinterType = 9;
inline constexpr ErrorCode ErrorPrint = 10;
inline constexpr ErrorCode ErrorNoDevice = 11;

// The word "ReportError" answers for a code: "NONE", "ERR_NODATA" ... "ERR_NO_DEVICE".
// Nothing for a code above 11: no word is sent (no path of the program stores one).
std::optional<std::string_view> errorWord(ErrorCode code);

// The one reply of a command that answers the same whatever the state: "Ping", "HIDUnplug",
// "AppName", "AppVersion" and Unknown ("UNKNOWED_COMMAND"). Nothing for the others.
std::optional<std::string_view> fixedReply(CommandId id);

// Every word a command can answer with, for a station that waits for one. Empty for the
// commands that answer with a text of the program's ("GetVender" ... "ADCValueData"),
// which can be anything, an empty text included (sent as no bytes at all).
std::span<const std::string_view> possibleReplies(CommandId id);
// Every fixed word the program sends: the reply words and the error words. Only one word
// begins another ("ERR_PRINT", "ERR_PRINTER_TYPE"), and no word begins with what is left
// of the longer one, so words that arrive back to back split in one way only.
std::span<const std::string_view> allReplyWords();

// A reply and the code it leaves in LastErrorCode (none: the code stays as it is).
struct ReplyOutcome {
    std::string_view reply;
    std::optional<ErrorCode> errorCode;
};
// "DrawFinished" and the ROM write's check, from the range test's result: 0 "DATA_OK"
// (code unchanged); 1, 2 or 3 "DATA_NG" with that code. Any other result is a failure
// too: "DATA_NG" with ErrorNotComplete, so the station still learns a word for it.
ReplyOutcome judgementOutcome(int rangeTestResult);
// "WriteBarCode" after the label job: "BARCODE_OK" (code unchanged) or "BARCODE_NG" with
// ErrorPrint.
ReplyOutcome labelJobOutcome(bool printed);

// The product texts the setting commands write.
enum class ProductText { CustomerName, ModelName, SerialNumber, PrinterType };

// What one setting command stands for.
struct SettingCommand {
    CommandId command;
    ProductText target;
    int settingSlot;              // index into SettingValues: 10, 11, 9, 8
    std::string_view settingKey;  // "Customer", "Model", "Serial Number", "Printer Type"
    std::string_view okReply;
    std::string_view ngReply;
    ErrorCode errorCode;  // stored when the value is not taken
};
// The rule of "SetVender", "SetModel", "SetSerialNo" or "SetPrinterType"; nothing for
// any other command.
std::optional<SettingCommand> settingCommand(CommandId id);

struct SettingOutcome {
    // true: reply first, then store the argument in the product text and in its slot
    // (the settings file is not written). false: reply, then LastErrorCode := errorCode;
    // the stored value stays as it is.
    bool accepted = false;
    std::string_view reply;
    ErrorCode errorCode = ErrorNone;
    // Why a value that is not empty was not taken, as a line for the log; empty when the
    // value was taken or was empty.
    std::string refusal;
};
// Taken: any text that is not empty and holds no control character (bytes below 0x20 and
// 0x7F), since the value becomes a line of the settings file and of the product record
// and is printed on the label; for "SetSerialNo" only decimal digits (any number of them),
// what the serial counter advances, so a label never goes out with a serial number that
// cannot be counted on.
SettingOutcome settingOutcome(const SettingCommand& rule, std::string_view argument);

}  // namespace tc::station
