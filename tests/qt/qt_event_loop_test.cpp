// The event loop on Qt's loop, in real time: kept short, and every wait is for a
// condition with a limit.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTimer>

#include <atomic>
#include <thread>
#include <vector>

#include "device/ControllerLink.h"
#include "platform/UniqueFd.h"
#include "platform/net/Socket.h"
#include "qt/QtEventLoop.h"
#include "station/ServerSocket.h"
#include "tests/device/FakeView.h"
#include "tests/device/SocketBackend.h"
#include "tests/support/Eventually.h"

using namespace tc;
using namespace std::chrono_literals;

namespace {

QCoreApplication& application() {
    static int argc = 1;
    static char name[] = "test";
    static char* argv[] = {name, nullptr};
    // Never destroyed: tearing Qt down among the other statics at exit is not safe.
    static auto* app = new QCoreApplication(argc, argv);
    return *app;
}

// Runs the loop until `done` holds or `limit` has passed.
bool runUntil(qt::QtEventLoop& loop, const std::function<bool()>& done,
              std::chrono::milliseconds limit = 5000ms) {
    bool timedOut = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
        timedOut = true;
        loop.quit();
    });
    guard.start(int(limit.count()));
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, [&] {
        if (done()) loop.quit();
    });
    // Not too often, or a loaded machine would never find the loop idle.
    check.start(10);

    if (!done()) loop.run();
    return done() && !timedOut;
}

struct WithApplication {
    WithApplication() { application(); }
};

// The application first: the loop hangs on its event dispatcher.
struct QtLoop : ::testing::Test, WithApplication {
    qt::QtEventLoop loop;
};

}  // namespace

TEST_F(QtLoop, TimersFollowTheEnabledRules) {
    int ticks = 0;
    platform::Timer t(loop, 20ms, [&] { ++ticks; });
    t.setEnabled(true);
    const auto started = loop.monotonic();
    EXPECT_TRUE(runUntil(loop, [&] { return ticks >= 2; }));
    EXPECT_GE((loop.monotonic() - started).count(), 35);
    t.setEnabled(false);
    const int stopped = ticks;
    loop.sleep(50ms);
    loop.processMessages();
    EXPECT_EQ(ticks, stopped);
}

// A command sequence sleeps and then lets everything pending run once: timers that fell
// due while it slept, posted work and the hand-over a thread queued meanwhile all run in
// that one pass, however many kinds of event are waiting.
TEST_F(QtLoop, OneMessagePassRunsEveryTimerThatFellDueAndAllQueuedWork) {
    // As a station command runs it: inside the handler of a descriptor, and inside posted work.
    for (int nesting = 0; nesting < 3; ++nesting) {
        SCOPED_TRACE(nesting);
        auto body = [&] {
            int fired = 0, posted = 0;
            std::vector<platform::TimerHandle> shots;
            for (int i = 0; i < 4; ++i) shots.push_back(loop.after(5ms, [&] { ++fired; }));
            loop.post([&] { ++posted; });
            std::atomic<bool> handedOver{false};
            std::thread worker([&] { loop.invokeAndWait([&] { handedOver = true; }); });
            while (loop.queuedWork() < 2) std::this_thread::yield();
            loop.sleep(50ms);
            loop.processMessages();
            EXPECT_EQ(fired, 4);
            EXPECT_EQ(posted, 1);
            EXPECT_TRUE(handedOver);
            worker.join();
        };
        if (nesting == 0) {
            body();
            continue;
        }
        bool ran = false;
        int fds[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
        platform::UniqueFd a(fds[0]), b(fds[1]);
        platform::WatchHandle watch;
        if (nesting == 1) {
            watch = loop.watch(a.get(), platform::FdEvent::Read, [&](platform::FdEvent) {
                char c;
                if (::read(a.get(), &c, 1) == 1 && !ran) {
                    ran = true;
                    body();
                }
            });
            ASSERT_EQ(::write(b.get(), "x", 1), 1);
        } else {
            loop.post([&] {
                ran = true;
                body();
            });
        }
        EXPECT_TRUE(runUntil(loop, [&] { return ran; }));
    }
}

TEST_F(QtLoop, HandOversFromAThreadRunOnTheMainThreadInOrder) {
    std::vector<int> seen;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        for (int i = 0; i < 100; ++i)
            loop.invokeAndWait([&, i] {
                EXPECT_TRUE(loop.isMainThread());
                seen.push_back(i);
            });
        done = true;
    });
    EXPECT_TRUE(runUntil(loop, [&] { return done.load(); }));
    worker.join();
    ASSERT_EQ(seen.size(), 100u);
    for (int i = 0; i < 100; ++i) EXPECT_EQ(seen[i], i);
}

TEST_F(QtLoop, AMainThreadWaitingForAWorkerKeepsRunningItsHandOvers) {
    std::atomic<bool> finished{false};
    int ran = 0;
    std::thread worker([&] {
        loop.invokeAndWait([&] { ++ran; });
        finished = true;
    });
    // Waiting for the worker without the loop running: only runQueuedWork gets it out.
    while (!finished) {
        loop.runQueuedWork();
        std::this_thread::yield();
    }
    worker.join();
    EXPECT_EQ(ran, 1);
}

TEST_F(QtLoop, AScanQueuedAheadOfAReadersHandOverChecksInWithoutHanging) {
    test::SocketBackend backend(true);  // a streaming data interface and a mouse
    device::HidCtrl ctrl(loop, backend);
    test::FakeView view;
    device::ControllerLink link(ctrl, view);
    link.connectHandlers();
    ASSERT_TRUE(runUntil(loop, [&] { return link.DataDevice() != nullptr; }));
    // The mouse goes, then a report is read: its hand-over is queued behind the scan that
    // checks the data interface in and so waits for this very reader.
    backend.removeMouse();
    backend.send({0x22, 1, 3, 4});
    ASSERT_TRUE(tc::testing::eventually([&] { return loop.queuedWork() == 2; }));
    {
        test::HangGuard guard(10s, "a check-in waiting for a hand-over queued behind it");
        EXPECT_TRUE(runUntil(loop, [&] { return !view.memo1.empty(); }));
    }
    EXPECT_EQ(view.memo1, (std::vector<std::string>{"Device: PlugOut"}));
    EXPECT_EQ(link.testDataBuffer()[2], 3);  // handled during the check-in
    ASSERT_NE(link.DataDevice(), nullptr);   // found again in the same scan
    backend.send({0x22, 1, 5, 6});
    EXPECT_TRUE(runUntil(loop, [&] { return link.testDataBuffer()[2] == 5; }));
}

TEST_F(QtLoop, IdleHookRunsWhenTheQueueEmptiesAndTheLoopDoesNotSpin) {
    int idle = 0;
    loop.setIdleHook([&] { ++idle; });
    bool posted = false;
    loop.post([&] { posted = true; });
    EXPECT_TRUE(runUntil(loop, [&] { return posted && idle > 0; }));
    // With nothing to do the loop waits: over 100 ms of quiet the hook runs a handful of
    // times (our own check timer wakes it), not millions.
    idle = 0;
    bool over = false;
    QTimer::singleShot(100, [&] { over = true; });
    EXPECT_TRUE(runUntil(loop, [&] { return over; }));
    EXPECT_LT(idle, 1000);
    loop.setIdleHook({});
}

TEST_F(QtLoop, ExceptionsInHandlersGoToTheErrorSink) {
    std::vector<std::string> errors;
    loop.setErrorSink([&](const std::string& e) { errors.push_back(e); });
    loop.post([] { throw std::runtime_error("Cannot open COM port"); });
    EXPECT_TRUE(runUntil(loop, [&] { return !errors.empty(); }));
    EXPECT_EQ(errors, (std::vector<std::string>{"Cannot open COM port"}));
}

TEST_F(QtLoop, DescriptorWatchesSeeDataAndHangUp) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    platform::UniqueFd ours(fds[0]), peer(fds[1]);
    std::vector<platform::FdEvent> seen;
    platform::WatchHandle watch =
        loop.watch(ours.get(), platform::FdEvent::Read, [&](platform::FdEvent e) {
            seen.push_back(e);
            char buf[16];
            [[maybe_unused]] auto n = ::read(ours.get(), buf, sizeof buf);
        });

    ASSERT_EQ(::write(peer.get(), "x", 1), 1);
    EXPECT_TRUE(runUntil(loop, [&] { return !seen.empty(); }));
    EXPECT_TRUE(any(seen[0] & platform::FdEvent::Read));
    peer.reset();
    EXPECT_TRUE(runUntil(loop, [&] { return any(seen.back() & platform::FdEvent::HangUp); }));
    // Once the handle has gone nothing more is heard, though the descriptor stays ready.
    watch.reset();
    const auto heard = seen.size();
    QCoreApplication::processEvents();
    EXPECT_EQ(seen.size(), heard);
}

TEST_F(QtLoop, TheStationServerWorksOnIt) {
    station::TServerSocket server(loop);
    std::vector<std::string> memo;
    server.setPort(0);
    server.onClientRead = [&](station::StationConnection& c) {
        memo.push_back(c.ReceiveText());
        station::SendStationReply([&](const std::string& l) { memo.push_back(l); }, server,
                                  "READY");
    };
    server.onClientDisconnect = [&](station::StationConnection&) {
        memo.push_back("ClientDisconnect");
    };
    server.setActive(true);
    auto client = platform::net::connectLoopback(server.localPort());
    ASSERT_EQ(::send(client.get(), "ReadyToAcquire", 14, MSG_NOSIGNAL), 14);
    EXPECT_TRUE(runUntil(loop, [&] { return memo.size() >= 2; }));
    char buf[16] = {};
    EXPECT_EQ(::recv(client.get(), buf, sizeof buf, 0), 5);
    EXPECT_STREQ(buf, "READY");
    client.reset();
    EXPECT_TRUE(runUntil(loop, [&] { return !memo.empty() && memo.back() == "ClientDisconnect"; }));
    EXPECT_EQ(memo[0], "ReadyToAcquire");
    EXPECT_EQ(server.activeConnections(), 0);
}
