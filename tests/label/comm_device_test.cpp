#include <gtest/gtest.h>

#include <poll.h>
#include <termios.h>
#include <unistd.h>
#include "../support/Eventually.h"

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "label/CommDevice.h"
#include "platform/ThreadAffinity.h"
#include "platform/serial/PseudoTerminal.h"

using namespace tc::label;
using namespace tc::platform;
using namespace std::chrono_literals;
using tc::testing::eventually;

namespace {

// What the far end of the line has received, reading until `n` bytes came (bounded).
std::string readMaster(PseudoTerminal& pty, std::size_t n) {
    std::string got;
    while (got.size() < n) {
        pollfd p{pty.master(), POLLIN, 0};
        if (::poll(&p, 1, 5000) != 1) break;
        char buf[4096];
        const ssize_t r = ::read(pty.master(), buf, std::min(sizeof buf, n - got.size()));
        if (r <= 0) break;
        got.append(buf, std::size_t(r));
    }
    return got;
}

void writeMaster(PseudoTerminal& pty, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t w = ::write(pty.master(), text.data() + done, text.size() - done);
        if (w > 0) {
            done += std::size_t(w);
        } else {
            pollfd p{pty.master(), POLLOUT, 0};
            ASSERT_EQ(::poll(&p, 1, 5000), 1);
        }
    }
}

std::string readAll(TCommDevice& port) {
    std::string out(20000, '\0');
    out.resize(port.Read(out.data(), out.size()));
    return out;
}

struct CommDevice : ::testing::Test {
    PseudoTerminal pty;
    TCommDevice port;

    void SetUp() override {
        SerialLineSettings s;
        s.port = 1;
        s.baudRate = 9600;
        s.rtsCtsFlowControl = true;
        port.applySettings(s);
        port.setDevicePath(pty.slavePath());
    }

    // Lets `n` bytes from the far end reach the receive ring.
    void deliver(const std::string& text) {
        const auto before = port.receivedFromLine();
        writeMaster(pty, text);
        ASSERT_TRUE(eventually([&] { return port.receivedFromLine() == before + text.size(); }));
    }
};

}  // namespace

TEST_F(CommDevice, CommandsGoOutAndAnswersComeBackThroughTheRings) {
    port.Open();
    ASSERT_TRUE(port.Active());
    EXPECT_EQ(port.Write("BM 5"), 4u);
    EXPECT_EQ(port.Write("\n"), 1u);
    EXPECT_EQ(readMaster(pty, 5), "BM 5\n");
    EXPECT_EQ(readAll(port), "");  // nothing has arrived: no waiting either
    deliver("BM 5\r\n\r\nOk");
    EXPECT_EQ(readAll(port), "BM 5\r\n\r\nOk");
}

TEST_F(CommDevice, LongWritesArriveWholeAndInOrder) {
    port.Open();
    std::string text;
    for (int i = 0; i < 8000; ++i) text += char(' ' + i % 90);
    ASSERT_EQ(port.Write(text), text.size());
    EXPECT_EQ(readMaster(pty, text.size()), text);
}

TEST_F(CommDevice, AnAnswerLongerThanTheRingLosesTheExcess) {
    port.Open();
    std::string answer;
    for (int i = 0; i < 10000; ++i) answer += char('A' + i % 26);
    deliver(answer);
    EXPECT_EQ(readAll(port), answer.substr(0, 8191));
    EXPECT_EQ(port.droppedOnReceive(), 10000u - 8191u);
}

TEST_F(CommDevice, PurgeReadForgetsWhatHasArrived) {
    for (const bool abort : {true, false}) {
        port.Open();
        deliver("stale answer");
        port.PurgeRead(abort);
        EXPECT_EQ(readAll(port), "") << "abort " << abort;
        deliver("Ok");
        EXPECT_EQ(readAll(port), "Ok") << "abort " << abort;
        port.Close();
    }
}

struct PurgeWriteCase {
    bool abort;
    std::size_t pieceStillSent;  // of the piece the writer holds
};

class CommDevicePurgeWrite : public CommDevice,
                             public ::testing::WithParamInterface<PurgeWriteCase> {};

TEST_P(CommDevicePurgeWrite, ForgetsWhatIsQueuedAndAbortsThePieceOnItsWay) {
    port.Open();
    // Stop the line's output so the writer is caught holding its first piece.
    ASSERT_EQ(::tcflow(pty.slave(), TCOOFF), 0);
    ASSERT_EQ(port.Write(std::string(1000, 'q')), 1000u);
    ASSERT_TRUE(eventually(
        [&] { return port.queuedForSending() == 1000u - 256u && port.waitingForLine(); }));
    port.PurgeWrite(GetParam().abort);
    EXPECT_EQ(port.queuedForSending(), 0u);
    ASSERT_EQ(::tcflow(pty.slave(), TCOON), 0);
    port.Write("AFTER");
    const std::string expected = std::string(GetParam().pieceStillSent, 'q') + "AFTER";
    EXPECT_EQ(readMaster(pty, expected.size()), expected);
}

INSTANTIATE_TEST_SUITE_P(Abort, CommDevicePurgeWrite,
                         ::testing::Values(PurgeWriteCase{true, 0}, PurgeWriteCase{false, 256}));

TEST_F(CommDevice, AClosedPortQueuesWritesButSendsAndReadsNothing) {
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(port.Write("PF\n"), 3u);
    EXPECT_EQ(port.queuedForSending(), 3u);
    char buf[8];
    EXPECT_EQ(port.Read(buf, sizeof buf), 0u);
    port.PurgeWrite(true);  // does nothing while closed
    EXPECT_EQ(port.queuedForSending(), 3u);
    // A full ring takes no more.
    EXPECT_EQ(port.Write(std::string(9000, 'x')), 8191u - 3u);
    port.Open();  // opens with empty rings: the old bytes are never sent
    EXPECT_EQ(port.queuedForSending(), 0u);
    port.Write("X");
    EXPECT_EQ(readMaster(pty, 1), "X");
}

TEST_F(CommDevice, AMissingDeviceFailsTheOpenOnceAndStaysClosed) {
    for (const auto& path : {std::string("/dev/no-such-printer-port"), std::string()}) {
        TCommDevice missing;
        missing.setDevicePath(path);
        missing.setPort(999);  // with no path: /dev/ttyS998
        try {
            missing.Open();
            FAIL() << "open succeeded";
        } catch (const ECommError& e) {
            EXPECT_STREQ(e.what(), "Cannot open COM port");
            EXPECT_EQ(e.commCode(), CommErrorCode::OpenPort);
            EXPECT_EQ(e.error(), ENOENT);  // the reason, kept for the debug log
            EXPECT_EQ(e.code(), std::errc::no_such_file_or_directory);
        }
        EXPECT_FALSE(missing.Active());
        char buf[4];
        EXPECT_EQ(missing.Read(buf, 4), 0u);
    }
}

TEST_F(CommDevice, ASecondPortOnTheSameDeviceIsRefused) {
    port.Open();
    TCommDevice other;
    other.setDevicePath(pty.slavePath());
    try {
        other.Open();
        FAIL() << "second open succeeded";
    } catch (const ECommError& e) {
        EXPECT_EQ(e.commCode(), CommErrorCode::OpenPort);
        EXPECT_EQ(e.error(), EWOULDBLOCK);  // the other holder's lock
    }
    port.Close();
    EXPECT_NO_THROW(other.Open());
}

TEST_F(CommDevice, SettingsTakeEffectAtTheNextOpen) {
    port.Open();
    port.setBaudRate(115200);
    EXPECT_FALSE(port.Active());  // a setting closes an open port
    port.Open();
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &t), 0);
    EXPECT_EQ(cfgetospeed(&t), speed_t(B115200));
}

TEST_F(CommDevice, OneAndAHalfStopBitsAreLoggedAtOpen) {
    std::vector<std::string> log;
    port.setOnLog([&](const std::string& line) { log.push_back(line); });
    port.setStopBits(StopBits::OneAndHalf);
    port.Open();
    EXPECT_EQ(log, std::vector<std::string>{kOneAndHalfStopBitsNote});
    termios t{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &t), 0);
    EXPECT_TRUE(t.c_cflag & CSTOPB);
}

TEST_F(CommDevice, AHangUpIsNoticedAndTheStopStaysPrompt) {
    port.Open();
    pty.closeMaster();
    ASSERT_TRUE(eventually([&] { return port.lineGone(); }));
    EXPECT_EQ(port.Write("PF\n"), 3u);
    EXPECT_NO_THROW(port.Close());
    EXPECT_FALSE(port.Active());
}

TEST_F(CommDevice, PurgesRacingArrivalsNeverTakeTheLineForGone) {
    port.Open();
    // The far end keeps sending while the main thread purges, as the label job purges
    // before every command. Each purge follows a byte by a delay swept over 0 to 13 us,
    // so some fall between the reader's poll and its read, which then finds nothing:
    // that is not a hang-up.
    int purges = 0;
    for (; purges < 30000 && !port.lineGone(); ++purges) {
        [[maybe_unused]] auto w = ::write(pty.master(), "z", 1);
        const auto until = std::chrono::steady_clock::now() + (purges % 128) * 100ns;
        while (std::chrono::steady_clock::now() < until) {
        }
        port.PurgeRead(purges % 2 == 0);
    }
    ASSERT_FALSE(port.lineGone()) << "after " << purges << " purges";
    port.Write("PF\n");
    EXPECT_EQ(readMaster(pty, 3), "PF\n");
    writeMaster(pty, "Ok");
    // A byte of the stream may still have been on its way after the last purge.
    std::string got;
    ASSERT_TRUE(eventually([&] {
        got += readAll(port);
        return got.ends_with("Ok");
    }));
    EXPECT_EQ(got.find_first_not_of('z'), got.size() - 2) << got;
}

// Whoever catches the errno family sees the error box's text, not "what: reason".
TEST(CommErrorMessages, TheFamilyKeepsTheBoxText) {
    const ECommError e(CommErrorCode::SetParameters, "tcsetattr /dev/ttyS1: Input/output error",
                       EIO);
    const std::system_error& family = e;
    EXPECT_STREQ(family.what(), "Cannot set COM port parameters");
    EXPECT_EQ(family.code(), std::errc::io_error);
    EXPECT_EQ(ECommError(CommErrorCode::CloseReadThread, "late").error(), 0);
}

// The rings have one producer and one consumer each: a second thread on the main
// thread's side would break them silently, so it is stopped where it calls.
TEST(CommDeviceThreads, MainThreadEntryPointsRefuseOtherThreads) {
    if (!ThreadAffinity::checksEnabled()) GTEST_SKIP() << "built without thread checks";
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::vector<std::pair<const char*, std::function<void(TCommDevice&)>>> calls = {
        {"TCommDevice::Write", [](TCommDevice& p) { p.Write("x"); }},
        {"TCommDevice::Read", [](TCommDevice& p) { readAll(p); }},
        {"TCommDevice::PurgeRead", [](TCommDevice& p) { p.PurgeRead(true); }},
        {"TCommDevice::PurgeWrite", [](TCommDevice& p) { p.PurgeWrite(true); }},
        {"TCommDevice::Open", [](TCommDevice& p) { p.Open(); }},
    };
    for (const auto& entry : calls) {
        const char* where = entry.first;
        const auto& call = entry.second;  // a structured binding cannot be captured here
        EXPECT_DEATH(
            {
                TCommDevice port;
                std::thread([&] { call(port); }).join();
            },
            std::string(where) + " called off the main thread")
            << where;
    }
}

TEST(CommErrorMessages, EveryCodeHasItsText) {
    EXPECT_EQ(commErrorMessage(1), "Out of memory");
    EXPECT_EQ(commErrorMessage(4), "Cannot open COM port");
    EXPECT_EQ(commErrorMessage(8), "Cannot set COM port parameters");
    EXPECT_EQ(commErrorMessage(9), "Cannot create COM port asynchronize read event");
    EXPECT_EQ(commErrorMessage(14), "Cannot close COM port write thread");
    EXPECT_EQ(commErrorMessage(0), "Unknown error");
    EXPECT_EQ(commErrorMessage(15), "Unknown error");
}
