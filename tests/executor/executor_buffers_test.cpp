// The output buffer, the receive ring and the flushes that every cable kind
// shares, over the emulated driver's loopback device (every byte written
// comes back to be read).
#include <gmock/gmock.h>

#include <deque>
#include <numeric>
#include <random>

#include "executor_fixture.h"

namespace {

using namespace exectest;
using testing::ElementsAreArray;

std::vector<uint8_t> Pattern(size_t N, uint8_t Seed)
{
    std::vector<uint8_t> bytes(N);
    for (size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<uint8_t>(Seed + i * 7 + (i >> 8));
    return bytes;
}

// ---- the ring alone

class Ring : public testing::Test {
protected:
    void SetUp() override { Exec.RxReset(); }
    std::vector<uint8_t> Get(int32_t N)
    {
        std::vector<uint8_t> out(static_cast<size_t>(N));
        EXPECT_TRUE(Exec.RxGet(out.data(), N));
        return out;
    }
    TTestExecuter Exec;
};

TEST_F(Ring, FreshRingIsEmptyAt65536)
{
    EXPECT_EQ(Exec.RxRing.size(), 65536u);
    EXPECT_EQ(Exec.RxCount(), 0);
    uint8_t b;
    EXPECT_FALSE(Exec.RxGet(&b, 1));
}

TEST_F(Ring, GrowsOnceTo131088BeforeAPutThatWouldLeaveUnder16Free)
{
    const std::vector<uint8_t> data = Pattern(65530, 1);
    Exec.RxPut(data.data(), 65530);
    EXPECT_EQ(Exec.RxRing.size(), 131088u);
    EXPECT_EQ(Exec.RxCount(), 65530);
    EXPECT_THAT(Get(65530), ElementsAreArray(data));
}

TEST_F(Ring, PutThatLeavesExactly16FreeDoesNotGrow)
{
    const std::vector<uint8_t> data = Pattern(65536 - 16, 2);
    Exec.RxPut(data.data(), static_cast<int32_t>(data.size()));
    EXPECT_EQ(Exec.RxRing.size(), 65536u);
    const uint8_t one = 9;
    Exec.RxPut(&one, 1);
    EXPECT_EQ(Exec.RxRing.size(), 131088u);
}

TEST_F(Ring, GrowthOfAWrappedRingKeepsTheOldBytesFirstAndInOrder)
{
    // R = 65000, W = 100: 636 bytes held, wrapping at the end.
    const std::vector<uint8_t> old = Pattern(636, 3);
    Exec.RxReadIndex = 65000;
    Exec.RxWriteIndex = 65000;
    Exec.RxPut(old.data(), 636);
    ASSERT_EQ(Exec.RxWriteIndex, 100);
    ASSERT_EQ(Exec.RxCount(), 636);

    const std::vector<uint8_t> more = Pattern(65000, 4);
    Exec.RxPut(more.data(), 65000);
    EXPECT_EQ(Exec.RxRing.size(), 131088u);
    EXPECT_EQ(Exec.RxCount(), 636 + 65000);
    EXPECT_THAT(Get(636), ElementsAreArray(old));
    EXPECT_THAT(Get(65000), ElementsAreArray(more));
    EXPECT_EQ(Exec.RxCount(), 0);
}

TEST_F(Ring, PutAndGetAcrossTheEndKeepOrderAndWrapTheIndex)
{
    struct TCase {
        const char* Why;
        int32_t Start; // R = W before the put
        int32_t N;
        int32_t EndIndex; // W and then R afterwards
    };
    const TCase cases[] = {
        {"split across the end", 65530, 10, 4},
        {"ends exactly at the end: index wraps to 0", 65526, 10, 0},
        {"stays before the end", 100, 10, 110},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Exec.RxReset();
        Exec.RxReadIndex = Exec.RxWriteIndex = c.Start;
        const std::vector<uint8_t> data = Pattern(static_cast<size_t>(c.N), 5);
        Exec.RxPut(data.data(), c.N);
        EXPECT_EQ(Exec.RxWriteIndex, c.EndIndex);
        EXPECT_EQ(Exec.RxCount(), c.N);
        EXPECT_THAT(Get(c.N), ElementsAreArray(data));
        EXPECT_EQ(Exec.RxReadIndex, c.EndIndex);
        EXPECT_EQ(Exec.RxRing.size(), 65536u);
    }
}

TEST_F(Ring, GetOfMoreThanHeldTakesNothing)
{
    const std::vector<uint8_t> data = Pattern(5, 6);
    Exec.RxPut(data.data(), 5);
    std::vector<uint8_t> out(6, 0xEE);
    EXPECT_FALSE(Exec.RxGet(out.data(), 6));
    EXPECT_EQ(out, std::vector<uint8_t>(6, 0xEE));
    EXPECT_EQ(Exec.RxCount(), 5);
    EXPECT_THAT(Get(5), ElementsAreArray(data));
}

TEST_F(Ring, ResetEmptiesAndShrinksAGrownRing)
{
    const std::vector<uint8_t> data = Pattern(70000, 7);
    Exec.RxPut(data.data(), 70000);
    ASSERT_GT(Exec.RxRing.size(), 65536u);
    Exec.RxReset();
    EXPECT_EQ(Exec.RxRing.size(), 65536u);
    EXPECT_EQ(Exec.RxCount(), 0);
}

// Puts and gets of mixed sizes, checked against a queue: Small and Large
// bound the sizes of alternate stretches of steps.
void RunAgainstAQueue(TTestExecuter& Exec, int Steps, int32_t Small, int32_t Large)
{
    std::mt19937 random(12345);
    std::deque<uint8_t> model;
    uint8_t next = 0;
    for (int step = 0; step < Steps; ++step) {
        const int32_t n = static_cast<int32_t>(random() % static_cast<uint32_t>(step % 500 < 250 ? Small : Large));
        if (random() % 2) {
            std::vector<uint8_t> data(static_cast<size_t>(n));
            for (uint8_t& b : data)
                b = next++;
            Exec.RxPut(data.data(), n);
            model.insert(model.end(), data.begin(), data.end());
        } else {
            std::vector<uint8_t> out(static_cast<size_t>(n));
            const bool ok = Exec.RxGet(out.data(), n);
            ASSERT_EQ(ok, static_cast<size_t>(n) <= model.size()) << "step " << step;
            if (ok) {
                ASSERT_TRUE(std::equal(out.begin(), out.end(), model.begin())) << "step " << step;
                model.erase(model.begin(), model.begin() + n);
            }
        }
        ASSERT_EQ(Exec.RxCount(), static_cast<int32_t>(model.size())) << "step " << step;
        ASSERT_GE(static_cast<int64_t>(Exec.RxRing.size()), Exec.RxCount() + 16);
    }
}

TEST_F(Ring, LongRunOfPutsAndGetsMatchesAQueue)
{
    // Mixed sizes wrap the ring many times and make it grow while wrapped.
    RunAgainstAQueue(Exec, 4000, 900, 3000);
}

TEST_F(Ring, ARingGrownPastAMegabyteGivesBackTakenPagesAndKeepsItsBytes)
{
    // A ring that size gives the pages of what is taken back to the system:
    // the bytes still held, wrapped or not, must not suffer from it.
    const std::vector<uint8_t> big = Pattern(1500000, 3);
    Exec.RxPut(big.data(), static_cast<int32_t>(big.size()));
    ASSERT_THAT(Get(static_cast<int32_t>(big.size())), ElementsAreArray(big));
    ASSERT_GE(Exec.RxRing.size(), TTestExecuter::RxReleaseFrom);
    RunAgainstAQueue(Exec, 3000, 9000, 300000);

    // Wrapped and all but full: the last bytes put lie just below the next
    // to take, on its page, and stay when a block from there is taken.
    Exec.RxReset();
    Exec.RxPut(big.data(), static_cast<int32_t>(big.size()));
    // Past a page boundary of memory by 64 bytes or more.
    const auto keep = static_cast<int32_t>(64 + reinterpret_cast<uintptr_t>(Exec.RxRing.data()) % 4096);
    ASSERT_THAT(Get(1500000 - keep), ElementsAreArray(big.begin(), big.end() - keep));
    std::deque<uint8_t> held(big.end() - keep, big.end());
    const std::vector<uint8_t> fill = Pattern(Exec.RxRing.size() - held.size() - 16, 9);
    Exec.RxPut(fill.data(), static_cast<int32_t>(fill.size()));
    ASSERT_LT(Exec.RxWriteIndex, Exec.RxReadIndex);
    held.insert(held.end(), fill.begin(), fill.end());
    // A block first, as a read-back takes its replies, then the rest.
    std::vector<uint8_t> all = Get(4096);
    const std::vector<uint8_t> rest = Get(static_cast<int32_t>(held.size()) - 4096);
    all.insert(all.end(), rest.begin(), rest.end());
    EXPECT_TRUE(std::equal(all.begin(), all.end(), held.begin()));
}

// ---- buffer, flushes and the ring over a device

struct TKindCase {
    const char* Name;
    int32_t Kind;
};
// Flush goes by the kind of the open cable: the Varnel's paced flush, the
// plain one for the other two.
const TKindCase FlushKinds[] = {
    {"Varnel", CableKindVarnel},
    {"Mirrow", CableKindMirrow},
    {"Druvel", CableKindDruvel},
};

class Buffers : public TExecutorTest {
protected:
    // The loopback device opened as if it were a cable of Kind.
    void OpenLoopback(int32_t Kind, const std::string& Extra = "")
    {
        Load({Device(MirrowIdentity, "A6040001", "loopback", Extra)});
        ASSERT_EQ(FtOpen(0, Exec->FtHandle), FT_OK);
        Exec->OpenedKind = Kind;
        Exec->SelectedCable = Kind << 24 | 0x040001;
        Exec->RxReset();
    }
    void Queue(size_t N, uint8_t Seed = 0x11)
    {
        for (uint8_t b : Pattern(N, Seed))
            ASSERT_TRUE(Exec->PutByte(b));
    }
    unsigned long long Writes() { return Sim->Counter("FT_Write"); }
};

TEST_F(Buffers, The15810thByteFlushesOnceAndTheNextQueuesAtIndex0)
{
    for (const TKindCase& k : FlushKinds) {
        SCOPED_TRACE(k.Name);
        OpenLoopback(k.Kind);
        const std::vector<uint8_t> data = Pattern(OutBufferSize, 0x21);
        for (uint32_t i = 0; i + 1 < OutBufferSize; ++i)
            ASSERT_TRUE(Exec->PutByte(data[i]));
        EXPECT_EQ(Writes(), 0u);
        EXPECT_EQ(Exec->OutCount, OutBufferSize - 1);
        EXPECT_TRUE(Exec->PutByte(data.back()));
        EXPECT_EQ(Writes(), 1u);
        EXPECT_EQ(Exec->OutCount, 0u);
        EXPECT_TRUE(Exec->PutByte(0x5A));
        EXPECT_EQ(Exec->OutCount, 1u);
        EXPECT_EQ(Exec->OutBuffer[0], 0x5A);
        // The device got the block whole and in order.
        std::vector<uint8_t> back(OutBufferSize);
        EXPECT_EQ(Exec->RxTake(back.data(), static_cast<int32_t>(OutBufferSize)), 1);
        EXPECT_EQ(back, data);
        Exec->CloseCable(false);
        Exec->OutCount = 0;
    }
}

TEST_F(Buffers, FlushOfNothingAsksTheDriverNothing)
{
    for (const TKindCase& k : FlushKinds) {
        SCOPED_TRACE(k.Name);
        OpenLoopback(k.Kind);
        EXPECT_TRUE(Exec->Flush());
        EXPECT_TRUE(Exec->PlainFlush());
        EXPECT_EQ(Writes(), 0u);
        EXPECT_EQ(Sim->Counter("FT_GetQueueStatus"), 0u);
        EXPECT_EQ(Sim->Counter("FT_Read"), 0u);
        Exec->CloseCable(false);
    }
}

TEST_F(Buffers, FailedWriteKeepsTheBlockQueuedAndAFullBufferRefusesMore)
{
    struct TFault {
        const char* Why;
        std::string Extra;
    };
    const TFault faults[] = {
        {"the write fails", "\"fail_writes\":true"},
        {"the driver writes less than it was given", "\"short_writes\":true"},
    };
    for (const TFault& f : faults) {
        for (const TKindCase& k : FlushKinds) {
            SCOPED_TRACE(std::string(f.Why) + ", " + k.Name);
            OpenLoopback(k.Kind, f.Extra);
            Queue(10);
            EXPECT_FALSE(Exec->Flush());
            EXPECT_EQ(Exec->OutCount, 10u);
            EXPECT_EQ(Exec->PendingReplies, 0);

            Queue(OutBufferSize - 11);
            EXPECT_FALSE(Exec->PutByte(0x77)) << "the flush of a full buffer fails";
            EXPECT_EQ(Exec->OutCount, OutBufferSize);
            // Nothing can be queued past the buffer's end.
            EXPECT_FALSE(Exec->PutByte(0x78));
            EXPECT_EQ(Exec->OutCount, OutBufferSize);
            EXPECT_EQ(Exec->OutBuffer[OutBufferSize - 1], 0x77);
            Exec->CloseCable(false);
            Exec->OutCount = 0;
        }
    }
}

TEST_F(Buffers, AFailedWriteFailsEveryReadBackAtOnceAndIsNotWrittenAgain)
{
    // The replies of the lost block are owed by nobody: a read-back that
    // waited for them would wait for ever.
    const std::vector<uint8_t> tdi(8, 1), capture(8, 1);
    std::vector<uint8_t> tdo(8);
    for (const TKindCase& k : FlushKinds) {
        SCOPED_TRACE(k.Name);
        OpenLoopback(k.Kind, "\"fail_writes\":true");
        const TJtagExecuter::TCableEvents& events = *TJtagExecuter::CableEventsOf(k.Kind);
        ASSERT_TRUE((Exec.get()->*events.Shift)(tdi.data(), capture.data(), 8, true));
        EXPECT_FALSE((Exec.get()->*events.Sync)());
        EXPECT_TRUE(Exec->CableFailed);
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ((Exec.get()->*events.ReadTdo)(tdo.data(), capture.data(), 8), ReadResult::CommError);
        const unsigned long long writes = Writes();
        EXPECT_FALSE(Exec->Flush());
        EXPECT_EQ(Writes(), writes) << "nothing is written after a lost block";
        Exec->CloseCable(false);
        EXPECT_FALSE(Exec->CableFailed) << "the next cable starts afresh";
        Exec->OutCount = 0;
    }
}

TEST_F(Buffers, PlainFlushReadsFirstAndKeepsTheBytesWhenThatFails)
{
    // The device is gone after its first write: the read before the next
    // write fails.
    OpenLoopback(CableKindMirrow, "\"unplug_after_writes\":1");
    Queue(3);
    ASSERT_TRUE(Exec->PlainFlush());
    Queue(4);
    EXPECT_FALSE(Exec->PlainFlush());
    EXPECT_EQ(Exec->OutCount, 4u);
    EXPECT_EQ(Writes(), 1u);
    EXPECT_EQ(Exec->RxAvailable(), -1);
    uint8_t out[1];
    EXPECT_EQ(Exec->RxTake(out, 1), -1);
}

TEST_F(Buffers, PlainFlushMovesWaitingRepliesIntoTheRingBeforeWriting)
{
    OpenLoopback(CableKindDruvel);
    Queue(3, 0x40);
    ASSERT_TRUE(Exec->PlainFlush());
    EXPECT_EQ(Exec->RxCount(), 0);
    Queue(2, 0x50);
    ASSERT_TRUE(Exec->PlainFlush());
    EXPECT_EQ(Exec->RxCount(), 3) << "the first block's echo was read before the second write";
}

TEST_F(Buffers, TakeOfMoreThanAvailableWaitsForTheRestInOrder)
{
    OpenLoopback(CableKindMirrow);
    Queue(3, 0x60);
    ASSERT_TRUE(Exec->Flush());
    uint8_t out[5] = {0, 0, 0, 0, 0};
    EXPECT_EQ(Exec->RxTake(out, 5), 0);
    EXPECT_EQ(Exec->RxCount(), 3) << "nothing taken";
    Queue(2, 0x70);
    ASSERT_TRUE(Exec->Flush());
    EXPECT_EQ(Exec->RxTake(out, 5), 1);
    const std::vector<uint8_t> first = Pattern(3, 0x60), second = Pattern(2, 0x70);
    EXPECT_THAT(out, testing::ElementsAre(first[0], first[1], first[2], second[0], second[1]));
    EXPECT_EQ(Exec->RxCount(), 0);
}

TEST_F(Buffers, ReceivedDataIsNeverDroppedHoweverFarTheReaderLags)
{
    OpenLoopback(CableKindMirrow);
    const size_t total = 5 * OutBufferSize + 123;
    Queue(total, 0x33);
    ASSERT_TRUE(Exec->Flush());
    EXPECT_EQ(Exec->RxAvailable(), static_cast<int32_t>(total));
    EXPECT_GT(Exec->RxRing.size(), 65536u);
    std::vector<uint8_t> back(total);
    ASSERT_EQ(Exec->RxTake(back.data(), static_cast<int32_t>(total)), 1);
    EXPECT_EQ(back, Pattern(total, 0x33));
}

TEST_F(Buffers, FlushWithoutAnyCableFails)
{
    Exec->SelectedCable = -1;
    ASSERT_TRUE(Exec->PutByte(1));
    EXPECT_FALSE(Exec->Flush());
    EXPECT_EQ(Exec->OutCount, 1u);
}

} // namespace
