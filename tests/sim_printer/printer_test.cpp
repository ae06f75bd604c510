#include <gtest/gtest.h>

#include "../support/Eventually.h"

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "label/CommDevice.h"
#include "platform/VirtualEventLoop.h"
#include "sim/printer/PrinterBehaviour.h"
#include "sim/printer/VirtualLabelPrinter.h"
#include "sim/printer/VirtualPrinterPort.h"

using namespace tc::sim;
using namespace tc::platform;
using namespace std::chrono_literals;
using tc::label::TCommDevice;
using tc::testing::eventually;

namespace {

const std::string kBarType = "BARTYPE \"DATAMATRIX\"";  // 20 characters

// The label job's acceptance rule: "Ok" at offsets L + 4 and L + 5.
bool acknowledged(const std::string& command, const std::string& answer) {
    const std::size_t L = command.size();
    return answer.size() >= L + 6 && answer[L + 4] == 'O' && answer[L + 5] == 'k';
}

struct AnswerCase {
    PrinterAnswer kind;
    std::string expected;
    bool acknowledged;
};

}  // namespace

class PrinterAnswers : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(PrinterAnswers, ByteForByte) {
    const auto& c = GetParam();
    const std::string answer = printerAnswer(kBarType, c.kind);
    EXPECT_EQ(answer, c.expected);
    EXPECT_EQ(acknowledged(kBarType, answer), c.acknowledged);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PrinterAnswers,
    ::testing::Values(AnswerCase{PrinterAnswer::Ok, "BARTYPE \"DATAMATRIX\"\r\n\r\nOk", true},
                      AnswerCase{PrinterAnswer::Slow, "BARTYPE \"DATAMATRIX\"\r\n\r\nOk", true},
                      AnswerCase{PrinterAnswer::Error, "BARTYPE \"DATAMATRIX\"\r\n\r\nError",
                                 false},
                      // L + 5 bytes ending in "O": the job's own example of a near miss.
                      AnswerCase{PrinterAnswer::Short, "BARTYPE \"DATAMATRIX\"\r\n\r\nO", false},
                      AnswerCase{PrinterAnswer::Silent, "", false},
                      AnswerCase{PrinterAnswer::Disconnect, "", false}));

TEST(PrinterBehaviour, SplitsLinesAcrossWritesAndRemembersEveryCommand) {
    PrinterBehaviour p;
    EXPECT_TRUE(p.feed("PP 100").empty());
    auto replies = p.feed(",100\nBM 5\nP");
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].bytes, "PP 100,100\r\n\r\nOk");
    EXPECT_EQ(replies[1].bytes, "BM 5\r\n\r\nOk");
    p.feed("F\n");
    EXPECT_EQ(p.commands(), (std::vector<std::string>{"PP 100,100", "BM 5", "PF"}));
}

TEST(PrinterBehaviour, ScriptedAnswersComeFirstThenTheSetAnswer) {
    PrinterBehaviour p;
    p.setAnswer(PrinterAnswer::Error);
    p.setSlowDelay(1500ms);
    p.scriptAnswers({PrinterAnswer::Ok, PrinterAnswer::Slow});
    const auto r = p.feed("A\nB\nC\n");
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].bytes, "A\r\n\r\nOk");
    EXPECT_EQ(r[0].delay, 0ms);
    EXPECT_EQ(r[1].delay, 1500ms);
    EXPECT_EQ(r[2].bytes, "C\r\n\r\nError");
}

TEST(PrinterBehaviour, AnEndlessLineIsTakenAsACommandAtTheBound) {
    PrinterBehaviour p;
    const auto r = p.feed(std::string(PrinterBehaviour::kMaxLine + 10, 'x'));
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(p.commands()[0].size(), PrinterBehaviour::kMaxLine);
}

namespace {

std::string readAll(TCommDevice& port) {
    std::string out(2000, '\0');
    out.resize(port.Read(out.data(), out.size()));
    return out;
}

void openOn(TCommDevice& port, const VirtualLabelPrinter& printer) {
    port.setBaudRate(9600);
    port.setRtsCtsFlowControl(true);
    port.setDevicePath(printer.slavePath());
    port.Open();
}

}  // namespace

TEST(VirtualLabelPrinter, OnItsOwnThreadAnswersThroughTheSerialPort) {
    VirtualLabelPrinter printer;
    printer.Start();
    TCommDevice port;
    openOn(port, printer);
    const std::string expected = kBarType + "\r\n\r\nOk";
    port.Write(kBarType);
    port.Write("\n");
    ASSERT_TRUE(eventually([&] { return port.receivedFromLine() == expected.size(); }));
    EXPECT_EQ(readAll(port), expected);
    EXPECT_EQ(printer.Commands(), std::vector<std::string>{kBarType});
}

TEST(VirtualLabelPrinter, OnAnEventLoopASlowAnswerComesOnlyAfterItsDelay) {
    VirtualEventLoop loop;
    VirtualLabelPrinter printer;
    printer.setAnswer(PrinterAnswer::Slow);  // 2000 ms
    printer.attach(loop);
    TCommDevice port;
    openOn(port, printer);
    port.Write("PF\n");
    ASSERT_TRUE(loop.runUntil([&] { return printer.Commands().size() == 1; }, 0ms));
    loop.advance(1200ms);  // the job's longest wait: nothing has been sent yet
    EXPECT_EQ(port.receivedFromLine(), 0u);
    loop.advance(800ms);
    ASSERT_TRUE(eventually([&] { return port.receivedFromLine() == 8u; }));
    EXPECT_EQ(readAll(port), "PF\r\n\r\nOk");
}

TEST(VirtualLabelPrinter, OnAnEventLoopLeavesNothingBehindWhenItGoesBeforeItsAnswer) {
    VirtualEventLoop loop;
    TCommDevice port;
    {
        VirtualLabelPrinter printer;
        printer.setAnswer(PrinterAnswer::Slow);
        printer.attach(loop);
        openOn(port, printer);
        port.Write("PF\n");
        ASSERT_TRUE(loop.runUntil([&] { return printer.Commands().size() == 1; }, 0ms));
    }
    loop.advance(5000ms);  // the answer's timer and the watch went with the printer
    EXPECT_EQ(port.receivedFromLine(), 0u);
}

TEST(VirtualLabelPrinter, ADisconnectHangsUpThePort) {
    for (const bool scripted : {false, true}) {
        VirtualLabelPrinter printer;
        printer.Start();
        TCommDevice port;
        openOn(port, printer);
        if (scripted) {
            printer.scriptAnswers({PrinterAnswer::Disconnect});
            port.Write("BM 5\n");
        } else {
            printer.disconnect();
        }
        EXPECT_TRUE(eventually([&] { return port.lineGone(); })) << "scripted " << scripted;
        EXPECT_FALSE(printer.connected());
        EXPECT_EQ(readAll(port), "");
    }
}

TEST(VirtualLabelPrinter, ThePortCanCloseAndOpenAgainWithoutAHangUp) {
    VirtualLabelPrinter printer;
    printer.Start();
    TCommDevice port;
    openOn(port, printer);
    port.Close();
    port.Open();
    port.Write("BM 5\n");
    ASSERT_TRUE(eventually([&] { return port.receivedFromLine() == 10u; }));
    EXPECT_FALSE(port.lineGone());
    EXPECT_EQ(readAll(port), "BM 5\r\n\r\nOk");
}

TEST(VirtualPrinterPort, AnswersOnTheLoopsClock) {
    VirtualEventLoop loop;
    VirtualPrinterPort port(loop);
    port.Printer().scriptAnswers({PrinterAnswer::Ok, PrinterAnswer::Slow});
    char buf[64];
    port.Write("BM 5", 4);
    port.Write("\n", 1);
    loop.sleep(500ms);
    ASSERT_EQ(port.Read(buf, sizeof buf), 10u);
    EXPECT_EQ(std::string(buf, 10), "BM 5\r\n\r\nOk");
    port.Write("PF\n", 3);
    loop.sleep(1200ms);
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);  // slow: past the job's wait
    port.PurgeRead(true);                       // arrivals still to come are not purged
    loop.sleep(800ms);
    EXPECT_EQ(port.Read(buf, sizeof buf), 8u);
    EXPECT_EQ(port.Printer().commands(), (std::vector<std::string>{"BM 5", "PF"}));
}
