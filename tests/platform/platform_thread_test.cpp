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

TEST(PlatformThread, StopRequestIsNotTheFinishedMark)
{
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> sawStop{false};
    platform::TThread thread([&](platform::TThread& self) {
        while (!self.Terminated())
            platform::YieldThread();
        sawStop = true;
        released.wait();
    });
    ASSERT_TRUE(thread.Resume());
    thread.Terminate();
    while (!sawStop)
        platform::YieldThread();
    EXPECT_TRUE(thread.Terminated());
    EXPECT_FALSE(thread.Finished()) << "asked to stop, still running";
    release.set_value();
    thread.WaitFor();
    EXPECT_TRUE(thread.Finished());
}

TEST(PlatformThread, StopRequestBeforeResumeIsSeenAtOnce)
{
    bool sawStop = false;
    platform::TThread thread([&](platform::TThread& self) { sawStop = self.Terminated(); });
    thread.Terminate();
    ASSERT_TRUE(thread.Resume());
    thread.WaitFor();
    EXPECT_TRUE(sawStop);
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

TEST(PlatformThread, CodeDeepInTheBodyFindsItsThreadAndItsStopRequest)
{
    const platform::TThread* found = nullptr;
    bool stopBefore = true;
    bool stopAfter = false;
    const platform::TThread* afterBody = nullptr;
    platform::TThread* self = nullptr;
    std::promise<void> looked;
    std::promise<void> asked;
    std::shared_future<void> stopAsked = asked.get_future().share();
    platform::TThread thread([&](platform::TThread& Self) {
        self = &Self;
        found = platform::CurrentThread();
        stopBefore = platform::CurrentThreadTerminated();
        looked.set_value();
        stopAsked.wait();
        stopAfter = platform::CurrentThreadTerminated();
        // Another thread's body, started from this one, is its own.
        platform::TThread inner([&](platform::TThread&) { afterBody = platform::CurrentThread(); });
        inner.Resume();
        inner.WaitFor();
    });
    EXPECT_EQ(platform::CurrentThread(), nullptr) << "no body runs on the test's thread";
    EXPECT_FALSE(platform::CurrentThreadTerminated());
    ASSERT_TRUE(thread.Resume());
    looked.get_future().wait();
    thread.Terminate();
    asked.set_value();
    thread.WaitFor();
    EXPECT_EQ(found, self);
    EXPECT_FALSE(stopBefore);
    EXPECT_TRUE(stopAfter);
    EXPECT_NE(afterBody, nullptr);
    EXPECT_NE(afterBody, self);
}

} // namespace
