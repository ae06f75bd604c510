// Registrations as handles: whatever order a handle, its handler and its owner go in, a
// handler never runs after its handle has gone, and nothing is removed by hand.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "platform/UniqueFd.h"
#include "platform/VirtualEventLoop.h"

using namespace tc::platform;
using namespace std::chrono_literals;

TEST(OneShot, FiresOnceAtItsTimeAndIsThenOver) {
    VirtualEventLoop loop;
    std::vector<long> at;
    TimerHandle h = loop.after(250ms, [&] { at.push_back(loop.monotonic().count()); });
    EXPECT_TRUE(h.active());
    loop.advance(1000ms);
    EXPECT_EQ(at, (std::vector<long>{250}));
    EXPECT_FALSE(h.active());
    h.reset();  // after firing: harmless
}

// What a handle's going does at each moment of a one-shot's life.
struct CancelCase {
    const char* name;
    bool cancelBefore;   // reset before the time comes
    bool cancelInside;   // reset by the handler itself
    bool destroyInside;  // the owner (and with it the handle) goes inside the handler
    int expectedRuns;
};

class OneShotCancel : public ::testing::TestWithParam<CancelCase> {};

TEST_P(OneShotCancel, NeverRunsAfterItsHandleHasGone) {
    const auto& c = GetParam();
    VirtualEventLoop loop;
    struct Owner {
        TimerHandle shot;
        int runs = 0;
    };
    auto owner = std::make_unique<Owner>();
    int runs = 0;
    owner->shot = loop.after(100ms, [&] {
        ++runs;
        if (c.cancelInside) owner->shot.reset();
        if (c.destroyInside) owner.reset();
    });
    if (c.cancelBefore) owner->shot.reset();
    loop.advance(500ms);
    EXPECT_EQ(runs, c.expectedRuns);
    // A second one-shot from the same loop still works afterwards.
    bool later = false;
    TimerHandle again = loop.after(10ms, [&] { later = true; });
    loop.advance(20ms);
    EXPECT_TRUE(later);
}

INSTANTIATE_TEST_SUITE_P(Moments, OneShotCancel,
                         ::testing::Values(CancelCase{"before_fire", true, false, false, 0},
                                           CancelCase{"inside_fire", false, true, false, 1},
                                           CancelCase{"owner_destroyed_inside_fire", false, false,
                                                      true, 1},
                                           CancelCase{"untouched", false, false, false, 1}),
                         [](const auto& i) { return std::string(i.param.name); });

TEST(RepeatingTimer, StopsWhenItsHandleGoesEvenFromItsOwnTick) {
    VirtualEventLoop loop;
    int ticks = 0;
    TimerHandle h;
    h = loop.every(100ms, [&] {
        if (++ticks == 3) h = TimerHandle{};  // the handle replaced inside its own tick
    });
    loop.advance(1000ms);
    EXPECT_EQ(ticks, 3);
    EXPECT_FALSE(h.active());
}

TEST(RepeatingTimer, AMovedHandleKeepsTheRegistrationAndTheOldOneIsEmpty) {
    VirtualEventLoop loop;
    int ticks = 0;
    TimerHandle a = loop.every(100ms, [&] { ++ticks; });
    TimerHandle b = std::move(a);
    EXPECT_FALSE(a.active());
    EXPECT_TRUE(b.active());
    loop.advance(250ms);
    EXPECT_EQ(ticks, 2);
    b.reset();
    loop.advance(500ms);
    EXPECT_EQ(ticks, 2);
}

TEST(Watch, EndsWithItsHandleAndItsEventsCanChange) {
    VirtualEventLoop loop;
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    UniqueFd a(fds[0]), b(fds[1]);
    int reads = 0;
    {
        WatchHandle w = loop.watch(a.get(), FdEvent::Read, [&](FdEvent) {
            char c;
            while (::read(a.get(), &c, 1) == 1) {
            }
            ++reads;
        });
        ::fcntl(a.get(), F_SETFL, O_NONBLOCK);
        ASSERT_EQ(::write(b.get(), "x", 1), 1);
        loop.runPending();
        EXPECT_EQ(reads, 1);
        w.setEvents(FdEvent::None);
        ASSERT_EQ(::write(b.get(), "y", 1), 1);
        loop.runPending();
        EXPECT_EQ(reads, 1);
        w.setEvents(FdEvent::Read);
        loop.runPending();
        EXPECT_EQ(reads, 2);
    }
    ASSERT_EQ(::write(b.get(), "z", 1), 1);
    loop.runPending();
    EXPECT_EQ(reads, 2);
}

TEST(PostScope, WorkQueuedForAnOwnerThatHasGoneIsSkipped) {
    VirtualEventLoop loop;
    std::vector<int> ran;
    auto scope = std::make_unique<PostScope>(loop);
    std::thread worker([&] {
        scope->post([&] { ran.push_back(1); });
        scope->post([&] { ran.push_back(2); });
    });
    worker.join();
    scope->post([&] { ran.push_back(3); });
    loop.runPending();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));

    PostScope* raw = scope.get();
    std::thread late([raw, &ran] { raw->post([&ran] { ran.push_back(4); }); });
    late.join();
    scope.reset();  // the owner goes with the work still queued
    loop.runPending();
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
}

TEST(PostScope, AHandOverToAClosedScopeStillReturns) {
    VirtualEventLoop loop;
    PostScope scope(loop);
    scope.close();
    bool ran = false;
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        scope.invokeAndWait([&] { ran = true; });
        returned = true;
    });
    ASSERT_TRUE(loop.runUntil([&] { return returned.load(); }, 1000ms, 5000ms));
    worker.join();
    EXPECT_FALSE(ran);
}

TEST(UniqueFd, ClosesOnceAndGivesUpOnRelease) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    int kept = -1;
    {
        UniqueFd r(fds[0]);
        UniqueFd w(fds[1]);
        UniqueFd moved = std::move(w);
        EXPECT_FALSE(w.valid());
        EXPECT_TRUE(moved.valid());
        kept = r.release();
        EXPECT_FALSE(r);
    }
    // The write end was closed exactly once (by `moved`), the read end not at all.
    char c;
    EXPECT_EQ(::read(kept, &c, 1), 0) << "write end still open";
    EXPECT_EQ(::close(kept), 0);
}
