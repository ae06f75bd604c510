#include "label/ProductLabel.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/VirtualEventLoop.h"
#include "sim/printer/PrinterBehaviour.h"
#include "sim/printer/VirtualPrinterPort.h"

namespace tc::label {
namespace {

using namespace std::chrono_literals;
using sim::PrinterAnswer;

std::vector<std::uint8_t> bytesOf(std::string_view s) {
    return {s.begin(), s.end()};
}

// The unit of the worked example: one row line, one column line.
struct ExampleUnit {
    std::array<std::uint16_t, 1> rowMin{0x0123}, rowMax{0x0DEF}, colMin{0x0045}, colMax{0x0F00};
    LabelValues values() const {
        LabelValues v;
        v.date = "20091222";
        v.serialNumber = "0001";
        v.customerName = "CUST";
        v.modelName = "M1";
        v.rowCount = 1;
        v.columnCount = 1;
        v.rowMin = rowMin;
        v.rowMax = rowMax;
        v.colMin = colMin;
        v.colMax = colMax;
        return v;
    }
};

TEST(ComputeCrc16, CheckValues) {
    EXPECT_EQ(ComputeCrc16(bytesOf("123456789")), 0xBB3D);
    EXPECT_EQ(ComputeCrc16({}), 0);
    EXPECT_EQ(
        ComputeCrc16(std::vector<std::uint8_t>{0x01, 0x23, 0x0D, 0xEF, 0x00, 0x45, 0x0F, 0x00}),
        0xE113);
}

TEST(ProductCode, WorkedExample) {
    const ExampleUnit unit;
    const LabelValues v = unit.values();
    EXPECT_EQ(LineRangeImage(v),
              (std::vector<std::uint8_t>{0x01, 0x23, 0x0D, 0xEF, 0x00, 0x45, 0x0F, 0x00}));
    EXPECT_EQ(ProductSerial(v), "A200912220001");
    EXPECT_EQ(ProductCode(v), "A200912220001 CUST M1 1 1 0123 0DEF 0045 0F00 E113");
}

TEST(ProductCode, FourUpperCaseDigitsAndAnEmptyCustomerKeepsItsSpaces) {
    const std::array<std::uint16_t, 2> min{0x0005, 0xABCD}, max{0x00AB, 0xFFFF};
    const ExampleUnit unit;  // the values point into its line ranges
    LabelValues v = unit.values();
    v.customerName = "";
    v.rowCount = 1;
    v.columnCount = 0;
    v.rowMin = min;
    v.rowMax = max;
    EXPECT_EQ(ProductCode(v), "A200912220001  M1 1 0 0005 00AB BE51");
    v.rowCount = 2;
    EXPECT_EQ(ProductCode(v), "A200912220001  M1 2 0 0005 00AB ABCD FFFF B3C0");
}

TEST(ProductCode, CountsBeyondTheRangesGivenAreRefused) {
    const ExampleUnit unit;
    for (const auto& [rows, columns] : {std::pair{2, 1}, {1, 2}, {-1, 1}, {1, -1}}) {
        LabelValues v = unit.values();
        v.rowCount = rows;
        v.columnCount = columns;
        EXPECT_THROW(ProductCode(v), std::invalid_argument) << rows << " " << columns;
        EXPECT_THROW(LabelCommands(v), std::invalid_argument);
    }
}

TEST(LabelCommands, DefaultsAndWhereEachAnswerHoldsItsOk) {
    const ExampleUnit unit;
    const LabelValues v = unit.values();
    const auto commands = LabelCommands(v);
    struct Expected {
        std::string text;
        std::chrono::milliseconds wait;
        std::size_t okAt;
    };
    const std::array<Expected, 5> expected{{
        {"BARTYPE \"DATAMATRIX\"", 500ms, 24},
        {"PP 100,100", 500ms, 14},
        {"BM 5", 500ms, 8},
        {"PB \"!`" + ProductCode(v) + "#\"", 1200ms, ProductCode(v).size() + 12},
        {"PF", 1200ms, 6},
    }};
    EXPECT_EQ(commands[0].text.size(), 20u);
    for (std::size_t i = 0; i < commands.size(); ++i) {
        const Expected& e = expected[i];
        EXPECT_EQ(commands[i].text, e.text);
        EXPECT_EQ(commands[i].answerWait, e.wait) << e.text;
        const std::string ok = sim::printerAnswer(e.text, PrinterAnswer::Ok);
        EXPECT_EQ(ok.rfind("Ok"), e.okAt) << e.text;
        EXPECT_TRUE(LabelAnswerAcknowledged(e.text, ok)) << e.text;
        EXPECT_TRUE(LabelAnswerAcknowledged(e.text, ok + "\r\n")) << e.text;
        for (const std::string& bad : {sim::printerAnswer(e.text, PrinterAnswer::Short),
                                       sim::printerAnswer(e.text, PrinterAnswer::Error),
                                       std::string(" ") + ok, std::string()})
            EXPECT_FALSE(LabelAnswerAcknowledged(e.text, bad)) << e.text << " / " << bad;
    }
}

TEST(LabelCommands, TheLastStepsWaitComesFromTheValues) {
    const ExampleUnit unit;  // the values point into its line ranges
    LabelValues v = unit.values();
    v.printerType = "QR";
    v.ppX = "7";
    v.ppY = "8";
    v.bm = "2";
    v.lastStepsWaitMs = 300;
    const auto commands = LabelCommands(v);
    EXPECT_EQ(commands[0].text, "BARTYPE \"QR\"");
    EXPECT_EQ(commands[1].text, "PP 7,8");
    EXPECT_EQ(commands[2].text, "BM 2");
    EXPECT_EQ(commands[3].answerWait, 300ms);
    EXPECT_EQ(commands[4].answerWait, 300ms);
    v.lastStepsWaitMs = -5;
    EXPECT_EQ(LabelCommands(v)[4].answerWait, 0ms);
}

// One trace of everything the job does, port calls and hooks alike, in order.
using Trace = std::vector<std::string>;

// How the fake printer answers a command: as the virtual printer does, or with the echo
// and the gap alone (L + 4 bytes, the most that still counts as no answer).
enum class Reply { Ok, Silent, Error, Short, EchoOnly };

std::string reply(const std::string& command, Reply r) {
    switch (r) {
        case Reply::Ok:
            return sim::printerAnswer(command, PrinterAnswer::Ok);
        case Reply::Silent:
            return "";
        case Reply::Error:
            return sim::printerAnswer(command, PrinterAnswer::Error);
        case Reply::Short:
            return sim::printerAnswer(command, PrinterAnswer::Short);
        case Reply::EchoOnly:
            return command + "\r\n\r\n";
    }
    return "";
}

// Answers the commands in order from `script`, then Ok.
struct FakePort final : platform::CommPort {
    explicit FakePort(Trace& t) : trace(t) {}
    Trace& trace;
    std::vector<Reply> script;
    std::size_t answered = 0;
    std::string lastCommand;

    std::size_t Write(const void* data, std::size_t count) override {
        const std::string bytes(static_cast<const char*>(data), count);
        trace.push_back("write " + bytes);
        if (bytes != "\n") lastCommand = bytes;
        return count;
    }
    std::size_t Read(void* buffer, std::size_t count) override {
        trace.push_back("read " + std::to_string(count));
        const std::string a =
            reply(lastCommand, answered < script.size() ? script[answered] : Reply::Ok);
        ++answered;
        return a.copy(static_cast<char*>(buffer), count);
    }
    void PurgeRead(bool abort) override { trace.push_back(abort ? "PurgeRead 1" : "PurgeRead 0"); }
    void PurgeWrite(bool abort) override {
        trace.push_back(abort ? "PurgeWrite 1" : "PurgeWrite 0");
    }
};

struct FakeHooks final : LabelJobHooks {
    explicit FakeHooks(Trace& t) : trace(t) {}
    Trace& trace;
    std::function<void()> onMessages;
    std::chrono::milliseconds waited{0};

    void log(const std::string& line) override { trace.push_back("log " + line); }
    void processMessages() override {
        trace.push_back("messages");
        if (onMessages) onMessages();
    }
    void wait(std::chrono::milliseconds d) override {
        trace.push_back("wait " + std::to_string(d.count()));
        waited += d;
    }
};

const Trace kPurge{"PurgeRead 1", "PurgeWrite 1", "PurgeRead 0", "PurgeWrite 0"};

// What one command does up to its read.
Trace sent(const LabelCommand& c) {
    return {"write " + c.text, "write \n",
            "log " + c.text,   "log ",
            "messages",        "wait " + std::to_string(c.answerWait.count()),
            "read 2000"};
}

void append(Trace& to, const Trace& more) {
    to.insert(to.end(), more.begin(), more.end());
}

struct LabelJobRun : ::testing::Test {
    ExampleUnit unit;
    LabelValues values = unit.values();
    Trace trace;
    FakePort port{trace};
    FakeHooks hooks{trace};
    LabelJob job;
};

TEST_F(LabelJobRun, AllAcknowledged) {
    EXPECT_EQ(job.PrintProductLabel(port, values, hooks), 0);

    Trace expected = kPurge;
    for (const LabelCommand& c : LabelCommands(values)) {
        append(expected, sent(c));
        expected.push_back("log " + sim::printerAnswer(c.text, PrinterAnswer::Ok));
        append(expected, kPurge);
    }
    EXPECT_EQ(trace, expected);
    EXPECT_EQ(hooks.waited, 3 * 500ms + 2 * 1200ms);
    EXPECT_FALSE(job.running());
}

TEST_F(LabelJobRun, TheFirstCommandNotAcknowledgedEndsTheJobThere) {
    struct Case {
        const char* what;
        std::vector<Reply> script;  // the answers up to the failing command
        bool timeOutLines;
    };
    for (const Case& c : {
             Case{"L + 5 bytes ending in O", {Reply::Short}, false},
             Case{"L + 4 bytes", {Reply::EchoOnly}, true},
             Case{"no answer", {Reply::Silent}, true},
             Case{"printer error text", {Reply::Ok, Reply::Error}, false},
             Case{"no answer to BM", {Reply::Ok, Reply::Ok, Reply::Silent}, true},
             Case{"L + 4 bytes to PB", {Reply::Ok, Reply::Ok, Reply::Ok, Reply::EchoOnly}, false},
             Case{"no answer to PF",
                  {Reply::Ok, Reply::Ok, Reply::Ok, Reply::Ok, Reply::Silent},
                  false},
         }) {
        trace.clear();
        port.script = c.script;
        port.answered = 0;
        EXPECT_EQ(job.PrintProductLabel(port, values, hooks), 1) << c.what;

        const auto commands = LabelCommands(values);
        const std::size_t failing = c.script.size() - 1;
        Trace expected = kPurge;
        for (std::size_t i = 0; i <= failing; ++i) {
            append(expected, sent(commands[i]));
            if (i == failing && c.timeOutLines) {
                expected.push_back("log Comm Port Waiting");
                expected.push_back("log Comm Port Time Out");
            }
            expected.push_back("log " + reply(commands[i].text, c.script[i]));
            if (i != failing) append(expected, kPurge);
        }
        EXPECT_EQ(trace, expected) << c.what;
        EXPECT_FALSE(job.running());
    }
}

TEST_F(LabelJobRun, AStartFromInsideARunningJobLeavesThePortAlone) {
    int nested = -1;
    bool started = false;
    hooks.onMessages = [&] {
        if (started) return;  // one nested start only
        started = true;
        nested = job.PrintProductLabel(port, values, hooks);
    };
    EXPECT_EQ(job.PrintProductLabel(port, values, hooks), 0);
    EXPECT_EQ(nested, 1);

    // The nested start adds its one line inside the first message pass, and nothing else.
    Trace expected = kPurge;
    bool first = true;
    for (const LabelCommand& c : LabelCommands(values)) {
        Trace step = sent(c);
        if (first) step.insert(step.begin() + 5, "log Label job already running");
        first = false;
        append(expected, step);
        expected.push_back("log " + sim::printerAnswer(c.text, PrinterAnswer::Ok));
        append(expected, kPurge);
    }
    EXPECT_EQ(trace, expected);

    // Once it has ended, the next job runs.
    hooks.onMessages = nullptr;
    trace.clear();
    EXPECT_EQ(job.PrintProductLabel(port, values, hooks), 0);
    EXPECT_EQ(trace.size(), expected.size() - 1);
}

TEST_F(LabelJobRun, ALineBreakInAnyTextSendsNothing) {
    for (std::string LabelValues::*field :
         {&LabelValues::customerName, &LabelValues::modelName, &LabelValues::printerType,
          &LabelValues::serialNumber, &LabelValues::bm}) {
        for (const char* brk : {"\n", "\r"}) {
            trace.clear();
            LabelValues v = values;
            v.*field += brk;
            EXPECT_EQ(job.PrintProductLabel(port, v, hooks), 1);
            EXPECT_EQ(trace, Trace{"log Label text holds a line break: not printed"});
        }
    }
}

TEST(LabelJobOnTheVirtualPrinter, PrintsOnTheLoopsClock) {
    platform::VirtualEventLoop loop;
    sim::VirtualPrinterPort port(loop);
    std::vector<std::string> log;
    LoopLabelHooks hooks(loop, [&](const std::string& line) { log.push_back(line); });
    const ExampleUnit unit;
    const LabelValues values = unit.values();
    LabelJob job;

    // A second start arrives while the first command's answer is awaited.
    int nested = -1;
    loop.post([&] { nested = job.PrintProductLabel(port, values, hooks); });
    EXPECT_EQ(job.PrintProductLabel(port, values, hooks), 0);
    EXPECT_EQ(nested, 1);
    EXPECT_EQ(loop.monotonic(), 3 * 500ms + 2 * 1200ms);
    std::vector<std::string> commands;
    for (const LabelCommand& c : LabelCommands(values)) commands.push_back(c.text);
    EXPECT_EQ(port.Printer().commands(), commands);

    // A printer slower than the first wait: the job ends at the first command.
    port.Printer().clearCommands();
    port.Printer().setAnswer(PrinterAnswer::Slow);
    log.clear();
    EXPECT_EQ(job.PrintProductLabel(port, values, hooks), 1);
    EXPECT_EQ(port.Printer().commands(), std::vector<std::string>{commands[0]});
    EXPECT_EQ(log, (std::vector<std::string>{commands[0], "", "Comm Port Waiting",
                                             "Comm Port Time Out", ""}));
}

}  // namespace
}  // namespace tc::label
