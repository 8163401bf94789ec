// The executor's searches while another program keeps the search lock: a
// busy lock refuses the start and never sends it to another kind, and a
// stop request ends the wait.
#include <gmock/gmock.h>

#include <chrono>
#include <deque>
#include <thread>

#include "executor_fixture.h"
#include "usb/usb_fixture.h"

namespace {

using namespace exectest;
using testing::ElementsAre;
using testing::IsEmpty;

class SearchLockBusy : public TExecutorTest {
protected:
    void SetUp() override
    {
        TExecutorTest::SetUp();
        // Past the second after which the waiting line is due.
        FtLockSettings().WaitMs = 1500;
        Load({Varnel("A6010001"), Mirrow("A6040001"), Druvel("A6123456")});
    }
    void TearDown() override
    {
        Holder.reset();
        TExecutorTest::TearDown();
    }
    void HoldLock()
    {
        Holder = std::make_unique<usbtest::THolderProcess>(FtLockSettings().Name, FtSearchLockFolder());
        ASSERT_TRUE(Holder->Held);
    }
    std::unique_ptr<usbtest::THolderProcess> Holder;
};

const TLogLine Waiting{SearchWaitingText, MessageKind::Warning};
const TLogLine Busy{SearchBusyText, MessageKind::Error};
const TLogLine NotSelected{"Fatal error: No JTAG cable is selected.", MessageKind::Error};
const TLogLine CannotOpen{"Fatal error: Cannot open any JTAG cable.", MessageKind::Error};

TEST_F(SearchLockBusy, TheStartIsRefusedAndNoKindIsTried)
{
    struct TCase {
        const char* Why;
        int32_t Selected;
        std::vector<TLogLine> Log;
    };
    const TCase cases[] = {
        {"automatic choice", -1, {Waiting, Busy, NotSelected, CannotOpen}},
        {"a Varnel named", 0x00010001, {Waiting, Busy, CannotOpen}},
        {"a Mirrow named", 0x02040001, {Waiting, Busy, CannotOpen}},
        {"a Druvel named", 0x7B123456, {Waiting, Busy, CannotOpen}},
    };
    HoldLock();
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Exec->ClearLog();
        Exec->SelectedCable = c.Selected;
        EXPECT_FALSE(Exec->OpenAndStart(CableOnlyFile()));
        EXPECT_EQ(Exec->Log(), c.Log);
        EXPECT_EQ(Exec->SearchLock, TFtLockOutcome::Busy);
        EXPECT_FALSE(Exec->StartStopped);
        EXPECT_EQ(Exec->SelectedCable, c.Selected);
        EXPECT_EQ(Exec->FtHandle, nullptr);
    }
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u) << "no device was even looked at";
}

TEST_F(SearchLockBusy, TheSameStartGoesAheadOnceTheLockIsFree)
{
    HoldLock();
    Exec->SelectedCable = -1;
    EXPECT_FALSE(Exec->AutoSelectCable());
    EXPECT_EQ(Exec->SelectedCable, -1);
    Holder.reset();
    Exec->ClearLog();
    EXPECT_TRUE(Exec->AutoSelectCable());
    EXPECT_EQ(Exec->SelectedCable, 0x00010001);
    EXPECT_EQ(Exec->SearchLock, TFtLockOutcome::Taken);
    EXPECT_THAT(Exec->Log(), IsEmpty()) << "a free lock is taken without a word";
}

TEST_F(SearchLockBusy, AStopRequestEndsTheWaitWithNothingOpenedAndNothingSaid)
{
    FtLockSettings().WaitMs = 30000;
    HoldLock();
    // One stop a start, each asked in its turn.
    std::deque<platform::TStopToken> stops;
    for (int32_t selected : {-1, 0x00010001, 0x02040001}) {
        SCOPED_TRACE(selected);
        Exec->ClearLog();
        Exec->SelectedCable = selected;
        const auto start = std::chrono::steady_clock::now();
        // Asked from another thread, as a signal would be, while the start
        // waits.
        platform::TStopToken& stop = stops.emplace_back();
        Exec->UseStop(stop);
        std::thread asker([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            stop.Ask();
        });
        EXPECT_FALSE(Exec->OpenAndStart(CableOnlyFile()));
        asker.join();
        // Generous: the wait would have lasted 30 s.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_TRUE(Exec->StartStopped);
        EXPECT_EQ(Exec->SearchLock, TFtLockOutcome::Stopped);
        EXPECT_THAT(Exec->Log(), IsEmpty());
        EXPECT_EQ(Exec->FtHandle, nullptr);
    }
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u);
}

TEST_F(SearchLockBusy, AStopAlreadyAskedForOpensNothingEvenWithTheLockFree)
{
    Exec->StopToken().Ask();
    for (int32_t selected : {-1, 0x00010001}) {
        Exec->SelectedCable = selected;
        EXPECT_FALSE(Exec->OpenAndStart(CableOnlyFile()));
        EXPECT_TRUE(Exec->StartStopped);
        EXPECT_EQ(Exec->FtHandle, nullptr) << "no cable is left open";
    }
}

TEST_F(SearchLockBusy, ALockThatCannotBeMadeIsSaidSoAndIsNoAbsentCable)
{
    FtLockSettings().Folder = "/nonexistent-orbesk-folder";
    Exec->SelectedCable = -1;
    EXPECT_FALSE(Exec->OpenAndStart(CableOnlyFile()));
    EXPECT_THAT(Exec->Log(),
                ElementsAre(TLogLine{"The JTAG cable search lock /nonexistent-orbesk-folder/" + FtLockSettings().Name +
                                         ".lock cannot be made.",
                                     MessageKind::Error},
                            NotSelected, CannotOpen));
    EXPECT_EQ(Exec->SearchLock, TFtLockOutcome::NoLock);
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u);
}

} // namespace
