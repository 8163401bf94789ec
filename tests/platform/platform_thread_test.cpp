#include "stoptoken.h"
#include "thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <stdexcept>

namespace {

TEST(PlatformThread, RunsOnlyOnceResumed)
{
    std::atomic<bool> ran{false};
    platform::TThread thread([&](platform::TThread&) { ran = true; });
    std::this_thread::yield();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(thread.Started());
    EXPECT_FALSE(thread.Finished());
    ASSERT_TRUE(thread.Resume());
    EXPECT_FALSE(thread.Resume()) << "a thread starts once";
    thread.WaitFor();
    EXPECT_TRUE(ran);
    EXPECT_TRUE(thread.Finished());
    thread.WaitFor(); // a second wait returns at once
}

TEST(PlatformThread, NeverStartedIsNotWaitedFor)
{
    bool ran = false;
    {
        platform::TThread thread([&](platform::TThread&) { ran = true; });
        thread.WaitFor();
        EXPECT_FALSE(thread.Finished());
    }
    EXPECT_FALSE(ran);
}

// A body learns of a stop from its token, asked from another thread before
// or while it runs; being asked does not make the thread look finished.
TEST(PlatformThread, ABodySeesItsStopTokenAskedAndIsNotFinishedByIt)
{
    for (const bool beforeResume : {true, false}) {
        SCOPED_TRACE(beforeResume ? "asked before the body runs" : "asked while it runs");
        platform::TStopToken stop;
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> sawStop{false};
        platform::TThread thread([&](platform::TThread&) {
            while (!stop.Asked())
                platform::YieldThread();
            sawStop = true;
            released.wait();
        });
        if (beforeResume)
            stop.Ask();
        ASSERT_TRUE(thread.Resume());
        stop.Ask();
        while (!sawStop)
            platform::YieldThread();
        EXPECT_FALSE(thread.Finished()) << "asked to stop, still running";
        release.set_value();
        thread.WaitFor();
        EXPECT_TRUE(thread.Finished());
        stop.Clear();
        EXPECT_FALSE(stop.Asked());
    }
}

TEST(PlatformThread, FinishedPublishesTheBodysWrites)
{
    int result = 0; // plain memory: the finished mark must order it
    platform::TThread thread([&](platform::TThread&) { result = 42; });
    ASSERT_TRUE(thread.Resume());
    while (!thread.Finished())
        platform::YieldThread();
    EXPECT_EQ(result, 42);
}

TEST(PlatformThread, AnEscapingExceptionEndsOnlyTheThread)
{
    platform::TThread thread([](platform::TThread&) { throw std::runtime_error("lost"); });
    ASSERT_TRUE(thread.Resume());
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
}

} // namespace
