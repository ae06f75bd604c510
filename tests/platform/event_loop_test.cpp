#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/Convert.h"
#include "platform/VirtualEventLoop.h"

using namespace tc::platform;
using namespace std::chrono_literals;

TEST(Timer, EnablingAnEnabledTimerDoesNotRestartIt) {
    VirtualEventLoop loop;
    std::vector<long> ticks;
    Timer t(loop, 1000ms, [&] { ticks.push_back(loop.monotonic().count()); });
    t.setEnabled(true);
    loop.advance(600ms);
    t.setEnabled(true);  // no restart: the tick still comes at 1000
    loop.advance(500ms);
    EXPECT_EQ(ticks, (std::vector<long>{1000}));
}

TEST(Timer, StopAndStartRestartsTheInterval) {
    VirtualEventLoop loop;
    std::vector<long> ticks;
    Timer t(loop, 100ms, [&] {
        ticks.push_back(loop.monotonic().count());
        t.setEnabled(false);
    });
    t.setEnabled(true);
    loop.advance(80ms);
    t.setEnabled(false);
    t.setEnabled(true);  // counts from 80 now
    loop.advance(150ms);
    EXPECT_EQ(ticks, (std::vector<long>{180}));
}

TEST(Timer, RepeatsUntilStoppedAndDoesNotCatchUpAfterASleep) {
    VirtualEventLoop loop;
    int ticks = 0;
    Timer t(loop, 100ms, [&] { ++ticks; });
    t.setEnabled(true);
    loop.advance(350ms);
    EXPECT_EQ(ticks, 3);
    loop.sleep(1000ms);  // nothing runs during a blocking sleep
    EXPECT_EQ(ticks, 3);
    loop.processMessages();  // one overdue tick, not ten
    EXPECT_EQ(ticks, 4);
}

TEST(EventLoop, ExceptionEndsTheHandlerAndGoesToTheErrorSink) {
    VirtualEventLoop loop;
    std::vector<std::string> errors;
    loop.setErrorSink([&](const std::string& e) { errors.push_back(e); });
    bool after = false;
    loop.post([] { strToInt("abc"); });
    loop.post([&] { after = true; });
    loop.runPending();
    EXPECT_EQ(errors, (std::vector<std::string>{"'abc' is not a valid integer value"}));
    EXPECT_TRUE(after);
}

TEST(EventLoop, IdleHookRunsWhenTheQueueEmptiesButNotInsideProcessMessages) {
    VirtualEventLoop loop;
    int idle = 0;
    loop.setIdleHook([&] { ++idle; });
    loop.post([] {});
    loop.processMessages();
    EXPECT_EQ(idle, 0);
    loop.post([] {});
    loop.runPending();
    EXPECT_EQ(idle, 1);
    loop.runPending();  // nothing happened: no spinning
    EXPECT_EQ(idle, 1);
}

TEST(EventLoop, InvokeAndWaitFromAThreadRunsOnTheMainThreadInOrder) {
    VirtualEventLoop loop;
    std::vector<int> seen;
    std::atomic<int> returned{0};
    std::thread worker([&] {
        for (int i = 0; i < 50; ++i) {
            loop.invokeAndWait([&, i] {
                EXPECT_TRUE(loop.isMainThread());
                seen.push_back(i);
            });
            ++returned;
        }
    });
    EXPECT_TRUE(loop.runUntil([&] { return returned == 50; }));
    worker.join();
    ASSERT_EQ(seen.size(), 50u);
    for (int i = 0; i < 50; ++i) EXPECT_EQ(seen[i], i);
}

TEST(EventLoop, AWaitInsideAHandlerReachesAHandOverQueuedBehindIt) {
    VirtualEventLoop loop;
    std::atomic<bool> handedOver{false};
    bool reached = false;
    // As a check-in waits for a reader: queued work keeps running until the worker is
    // through (bounded, so a loop that cannot reach it fails rather than hangs).
    loop.post([&] {
        const auto end = std::chrono::steady_clock::now() + 5s;
        while (!handedOver && std::chrono::steady_clock::now() < end) loop.runQueuedWork();
        reached = handedOver;
    });
    std::thread worker([&] { loop.invokeAndWait([&] { handedOver = true; }); });
    while (loop.queuedWork() < 2) std::this_thread::yield();
    loop.runPending();
    worker.join();
    EXPECT_TRUE(reached);
}

TEST(EventLoop, LocalTimeFollowsTheSimulatedClockAcrossMidnight) {
    VirtualEventLoop loop({2026, 12, 31, 23, 59, 59, 500});
    EXPECT_EQ(formatDate(loop.now()), "20261231");
    loop.advance(600ms);
    EXPECT_EQ(formatDate(loop.now()), "20270101");
    loop.setNow({2024, 2, 28, 12, 0, 0, 0});
    loop.advance(24h);
    EXPECT_EQ(formatDate(loop.now()), "20240229");
}

TEST(Convert, IntegersAndTheFrameworkWording) {
    struct Case {
        const char* text;
        bool ok;
        int value;
    } cases[] = {{"30", true, 30},  {" 12", true, 12}, {"-5", true, -5},
                 {"$1F", true, 31}, {"", false, 0},    {"12 ", false, 0},
                 {"3O", false, 0},  {"abc", false, 0}, {"99999999999", false, 0}};
    for (const auto& c : cases) {
        if (c.ok) {
            EXPECT_EQ(strToInt(c.text), c.value) << c.text;
        } else {
            try {
                strToInt(c.text);
                ADD_FAILURE() << c.text;
            } catch (const ConvertError& e) {
                EXPECT_EQ(std::string(e.what()),
                          "'" + std::string(c.text) + "' is not a valid integer value");
            }
        }
    }
    EXPECT_EQ(intToHex(0x5, 4), "0005");
    EXPECT_EQ(intToHex(0xdef, 4), "0DEF");
}
