#include "label/ProductRecord.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/Convert.h"

namespace tc::label {
namespace {

namespace fs = std::filesystem;

TEST(AdvanceSerialNumber, OneMoreWithAtLeastFourDigits) {
    for (const auto& [from, to] : std::initializer_list<std::pair<const char*, const char*>>{
             {"0000", "0001"},
             {"0009", "0010"},
             {"0099", "0100"},
             {"0999", "1000"},
             {"9999", "10000"},
             {"7", "0008"},
             {"00012", "0013"},
             {"2147483647", "2147483648"},
             {"99999999999999999999", "100000000000000000000"},
         })
        EXPECT_EQ(AdvanceSerialNumber(from), to) << from;
}

TEST(AdvanceSerialNumber, ATextThatIsNoDecimalNumberIsRefused) {
    for (const char* text : {"", "abc", "12a", "-5", "+5", " 12", "12 ", "$10", "0x10", "1.5"}) {
        try {
            AdvanceSerialNumber(text);
            ADD_FAILURE() << "no error for '" << text << "'";
        } catch (const platform::ConvertError& e) {
            EXPECT_EQ(e.what(), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
}

TEST(UnitStamp, MachineThenDayHourMinuteSecond) {
    EXPECT_EQ(UnitStamp("A", {2009, 12, 22, 14, 30, 5, 999}), "A22143005");
    EXPECT_EQ(UnitStamp("B", {2026, 1, 2, 3, 4, 5, 0}), "B02030405");
}

TEST(ProductRecordLine, StampMarkCodeHash) {
    EXPECT_EQ(ProductRecordLine("A22143005", "A200912220001 CUST M1 1 1 0123 0DEF 0045 0F00 E113"),
              "A22143005$!`A200912220001 CUST M1 1 1 0123 0DEF 0045 0F00 E113#");
    EXPECT_EQ(ProductRecordLine("Label6", "X"), "Label6$!`X#");
}

struct ProductRecordFile : ::testing::Test {
    fs::path dir = fs::temp_directory_path() /
                   ("touchcal-record-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::path file = dir / ProductRecordFileName;
    ProductRecordFile() {
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~ProductRecordFile() override { fs::remove_all(dir); }
    static std::string read(const fs::path& p) {
        std::ostringstream s;
        s << std::ifstream(p, std::ios::binary).rdbuf();
        return s.str();
    }
};

TEST_F(ProductRecordFile, CreatedWhenMissingThenAppendedTo) {
    ASSERT_TRUE(WriteProductRecord(file, "A22143005$!`one#"));
    ASSERT_TRUE(WriteProductRecord(file, "A22143010$!`two#"));
    EXPECT_EQ(read(file), "A22143005$!`one#\r\nA22143010$!`two#\r\n");
}

TEST_F(ProductRecordFile, ExistingContentIsKept) {
    std::ofstream(file, std::ios::binary) << "old record\r\nno line end";
    ASSERT_TRUE(WriteProductRecord(file, "new"));
    EXPECT_EQ(read(file), "old record\r\nno line endnew\r\n");
}

TEST_F(ProductRecordFile, WhatCannotBeOpenedAsAFileGetsNothing) {
    const fs::path folder = dir / "folder";
    fs::create_directory(folder);
    const fs::path fifo = dir / "fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& p : {dir / "missing" / ProductRecordFileName, folder, fifo})
        EXPECT_FALSE(WriteProductRecord(p, "line")) << p;
    EXPECT_FALSE(fs::exists(dir / "missing"));
}

TEST_F(ProductRecordFile, ALineBreakInTheRecordWritesNothing) {
    ASSERT_TRUE(WriteProductRecord(file, "first"));
    for (const char* line : {"a\r\nb", "a\nb", "a\rb"})
        EXPECT_FALSE(WriteProductRecord(file, line));
    EXPECT_EQ(read(file), "first\r\n");
}

}  // namespace
}  // namespace tc::label
