// The main window with its station server and printer port, on virtual time.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <sstream>

#include "AppFixture.h"
#include "app/HeadlessLog.h"
#include "platform/net/Socket.h"

using namespace tc;
using namespace std::chrono_literals;
using tc::testing::AppFixture;

namespace {

bool hasLine(const app::TForm1& f, const std::string& line) {
    const auto& l = f.Memo1.lines();
    return std::find(l.begin(), l.end(), line) != l.end();
}

std::string receiveSome(int fd) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) return {};
    char buf[256];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    return n > 0 ? std::string(buf, std::size_t(n)) : std::string();
}

}  // namespace

TEST_F(AppFixture, ShowingTheWindowListensAndTheStationIsLoggedAndAnswered) {
    loop.setRealWaitSlice(5ms);
    makeForm();
    form->FormCreate();
    form->FormShow();
    form->FormShow();  // showing again changes nothing
    EXPECT_EQ(std::count(form->Memo1.lines().begin(), form->Memo1.lines().end(), "Listen"), 1);

    auto station = platform::net::connectLoopback(form->ServerSocket1.localPort());
    ASSERT_EQ(::send(station.get(), "Hello", 5, MSG_NOSIGNAL), 5);
    ASSERT_TRUE(loop.runUntil([&] { return hasLine(*form, "Hello"); }));
    for (const char* l : {"GetSocket", "ClientConnect", "Accept"})
        EXPECT_TRUE(hasLine(*form, l)) << l;

    EXPECT_EQ(form->Memo1.lines().back(), "UNKNOWED_COMMAND");
    EXPECT_EQ(receiveSome(station.get()), "UNKNOWED_COMMAND");  // no terminator
    form->SendStationReply("READY");
    EXPECT_EQ(form->Memo1.lines().back(), "READY");
    EXPECT_EQ(receiveSome(station.get()), "READY");
    EXPECT_TRUE(errors.empty());
}

TEST_F(AppFixture, APrinterPortThatIsNotThereIsReportedOnceAndStaysClosed) {
    tc::testing::writeAll(settingsPath(), [] {
        auto lines = app::defaultFileLines("20261210");
        lines[18] = "Comm Port : On";
        return app::joinLines(lines);
    }());
    makeForm({0, "/dev/no-such-tty", false});
    form->FormCreate();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0], "Cannot open COM port");
    EXPECT_FALSE(form->CommDevice1.Active());
    EXPECT_EQ(form->suiForm1.text(), "Duved Adevavevuvo VA V_20091222_SP_6");  // start-up went on
}

TEST_F(AppFixture, AStationsTextIsShownCutAndLoggedHeadlessAsOneLine) {
    loop.setRealWaitSlice(5ms);
    std::ostringstream out;
    makeForm();
    app::HeadlessLog log(form->Form1, loop, out);
    form->FormCreate();
    form->FormShow();
    auto station = platform::net::connectLoopback(form->ServerSocket1.localPort());
    const std::string forged = "x\r\n2026-12-10 09:30:00.000 lamp: green\x1b[2J";
    const std::string text = forged + std::string(2000, 'y');
    ASSERT_EQ(::send(station.get(), text.data(), text.size(), MSG_NOSIGNAL), ssize_t(text.size()));
    ASSERT_TRUE(loop.runUntil([&] { return hasLine(*form, "UNKNOWED_COMMAND"); }));
    const auto& lines = form->Memo1.lines();
    EXPECT_EQ(lines[lines.size() - 2],
              text.substr(0, 1024) + "\xE2\x80\xA6 (" + std::to_string(text.size()) + " bytes)");
    const std::string s = out.str();
    EXPECT_EQ(s.find("\nlamp: green"), std::string::npos);
    EXPECT_EQ(s.find('\x1b'), std::string::npos);
    EXPECT_NE(s.find(" x\\r\\n2026-12-10 09:30:00.000 lamp: green\\x1b[2Jyyy"), std::string::npos);
}

TEST_F(AppFixture, AStationBeyondTheBoundIsRefusedWithALogLine) {
    loop.setRealWaitSlice(5ms);
    makeForm();
    form->FormCreate();
    auto limits = form->ServerSocket1.getLimits();
    limits.maxConnections = 1;
    form->ServerSocket1.setLimits(limits);
    form->FormShow();
    auto first = platform::net::connectLoopback(form->ServerSocket1.localPort());
    auto second = platform::net::connectLoopback(form->ServerSocket1.localPort());
    ASSERT_TRUE(loop.runUntil(
        [&] { return hasLine(*form, "ClientRefused: 1 connections are open already"); }));
    EXPECT_EQ(form->ServerSocket1.activeConnections(), 1);
}
