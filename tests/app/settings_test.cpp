#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>
#include <algorithm>

#include "AppFixture.h"
#include "app/Settings.h"
#include "platform/UniqueFd.h"

using namespace tc;
using namespace tc::app;
using tc::testing::AppFixture;

namespace {

const char* const kToday = "20261210";

std::string defaultFileText(const std::string& date) {
    return joinLines(defaultFileLines(date));
}

std::string& lineOf(std::vector<std::string>& lines, Slot slot) {
    return lines[linePosition(slot) - 1];
}

// The default file with the line of one value changed.
std::string withLine(Slot slot, const std::string& text, const std::string& date = kToday) {
    auto lines = defaultFileLines(date);
    lineOf(lines, slot) = text;
    return joinLines(lines);
}

bool contains(const std::deque<std::string>& lines, const std::string& l) {
    return std::find(lines.begin(), lines.end(), l) != lines.end();
}

}  // namespace

TEST(SettingsText, ExtractionRule) {
    struct Case {
        const char* line;
        const char* value;
    } cases[] = {
        {"BAUD RATE : 9600", "9600"},
        {"BAUD RATE :9600", "600"},
        {"BM :5", ""},
        {"no colon here", ""},
        {"Date : 12:34", "12:4"},
        {"Model : M1  ", "M1  "},
        {"a::b", ""},
        {": x", "x"},
        {"Customer : ", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(extractValue(c.line), c.value) << c.line;
}

TEST(SettingsText, AnyLineEndEndsALine) {
    EXPECT_EQ(splitLines("a\r\nb\rc\nd"), (std::vector<std::string>{"a", "b", "c", "d"}));
    EXPECT_EQ(splitLines("a\r\n\r\nb\r\n"), (std::vector<std::string>{"a", "", "b"}));
}

TEST(SettingsText, DefaultFileIsTwentyTwoCrLfLines) {
    const std::string text = defaultFileText(kToday);
    EXPECT_EQ(text.substr(0, 13), "PORT NO : 1\r\n");
    EXPECT_NE(text.find("\r\nCustomer : KORVAN\r\nModel : KORVAN\r\n"), std::string::npos);
    EXPECT_NE(text.find("\r\nDate : 20261210\r\nOpen Times : 0\r\n"), std::string::npos);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 22);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
}

// The layout every station's file has: the tests above and below find lines through
// linePosition, so this is where the positions themselves are held to account.
TEST(SettingsText, LayoutOfTheFile) {
    const std::vector<std::string> expected = {
        "PORT NO : 1",
        "## BAUD RATE:9600;19200;38400;57600;115200",
        "BAUD RATE : 9600",
        "BYTESIZE : 8",
        "## PARITY:NO;EVENT;MARK;ODD;SPACE;",
        "PARITY : NO",
        "## STOPBITS:1;1.5;2;",
        "STOPBITS : 1",
        "PP_X : 100",
        "PP_Y : 100",
        "BM : 5",
        "Printer Type : DATAMATRIX",
        "######################",
        "Serial Number : 0001",
        "Customer : KORVAN",
        "Model : KORVAN",
        "Row Number : 30",
        "Column Number : 30",
        "Comm Port : OFF",
        "Mechin Name : A",
        "Date : 20261210",
        "Open Times : 0",
    };
    EXPECT_EQ(defaultFileLines(kToday), expected);
    for (int position = 0; position <= kFileLineCount + 1; ++position)
        EXPECT_EQ(isCommentLine(position),
                  position == 2 || position == 5 || position == 7 || position == 13)
            << position;
    EXPECT_EQ(linePosition(Slot::PortNo), 1);
    EXPECT_EQ(linePosition(Slot::BaudRate), 3);
    EXPECT_EQ(linePosition(Slot::SerialNumber), 14);
    EXPECT_EQ(linePosition(Slot::OpenTimes), 22);
}

// Whatever the values, the lines a save writes read back to the same values.
TEST(SettingsText, WhatASaveWritesReadsBack) {
    Slots values;
    for (int i = 0; i < kSlotCount; ++i) values[Slot(i)] = " value " + std::to_string(i);
    const auto lines = settingsFileLines(values);
    ASSERT_EQ(lines.size(), std::size_t(kFileLineCount));
    for (int i = 0; i < kSlotCount; ++i)
        EXPECT_EQ(extractValue(lines[linePosition(Slot(i)) - 1]), values[Slot(i)]) << i;
    EXPECT_EQ(readSettings(joinLines(lines), kToday).values, values);
}

// Start-up over a table of files: the slots it gives and the lines Memo1 shows.
struct FileCase {
    const char* name;
    std::optional<std::string> file;
    std::vector<std::pair<Slot, std::string>> slots;
    std::vector<std::string> logLines;  // must be in Memo1
    bool defaultWritten;
    int errors = 0;
};

void PrintTo(const FileCase& c, std::ostream* os) {
    *os << c.name;
}

class SettingsStartUp : public AppFixture, public ::testing::WithParamInterface<FileCase> {};

TEST_P(SettingsStartUp, GivesTheSlotsAndLogLines) {
    const auto& c = GetParam();
    if (c.file) tc::testing::writeAll(settingsPath(), *c.file);
    auto& f = start();
    for (const auto& [slot, value] : c.slots)
        EXPECT_EQ(f.SettingValues[slot], value) << c.name << " slot " << slotIndex(slot);
    for (const auto& l : c.logLines)
        EXPECT_TRUE(contains(f.Memo1.lines(), l)) << c.name << ": " << l;
    if (c.defaultWritten) {
        EXPECT_EQ(tc::testing::readAll(settingsPath()), defaultFileText(kToday));
    } else if (c.file) {
        EXPECT_EQ(tc::testing::readAll(settingsPath()), *c.file);
    }
    EXPECT_EQ(int(errors.size()), c.errors) << c.name;
}

std::string movedComment() {
    auto lines = defaultFileLines(kToday);
    int firstComment = 1;
    while (!isCommentLine(firstComment)) ++firstComment;
    lines.erase(lines.begin() + (firstComment - 1));
    lines.push_back("extra : x");
    return joinLines(lines);
}

std::string shortFile() {
    auto lines = defaultFileLines(kToday);
    lines.pop_back();
    return joinLines(lines);
}

INSTANTIATE_TEST_SUITE_P(
    Files, SettingsStartUp,
    ::testing::Values(
        FileCase{"missing",
                 std::nullopt,
                 {{Slot::Customer, "QMV"},
                  {Slot::Model, "olmerT5"},
                  {Slot::Date, kToday},
                  {Slot::OpenTimes, "1"},
                  {Slot::SerialNumber, "0001"}},
                 {"Customer : KORVAN", "Open Times : 0"},
                 true},
        FileCase{
            "21 lines", shortFile(), {{Slot::Customer, "QMV"}, {Slot::OpenTimes, "1"}}, {}, true},
        // Every value after the gap lands one slot early: the counts and the start count
        // read texts that are not numbers.
        FileCase{"comment deleted",
                 movedComment(),
                 {{Slot::BaudRate, "9600"}, {Slot::ByteSize, "8"}, {Slot::ColumnNumber, "30"}},
                 {"Waring---Baud Rate Set Default : 9600---", "---Parity Set Default : NO---",
                  "---Column Number Set Default : 30---", "---Open Times Set Default : 0---",
                  "extra : x"},
                 false,
                 2},
        FileCase{"baud 4800",
                 withLine(Slot::BaudRate, "BAUD RATE : 4800"),
                 {{Slot::BaudRate, "9600"}},
                 {"Waring---Baud Rate Set Default : 9600---"},
                 false},
        FileCase{"baud 115200",
                 withLine(Slot::BaudRate, "BAUD RATE : 115200"),
                 {{Slot::BaudRate, "115200"}},
                 {},
                 false},
        FileCase{"parity EVEN",
                 withLine(Slot::Parity, "PARITY : EVEN"),
                 {{Slot::Parity, "NO"}},
                 {"---Parity Set Default : NO---"},
                 false},
        FileCase{"bytesize 5",
                 withLine(Slot::ByteSize, "BYTESIZE : 5"),
                 {{Slot::ByteSize, "8"}},
                 {},
                 false},
        FileCase{"stopbits 3",
                 withLine(Slot::StopBits, "STOPBITS : 3"),
                 {{Slot::StopBits, "1"}},
                 {"---StopBits Set Default : 1---"},
                 false},
        FileCase{"yesterday",
                 withLine(Slot::SerialNumber, "Serial Number : 0042", "20261209"),
                 {{Slot::SerialNumber, "0001"}, {Slot::Date, kToday}},
                 {},
                 false},
        FileCase{"today",
                 withLine(Slot::SerialNumber, "Serial Number : 0042"),
                 {{Slot::SerialNumber, "0042"}},
                 {},
                 false},
        FileCase{"row count not a number",
                 withLine(Slot::RowNumber, "Row Number : x1"),
                 {{Slot::RowNumber, "30"}},
                 {"---Row Number Set Default : 30---"},
                 false,
                 1},
        FileCase{"column count 31",
                 withLine(Slot::ColumnNumber, "Column Number : 31"),
                 {{Slot::ColumnNumber, "30"}},
                 {"---Column Number Set Default : 30---"},
                 false,
                 1},
        FileCase{"port not a number",
                 withLine(Slot::PortNo, "PORT NO : COM1"),
                 {{Slot::PortNo, "1"}},
                 {"---PORT NO Set Default : 1---"},
                 false,
                 1},
        FileCase{"colon inside a value",
                 withLine(Slot::Customer, "Customer : AB:CD"),
                 {{Slot::Customer, "AB:D"}},
                 {},
                 false},
        FileCase{"open times garbage",
                 withLine(Slot::OpenTimes, "Open Times : many"),
                 {{Slot::OpenTimes, "1"}},
                 {"---Open Times Set Default : 0---"},
                 false,
                 1},
        FileCase{"open times one below the largest",
                 withLine(Slot::OpenTimes, "Open Times : 2147483646"),
                 {{Slot::OpenTimes, "2147483647"}},
                 {},
                 false},
        // The largest count stays: it neither turns negative nor starts again.
        FileCase{"open times at the largest",
                 withLine(Slot::OpenTimes, "Open Times : 2147483647"),
                 {{Slot::OpenTimes, "2147483647"}},
                 {"---Open Times Kept At : 2147483647---"},
                 false},
        FileCase{"open times negative",
                 withLine(Slot::OpenTimes, "Open Times : -1"),
                 {{Slot::OpenTimes, "0"}},
                 {},
                 false}),
    [](const auto& info) {
        std::string n = info.param.name;
        std::replace_if(
            n.begin(), n.end(), [](char ch) { return !isalnum(ch); }, '_');
        return n;
    });

TEST_F(AppFixture, CommPortOnlyForExactSpellings) {
    for (auto [value, on] : {std::pair{"On", true},
                             {"ON", true},
                             {"on", true},
                             {"oN", false},
                             {"ON ", false},
                             {"OFF", false}})
        EXPECT_EQ(commPortEnabled(value), on) << '"' << value << '"';
    tc::testing::writeAll(settingsPath(), withLine(Slot::CommPort, "Comm Port : On"));
    EXPECT_TRUE(start().CommPortOn);
    EXPECT_TRUE(form->CommSettings.rtsCtsFlowControl);
}

TEST_F(AppFixture, SerialLineFromTheSettings) {
    auto lines = defaultFileLines(kToday);
    lineOf(lines, Slot::PortNo) = "PORT NO : 3";
    lineOf(lines, Slot::BaudRate) = "BAUD RATE : 57600";
    lineOf(lines, Slot::ByteSize) = "BYTESIZE : 7";
    lineOf(lines, Slot::Parity) = "PARITY : MARK";
    lineOf(lines, Slot::StopBits) = "STOPBITS : 1.5";
    tc::testing::writeAll(settingsPath(), joinLines(lines));
    const auto& s = start().CommSettings;
    EXPECT_EQ(s.port, 3);
    EXPECT_EQ(s.baudRate, 57600);
    EXPECT_EQ(s.dataBits, 7);
    EXPECT_EQ(s.parity, platform::Parity::Mark);
    EXPECT_EQ(s.stopBits, platform::StopBits::OneAndHalf);
}

TEST_F(AppFixture, OpenTimesCountsInMemoryOnly) {
    tc::testing::writeAll(settingsPath(), withLine(Slot::OpenTimes, "Open Times : 7"));
    EXPECT_EQ(start().SettingValues[Slot::OpenTimes], "8");
    EXPECT_EQ(tc::testing::readAll(settingsPath()), withLine(Slot::OpenTimes, "Open Times : 7"));
}

TEST_F(AppFixture, SaveWritesTheCurrentValuesAsTwentyTwoLines) {
    auto& f = start();  // from defaults: memory holds QMV and olmerT5
    f.Edit49.setText("B");
    loop.setNow({2026, 12, 11, 0, 0, 1, 0});  // the run goes on past midnight

    f.SaveSettings();
    auto expected = defaultFileLines("20261211");
    lineOf(expected, Slot::Customer) = "Customer : QMV";
    lineOf(expected, Slot::Model) = "Model : olmerT5";
    lineOf(expected, Slot::MechinName) = "Mechin Name : B";
    lineOf(expected, Slot::OpenTimes) = "Open Times : 1";
    EXPECT_EQ(tc::testing::readAll(settingsPath()), joinLines(expected));
    EXPECT_EQ(f.SettingValues[Slot::SerialNumber], "0001");
    EXPECT_EQ(f.Memo2.lines().size(), 22u);
    EXPECT_EQ(f.Memo1.lines().back(), "Open Times : 1");
}

TEST_F(AppFixture, SaveReplacesTheFileInsteadOfOverwritingIt) {
    tc::testing::writeAll(settingsPath(), withLine(Slot::SerialNumber, "Serial Number : 0042"));
    auto& f = start();
    // A second name for the old file keeps seeing the old bytes only if the save wrote a
    // new file and renamed it over, never truncating the one in place.
    std::filesystem::create_hard_link(settingsPath(), dir / "old.ini");
    f.SerialNumber = f.SettingValues[Slot::SerialNumber] = "0043";
    f.SaveSettings();
    EXPECT_EQ(tc::testing::readAll(dir / "old.ini"),
              withLine(Slot::SerialNumber, "Serial Number : 0042"));
    EXPECT_NE(tc::testing::readAll(settingsPath()).find("Serial Number : 0043\r\n"),
              std::string::npos);
}

TEST_F(AppFixture, SaveThatCannotWriteRaisesTheFileCreationError) {
    form = std::make_unique<app::TForm1>(loop, hid, app::AppPaths{dir, dir / "no-such-folder"});
    form->FormCreate();
    ASSERT_EQ(errors.size(), 1u);  // the default file could not be written at start-up
    EXPECT_EQ(errors[0].rfind("Cannot create file \"", 0), 0u) << errors[0];
    EXPECT_THROW(form->SaveSettings(), platform::FileError);
}

TEST_F(AppFixture, AnUnreadableFileIsReportedAndNotOverwritten) {
    std::filesystem::create_directory(settingsPath());  // exists, cannot be read as a file
    auto& f = start();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("Cannot open file"), std::string::npos);
    EXPECT_EQ(f.SettingValues[Slot::Customer], "QMV");
    EXPECT_TRUE(std::filesystem::is_directory(settingsPath()));
    EXPECT_EQ(f.RowCount, 30);
}

TEST(SettingsFile, ReplaceLeavesNoTemporaryFilesBehind) {
    auto dir = tc::testing::freshFolder("replace");
    platform::replaceFile(dir / "x.ini", "one");
    platform::replaceFile(dir / "x.ini", "two");
    EXPECT_EQ(tc::testing::readAll(dir / "x.ini"), "two");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
    std::filesystem::remove_all(dir);
}

TEST_F(AppFixture, ReadsFromTheCurrentFolderAndWritesToTheProgramFolder) {
    const auto current = dir / "current";
    const auto program = dir / "program";
    std::filesystem::create_directories(current);
    std::filesystem::create_directories(program);
    // No file where it is read: the defaults go to the program's folder.
    form = std::make_unique<app::TForm1>(loop, hid, app::AppPaths{current, program});
    form->FormCreate();
    EXPECT_FALSE(std::filesystem::exists(current / "Start_Up.ini"));
    EXPECT_EQ(tc::testing::readAll(program / "Start_Up.ini"), defaultFileText(kToday));

    form = nullptr;
    tc::testing::writeAll(current / "Start_Up.ini",
                          withLine(Slot::SerialNumber, "Serial Number : 0042"));
    form = std::make_unique<app::TForm1>(loop, hid, app::AppPaths{current, program});
    form->FormCreate();
    EXPECT_EQ(form->SerialNumber, "0042");
    form->SaveSettings();
    EXPECT_EQ(tc::testing::readAll(current / "Start_Up.ini"),
              withLine(Slot::SerialNumber, "Serial Number : 0042"));
    EXPECT_NE(tc::testing::readAll(program / "Start_Up.ini").find("Serial Number : 0042\r\n"),
              std::string::npos);
}

// What sits where Start_Up.ini should be and cannot be read as one: reported, the run goes
// on with the defaults, and the thing itself stays as it was.
struct Obstacle {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    std::filesystem::file_type type;
    const char* reason;
    bool needsPermissions = false;  // root reads whatever the mode says
};

void PrintTo(const Obstacle& o, std::ostream* os) {
    *os << o.name;
}

class SettingsObstacle : public AppFixture, public ::testing::WithParamInterface<Obstacle> {};

TEST_P(SettingsObstacle, IsReportedAndLeftAloneAndTheDefaultsApply) {
    const auto& o = GetParam();
    if (o.needsPermissions && ::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    o.make(settingsPath());
    auto& f = start();  // would never return for a FIFO opened blocking
    ASSERT_EQ(errors.size(), 1u) << o.name;
    EXPECT_EQ(errors[0].rfind("Cannot open file \"" + settingsPath().string() + "\". ", 0), 0u)
        << errors[0];
    EXPECT_NE(errors[0].find(o.reason), std::string::npos) << errors[0];
    EXPECT_EQ(std::filesystem::symlink_status(settingsPath()).type(), o.type);
    EXPECT_EQ(f.SettingValues[Slot::Customer], "QMV");
    EXPECT_EQ(f.SettingValues[Slot::OpenTimes], "1");
    EXPECT_TRUE(contains(f.Memo1.lines(), "Customer : KORVAN"));
    EXPECT_EQ(f.suiForm1.text(), "Duved Adevavevuvo VA V_20091222_SP_6");  // start-up went on
    // Nothing new beside it either.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SettingsObstacle,
    ::testing::Values(
        Obstacle{"FIFO", [](const auto& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0644), 0); },
                 std::filesystem::file_type::fifo, "FIFO"},
        Obstacle{"folder", [](const auto& p) { std::filesystem::create_directory(p); },
                 std::filesystem::file_type::directory, "folder"},
        Obstacle{"file without read permission",
                 [](const auto& p) {
                     tc::testing::writeAll(p, defaultFileText(kToday));
                     std::filesystem::permissions(p, std::filesystem::perms::none);
                 },
                 std::filesystem::file_type::regular, "Permission denied", true},
        Obstacle{"link that loops",
                 [](const auto& p) { std::filesystem::create_symlink(p.filename(), p); },
                 std::filesystem::file_type::symlink, "symbolic links"}),
    [](const auto& info) {
        std::string n = info.param.name;
        std::replace_if(
            n.begin(), n.end(), [](char ch) { return !isalnum(ch); }, '_');
        return n;
    });

TEST_F(AppFixture, StartRemovesOnlyTheTemporariesOfKilledSaves) {
    const auto current = dir / "current";
    const auto program = dir / "program";
    std::filesystem::create_directories(current);
    std::filesystem::create_directories(program);
    struct Entry {
        std::string name;
        bool stale;
    } entries[] = {
        {".Start_Up.ini.1.tmp", true},       {".Start_Up.ini.4294967295.tmp", true},
        {".Start_Up.ini..tmp", false},       {".Start_Up.ini.12a.tmp", false},
        {".Start_Up.ini.-12.tmp", false},    {"Start_Up.ini.12.tmp", false},
        {".Start_Up.ini.12.tmp.bak", false}, {".Start_Up.ini.12.TMP", false},
        {".start_up.ini.12.tmp", false},     {".Other.ini.12.tmp", false},
        {"..Start_Up.ini.12.tmp", false},
    };
    for (const auto& e : entries) {
        tc::testing::writeAll(program / e.name, "x");
        tc::testing::writeAll(current / e.name, "x");  // not where the settings are written
    }
    // Not files, though named like temporaries.
    std::filesystem::create_directory(program / ".Start_Up.ini.7.tmp");
    std::filesystem::create_symlink("Start_Up.ini", program / ".Start_Up.ini.8.tmp");
    // A save that is writing right now holds its temporary.
    tc::testing::writeAll(program / ".Start_Up.ini.9.tmp", "x");
    platform::UniqueFd held{
        ::open((program / ".Start_Up.ini.9.tmp").c_str(), O_RDONLY | O_CLOEXEC)};
    ASSERT_EQ(::flock(held.get(), LOCK_EX), 0);

    form = std::make_unique<app::TForm1>(loop, hid, app::AppPaths{current, program});
    form->FormCreate();
    held.reset();
    for (const auto& e : entries) {
        EXPECT_EQ(std::filesystem::exists(program / e.name), !e.stale) << e.name;
        EXPECT_TRUE(std::filesystem::exists(current / e.name)) << e.name;
    }
    EXPECT_TRUE(std::filesystem::is_directory(program / ".Start_Up.ini.7.tmp"));
    EXPECT_TRUE(std::filesystem::is_symlink(program / ".Start_Up.ini.8.tmp"));
    EXPECT_TRUE(std::filesystem::exists(program / ".Start_Up.ini.9.tmp"));
    EXPECT_EQ(tc::testing::readAll(program / "Start_Up.ini"), defaultFileText(kToday));
    EXPECT_TRUE(errors.empty());
}
