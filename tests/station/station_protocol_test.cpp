#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "station/StationProtocol.h"

using namespace tc::station;
using namespace std::string_literals;

namespace {

struct MatchCase {
    std::string text;
    CommandId expected;
};

std::string shown(const std::string& s) {
    std::string out;
    for (const char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\0')
            out += "\\0";
        else
            out += c;
    }
    return out;
}

}  // namespace

TEST(StationProtocol, TextsMatchTheirCommandOnlyWhenExact) {
    const MatchCase cases[] = {
        {"ReadyToAcquire", CommandId::ReadyToAcquire},
        {"Ping", CommandId::Ping},
        {"DrawFinished", CommandId::DrawFinished},
        {"WriteBarCode", CommandId::WriteBarCode},
        {"HIDUnplug", CommandId::HIDUnplug},
        {"WriteROM", CommandId::WriteROM},
        {"ReportError", CommandId::ReportError},
        {"AppName", CommandId::AppName},
        {"AppVersion", CommandId::AppVersion},
        {"GetVender", CommandId::GetVender},
        {"GetModel", CommandId::GetModel},
        {"GetSerialNo", CommandId::GetSerialNo},
        {"GetPrinterType", CommandId::GetPrinterType},
        {"OpenShortData", CommandId::OpenShortData},
        {"ADCValueData", CommandId::ADCValueData},
        // Whole-text commands: any extra byte, another case or a merged pair is unknown.
        {"ping", CommandId::Unknown},
        {"PING", CommandId::Unknown},
        {"Ping ", CommandId::Unknown},
        {" Ping", CommandId::Unknown},
        {"Ping\n", CommandId::Unknown},
        {"Ping\r", CommandId::Unknown},
        {"Ping\r\n", CommandId::Unknown},
        {"Ping\0"s, CommandId::Unknown},
        {"Pin", CommandId::Unknown},
        {"PingPing", CommandId::Unknown},
        {"ReadyToAcquireReadyToAcquire", CommandId::Unknown},
        {"GetVender x", CommandId::Unknown},
        {"ReportError\r\n", CommandId::Unknown},
        {"", CommandId::Unknown},
        {" ", CommandId::Unknown},
        // Setting commands compare the word before the first space.
        {"SetVender", CommandId::SetVender},
        {"SetVender ", CommandId::SetVender},
        {"SetVender A B", CommandId::SetVender},
        {"SetVender A\r\n", CommandId::SetVender},
        {"SetModel X GetModel", CommandId::SetModel},
        {"SetSerialNo 0001", CommandId::SetSerialNo},
        {"SetPrinterType QRCODE", CommandId::SetPrinterType},
        {"SetVender\r\n", CommandId::Unknown},
        {"SetVender\tA", CommandId::Unknown},
        {"SetVenderA", CommandId::Unknown},
        {"setvender A", CommandId::Unknown},
        {" SetVender A", CommandId::Unknown},
    };
    for (const auto& c : cases)
        EXPECT_EQ(matchCommand(c.text), c.expected) << "text \"" << shown(c.text) << "\"";
}

TEST(StationProtocol, SplitIsAtTheFirstSpaceAndStripsNothing) {
    const struct {
        std::string text, word, argument;
    } cases[] = {
        {"SetVender A B", "SetVender", "A B"},
        {"SetVender", "SetVender", ""},
        {"SetVender ", "SetVender", ""},
        {"SetVender  A", "SetVender", " A"},
        {"SetVender A ", "SetVender", "A "},
        {"SetModel X\r\n GetModel\r\n", "SetModel", "X\r\n GetModel\r\n"},
        {"Ping\r\n", "Ping\r\n", ""},
        {" X", "", "X"},
        {"", "", ""},
    };
    for (const auto& c : cases) {
        const CommandParts p = splitCommand(c.text);
        EXPECT_EQ(p.CommandWord, c.word) << "text \"" << shown(c.text) << "\"";
        EXPECT_EQ(p.CommandArgument, c.argument) << "text \"" << shown(c.text) << "\"";
    }
}

TEST(StationProtocol, ErrorCodesHaveTheirWordsAndNothingBeyondTheTable) {
    const std::string_view words[] = {
        "NONE",          "ERR_NODATA",       "ERR_DATA",        "ERR_NOTCOMPLETE",
        "ERR_NOROM",     "ERR_ROM_CHECKSUM", "ERR_VENDER_NAME", "ERR_MODEL_NAME",
        "ERR_SERIAL_NO", "ERR_PRINTER_TYPE", "ERR_PRINT",       "ERR_NO_DEVICE",
    };
    for (ErrorCode code = 0; code < 12; ++code) EXPECT_EQ(errorWord(code), words[code]) << code;
    EXPECT_EQ(errorWord(12), std::nullopt);
    EXPECT_EQ(errorWord(0xFFFFFFFFu), std::nullopt);
}

TEST(StationProtocol, ReplyWordsSplitOneWayWhenTheyArriveTogether) {
    // A station that reads words back to back relies on these: the one word that begins
    // another, and no word that begins with what is left of the longer one.
    const auto all = allReplyWords();
    std::vector<std::pair<std::string_view, std::string_view>> prefixes;
    for (const auto a : all)
        for (const auto b : all)
            if (a != b && b.starts_with(a)) prefixes.emplace_back(a, b);
    using Pair = std::pair<std::string_view, std::string_view>;
    EXPECT_EQ(prefixes, (std::vector<Pair>{{"ERR_PRINT", "ERR_PRINTER_TYPE"}}));
    for (const auto w : all) {
        EXPECT_FALSE(w.starts_with("ER_TYPE")) << w;
        EXPECT_FALSE(std::string_view("ER_TYPE").starts_with(w)) << w;
    }
    // What a station waits for is among the words, and a fixed reply among its command's.
    for (int i = 0; i <= int(CommandId::Unknown); ++i) {
        const auto id = CommandId(i);
        for (const auto w : possibleReplies(id))
            EXPECT_NE(std::find(all.begin(), all.end(), w), all.end()) << w;
        if (const auto fixed = fixedReply(id)) {
            const auto own = possibleReplies(id);
            EXPECT_NE(std::find(own.begin(), own.end(), *fixed), own.end()) << *fixed;
        }
    }
    EXPECT_TRUE(possibleReplies(CommandId::GetVender).empty());
    EXPECT_EQ(fixedReply(CommandId::Unknown), "UNKNOWED_COMMAND");
}

TEST(StationProtocol, JudgementAndLabelResultsGiveTheirWordAndCode) {
    const struct {
        int result;
        std::string_view reply;
        std::optional<ErrorCode> code;
    } cases[] = {
        {0, "DATA_OK", std::nullopt},
        {1, "DATA_NG", ErrorNoData},
        {2, "DATA_NG", ErrorData},
        {3, "DATA_NG", ErrorNotComplete},
        // Not a result the range test gives; still a failure with a word to report.
        {4, "DATA_NG", ErrorNotComplete},
        {-1, "DATA_NG", ErrorNotComplete},
    };
    for (const auto& c : cases) {
        const ReplyOutcome o = judgementOutcome(c.result);
        EXPECT_EQ(o.reply, c.reply) << c.result;
        EXPECT_EQ(o.errorCode, c.code) << c.result;
    }
    EXPECT_EQ(labelJobOutcome(true).reply, "BARCODE_OK");
    EXPECT_EQ(labelJobOutcome(true).errorCode, std::nullopt);
    EXPECT_EQ(labelJobOutcome(false).reply, "BARCODE_NG");
    EXPECT_EQ(labelJobOutcome(false).errorCode, ErrorPrint);
}

TEST(StationProtocol, SettingCommandsNameTheirTextSlotAndWords) {
    const struct {
        CommandId id;
        ProductText target;
        int slot;
        std::string_view ok, ng;
        ErrorCode code;
    } cases[] = {
        {CommandId::SetVender, ProductText::CustomerName, 10, "VENDER_NAME_OK", "VENDER_NAME_NG",
         6},
        {CommandId::SetModel, ProductText::ModelName, 11, "MODEL_NAME_OK", "MODEL_NAME_NG", 7},
        {CommandId::SetSerialNo, ProductText::SerialNumber, 9, "SERIAL_NO_OK", "SERIAL_NO_NG", 8},
        {CommandId::SetPrinterType, ProductText::PrinterType, 8, "PRINTER_TYPE_OK",
         "PRINTER_TYPE_NG", 9},
    };
    for (const auto& c : cases) {
        const auto rule = settingCommand(c.id);
        ASSERT_TRUE(rule.has_value());
        EXPECT_EQ(rule->target, c.target);
        EXPECT_EQ(rule->settingSlot, c.slot);
        EXPECT_EQ(rule->okReply, c.ok);
        EXPECT_EQ(rule->ngReply, c.ng);
        EXPECT_EQ(rule->errorCode, c.code);
    }
    EXPECT_FALSE(settingCommand(CommandId::GetVender).has_value());
    EXPECT_FALSE(settingCommand(CommandId::Unknown).has_value());
}

TEST(StationProtocol, SettingValuesAreTakenOrRefusedWithWordAndCode) {
    const struct {
        std::string text;  // as received
        bool accepted;
        std::string_view reply;
        ErrorCode code;
        bool explained;  // a log line says why
    } cases[] = {
        {"SetVender", false, "VENDER_NAME_NG", 6, false},
        {"SetVender ", false, "VENDER_NAME_NG", 6, false},
        {"SetVender A B", true, "VENDER_NAME_OK", 0, false},
        {"SetVender  A", true, "VENDER_NAME_OK", 0, false},
        {"SetModel X GetModel", true, "MODEL_NAME_OK", 0, false},
        {"SetModel", false, "MODEL_NAME_NG", 7, false},
        {"SetPrinterType QRCODE", true, "PRINTER_TYPE_OK", 0, false},
        {"SetPrinterType ", false, "PRINTER_TYPE_NG", 9, false},
        {"SetSerialNo 0001", true, "SERIAL_NO_OK", 0, false},
        {"SetSerialNo 7", true, "SERIAL_NO_OK", 0, false},
        {"SetSerialNo 0000000000000000002147483648", true, "SERIAL_NO_OK", 0, false},
        {"SetSerialNo", false, "SERIAL_NO_NG", 8, false},
        // A value that would break the settings file's lines or the record's.
        {"SetVender ACME\r\n", false, "VENDER_NAME_NG", 6, true},
        {"SetModel A\nB", false, "MODEL_NAME_NG", 7, true},
        {"SetPrinterType \t", false, "PRINTER_TYPE_NG", 9, true},
        {"SetVender A\0B"s, false, "VENDER_NAME_NG", 6, true},
        // A serial number the counter cannot advance.
        {"SetSerialNo 12a", false, "SERIAL_NO_NG", 8, true},
        {"SetSerialNo -1", false, "SERIAL_NO_NG", 8, true},
        {"SetSerialNo +1", false, "SERIAL_NO_NG", 8, true},
        {"SetSerialNo $10", false, "SERIAL_NO_NG", 8, true},
        {"SetSerialNo  1", false, "SERIAL_NO_NG", 8, true},
        {"SetSerialNo 1.5", false, "SERIAL_NO_NG", 8, true},
        {"SetSerialNo 0001\r\n", false, "SERIAL_NO_NG", 8, true},
    };
    for (const auto& c : cases) {
        const auto rule = settingCommand(matchCommand(c.text));
        ASSERT_TRUE(rule.has_value()) << shown(c.text);
        const SettingOutcome o = settingOutcome(*rule, splitCommand(c.text).CommandArgument);
        EXPECT_EQ(o.accepted, c.accepted) << shown(c.text);
        EXPECT_EQ(o.reply, c.reply) << shown(c.text);
        EXPECT_EQ(o.errorCode, c.code) << shown(c.text);
        EXPECT_EQ(!o.refusal.empty(), c.explained) << shown(c.text) << ": " << o.refusal;
    }
}

TEST(StationProtocol, RefusalsSayWhatIsKeptAndCutALongValue) {
    const auto serial = *settingCommand(CommandId::SetSerialNo);
    EXPECT_EQ(settingOutcome(serial, "12a").refusal,
              "SetSerialNo: '12a' is not a serial number (decimal digits only); Serial Number "
              "is kept as it is");
    const std::string flood = std::string(5000, '9') + "x";
    const std::string refusal = settingOutcome(serial, flood).refusal;
    EXPECT_LT(refusal.size(), 200u) << refusal;
    EXPECT_NE(refusal.find("(5001 bytes)"), std::string::npos) << refusal;
    // A refused value with a line end never reaches the log line either.
    const std::string lineEnd =
        settingOutcome(*settingCommand(CommandId::SetVender), "A\r\nB").refusal;
    EXPECT_EQ(lineEnd.find_first_of("\r\n"), std::string::npos);
    EXPECT_NE(lineEnd.find("Customer is kept"), std::string::npos) << lineEnd;
    // After an empty vender name, "ReportError" gives the vender word.
    const auto vender = settingOutcome(*settingCommand(CommandId::SetVender), "");
    EXPECT_EQ(errorWord(vender.errorCode), "ERR_VENDER_NAME");
}
