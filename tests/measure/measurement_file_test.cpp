#include "measure/MeasurementFile.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/Files.h"

namespace tc::measure {
namespace {

namespace fs = std::filesystem;

MeasurementRecord record(int rows, int columns) {
    MeasurementRecord r{"A", "20261210", "0001", "CUST", "MDL", rows, columns, {}, {}};
    for (int i = 0; i < 30; ++i) {
        char text[32];
        std::snprintf(text, sizeof text, "Rol %2d:0x%04X-0x0F00", i, 0x100 + i);
        r.rowTexts.emplace_back(text);
        std::snprintf(text, sizeof text, "Col %2d:0x0FFF-0x0000", i);
        r.columnTexts.emplace_back(text);
    }
    return r;
}

TEST(MeasurementFile, NameFollowsTheSettingsAndCounts) {
    EXPECT_EQ(buildMeasurementFile(record(16, 12)).fileName, "AAA202612100001_CUST_MDL_16_12.txt");
}

TEST(MeasurementFile, ContentIsRowsThenColumnsEndedByCrLf) {
    struct Case {
        int rows, columns;
        std::string content;
    };
    for (const Case& c : {
             Case{2, 1, "Rol  0:0x0100-0x0F00\r\nRol  1:0x0101-0x0F00\r\nCol  0:0x0FFF-0x0000\r\n"},
             Case{0, 2, "Col  0:0x0FFF-0x0000\r\nCol  1:0x0FFF-0x0000\r\n"},
             Case{0, 0, ""},
         })
        EXPECT_EQ(buildMeasurementFile(record(c.rows, c.columns)).content, c.content)
            << c.rows << "x" << c.columns;
}

TEST(MeasurementFile, CountsBeyondTheTextsAreRefused) {
    for (auto [rows, columns] : {std::pair{31, 1}, std::pair{1, 31}, std::pair{-1, 0}})
        EXPECT_THROW(buildMeasurementFile(record(rows, columns)), std::invalid_argument);
}

TEST(MeasurementFile, UnsafeNamesAreMadeSafe) {
    struct Case {
        std::string customer, model, expected;
    };
    for (const Case& c : {
             Case{"../..", "MDL", "AAA202612100001_.__.__MDL_16_12.txt"},
             Case{"a/b\\c", "x", "AAA202612100001_a_b_c_x_16_12.txt"},
             Case{std::string("a\0b", 3), "t\r\n", "AAA202612100001_a_b_t___16_12.txt"},
             Case{"", "V1.2", "AAA202612100001__V1.2_16_12.txt"},
         }) {
        auto r = record(16, 12);
        r.customerName = c.customer;
        r.modelName = c.model;
        EXPECT_EQ(buildMeasurementFile(r).fileName, c.expected) << c.expected;
    }
}

struct MeasurementFileSave : ::testing::Test {
    fs::path dir = fs::temp_directory_path() /
                   ("touchcal-measure-" + std::to_string(::getpid()) + "-" +
                    ::testing::UnitTest::GetInstance()->current_test_info()->name());
    MeasurementFileSave() { fs::remove_all(dir); }
    ~MeasurementFileSave() override { fs::remove_all(dir); }
    static std::string read(const fs::path& p) {
        std::ostringstream s;
        s << std::ifstream(p, std::ios::binary).rdbuf();
        return s.str();
    }
    static int entries(const fs::path& p) {
        int n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(p)) ++n;
        return n;
    }
};

TEST_F(MeasurementFileSave, CreatesTheFolderAndReplacesTheSameName) {
    const fs::path program = dir / "bin";  // missing parents too
    auto r = record(2, 1);
    const fs::path first = saveMeasurementFile(program, r);
    EXPECT_EQ(first, program / "save" / "AAA202612100001_CUST_MDL_2_1.txt");
    r.rowTexts[0] = "Row  0:0x0FFF-0x0000";
    EXPECT_EQ(saveMeasurementFile(program, r), first);
    EXPECT_EQ(read(first), buildMeasurementFile(r).content);
    EXPECT_EQ(entries(program / "save"), 1);
}

TEST_F(MeasurementFileSave, UnsafeNamesStayInsideSave) {
    auto r = record(1, 1);
    r.customerName = "../../x";
    r.modelName = "/tmp/y";
    const fs::path path = saveMeasurementFile(dir, r);
    EXPECT_EQ(path.parent_path(), dir / "save");
    EXPECT_EQ(entries(dir), 1);
    EXPECT_EQ(entries(dir / "save"), 1);
    EXPECT_EQ(read(path), "Rol  0:0x0100-0x0F00\r\nCol  0:0x0FFF-0x0000\r\n");
}

TEST_F(MeasurementFileSave, AFolderThatCannotBeMadeIsReportedAndNothingWritten) {
    fs::create_directories(dir);
    std::ofstream(dir / "save") << "in the way";
    try {
        saveMeasurementFile(dir, record(1, 1));
        FAIL() << "no error";
    } catch (const platform::FileError& e) {
        EXPECT_NE(std::string(e.what()).find("Cannot create folder"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(read(dir / "save"), "in the way");
}

}  // namespace
}  // namespace tc::measure
