#include "namedlock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "usb_fixture.h"

namespace {

using platform::TLockWait;
using platform::TNamedLock;
using usbtest::THolderProcess;
using usbtest::WaitFromOtherProcess;

class NamedLock : public testing::Test {
protected:
    void TearDown() override
    {
        for (const char* suffix : {"", "_a", "_b"})
            unlink((platform::NamedLockFolder() + "/" + Name + suffix + ".lock").c_str());
    }
    const std::string Name = "ORBESK_LOCKTEST_" + std::to_string(getpid()) + "_" +
                             testing::UnitTest::GetInstance()->current_test_info()->name();
};

TEST_F(NamedLock, AnotherProcessHoldingItMakesTheWaitTimeOut)
{
    THolderProcess holder(Name);
    ASSERT_TRUE(holder.Held);
    TNamedLock lock(Name);
    ASSERT_TRUE(lock.Valid());
    EXPECT_EQ(lock.Wait(50), TLockWait::TimedOut);
    EXPECT_FALSE(lock.Release()) << "a wait that timed out owns nothing";
}

TEST_F(NamedLock, KillingTheHolderFreesIt)
{
    THolderProcess holder(Name);
    ASSERT_TRUE(holder.Held);
    holder.Kill();
    TNamedLock lock(Name);
    EXPECT_EQ(lock.Wait(1000), TLockWait::Acquired);
    EXPECT_TRUE(lock.Release());
}

// The holder forks a child that lives on (a helper it started, say) and is
// then killed: the child holds none of its parent's locks, so it must not
// keep this one from others either.
TEST_F(NamedLock, KillingTheHolderFreesItWhileItsForkedChildLivesOn)
{
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    const pid_t holder = fork();
    if (holder == 0) {
        close(ready[0]);
        TNamedLock lock(Name);
        if (lock.Wait(5000) != TLockWait::Acquired)
            _exit(1);
        // The child says it is there once its fork handlers have run, so
        // that the descriptor it inherited is closed by then.
        if (fork() == 0) {
            const pid_t self = getpid();
            (void)!write(ready[1], &self, sizeof self);
            close(ready[1]);
            for (;;)
                pause();
        }
        close(ready[1]);
        for (;;)
            pause();
    }
    close(ready[1]);
    pid_t child = -1;
    const bool held = read(ready[0], &child, sizeof child) == sizeof child;
    close(ready[0]);
    kill(holder, SIGKILL);
    waitpid(holder, nullptr, 0);
    ASSERT_TRUE(held);

    EXPECT_EQ(WaitFromOtherProcess(Name, 0), TLockWait::Acquired);
    TNamedLock lock(Name);
    EXPECT_EQ(lock.Wait(0), TLockWait::Acquired);
    EXPECT_TRUE(lock.Release());
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
}

// A child forked while a thread of its parent is still waiting has no such
// thread: nothing of that wait may stand in its own way later.
TEST_F(NamedLock, ChildForkedDuringAnotherThreadsWaitCanTakeItLater)
{
    THolderProcess holder(Name);
    ASSERT_TRUE(holder.Held);
    TLockWait got = TLockWait::Failed;
    std::thread waiter([&] {
        TNamedLock lock(Name);
        got = lock.Wait(5000);
        lock.Release();
    });
    // Only lets the waiter get into its wait; were it late, the test would
    // pass without showing anything, never fail.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    int go[2];
    ASSERT_EQ(pipe(go), 0);
    const pid_t child = fork();
    if (child == 0) {
        close(go[1]);
        char c;
        (void)!read(go[0], &c, 1);
        TNamedLock lock(Name);
        _exit(static_cast<int>(lock.Wait(1000)));
    }
    close(go[0]);
    holder.Kill();
    waiter.join();
    EXPECT_EQ(got, TLockWait::Acquired);
    close(go[1]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(static_cast<TLockWait>(WEXITSTATUS(status)), TLockWait::Acquired);
}

TEST_F(NamedLock, HoldingThreadTakesItAgainAndEachTakingNeedsItsRelease)
{
    TNamedLock outer(Name);
    ASSERT_EQ(outer.Wait(0), TLockWait::Acquired);
    {
        // A second handle of the same thread, as an open inside a search.
        TNamedLock inner(Name);
        EXPECT_EQ(inner.Wait(0), TLockWait::Acquired);
        EXPECT_TRUE(inner.Release());
    }
    EXPECT_EQ(WaitFromOtherProcess(Name, 0), TLockWait::TimedOut) << "one taking is still held";
    EXPECT_TRUE(outer.Release());
    EXPECT_EQ(WaitFromOtherProcess(Name, 0), TLockWait::Acquired);
    EXPECT_FALSE(outer.Release()) << "no taking left to give back";
}

TEST_F(NamedLock, OtherThreadOfTheProcessWaitsAndCannotRelease)
{
    TNamedLock lock(Name);
    ASSERT_EQ(lock.Wait(0), TLockWait::Acquired);
    TLockWait whileHeld = TLockWait::Acquired;
    bool releasedByOther = true;
    std::thread([&] {
        TNamedLock other(Name);
        whileHeld = other.Wait(20);
        releasedByOther = other.Release();
    }).join();
    EXPECT_EQ(whileHeld, TLockWait::TimedOut);
    EXPECT_FALSE(releasedByOther);
    EXPECT_EQ(WaitFromOtherProcess(Name, 0), TLockWait::TimedOut) << "still held after the refused release";

    EXPECT_TRUE(lock.Release());
    TLockWait afterRelease = TLockWait::Failed;
    std::thread([&] {
        TNamedLock other(Name);
        afterRelease = other.Wait(0);
        other.Release();
    }).join();
    EXPECT_EQ(afterRelease, TLockWait::Acquired);
}

TEST_F(NamedLock, ThreadWaitingForTheHolderGetsItOnRelease)
{
    TNamedLock lock(Name);
    ASSERT_EQ(lock.Wait(0), TLockWait::Acquired);
    TLockWait got = TLockWait::Failed;
    std::thread waiter([&] {
        TNamedLock other(Name);
        got = other.Wait(5000);
        other.Release();
    });
    lock.Release();
    waiter.join();
    EXPECT_EQ(got, TLockWait::Acquired);
}

TEST_F(NamedLock, ClosingTheHandleKeepsATakenLock)
{
    {
        TNamedLock lock(Name);
        ASSERT_EQ(lock.Wait(0), TLockWait::Acquired);
    }
    EXPECT_EQ(WaitFromOtherProcess(Name, 0), TLockWait::TimedOut);
    // The thread still owns it: the taking of the closed handle is given
    // back through another one.
    TNamedLock again(Name);
    EXPECT_EQ(again.Wait(0), TLockWait::Acquired);
    EXPECT_TRUE(again.Release());
    EXPECT_TRUE(again.Release());
    EXPECT_EQ(WaitFromOtherProcess(Name, 0), TLockWait::Acquired);
}

TEST_F(NamedLock, NamesAreIndependent)
{
    THolderProcess holder(Name + "_a");
    ASSERT_TRUE(holder.Held);
    TNamedLock lock(Name + "_b");
    EXPECT_EQ(lock.Wait(0), TLockWait::Acquired);
    lock.Release();
}

TEST_F(NamedLock, FolderThatCannotHoldTheFileGivesNoHandle)
{
    TNamedLock lock(Name, "/nonexistent-orbesk-folder");
    EXPECT_FALSE(lock.Valid());
    EXPECT_EQ(lock.Wait(0), TLockWait::Failed);
    EXPECT_FALSE(lock.Release());
}

} // namespace
