// The executor's output buffer and receive ring, shared by every cable kind,
// and the reply watch that tells a silent cable from a busy one.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

#include "executor/jtag_execute.h"
#include "ticks.h"

namespace {

// The later of two tick counts that lie less than 2^31 ms apart.
uint32_t Later(uint32_t A, uint32_t B)
{
    return static_cast<int32_t>(A - B) > 0 ? A : B;
}

} // namespace

bool TJtagExecuter::PutRepeatedRun(uint8_t Value, int64_t Times)
{
    // As many PutByte calls would: filled up to the buffer's end at a time,
    // and flushed each time it is full.
    while (Times > 0) {
        // Still full after a failed flush: the byte has nowhere to go.
        if (OutCount >= OutBufferSize)
            return false;
        const uint32_t n = static_cast<uint32_t>(std::min<int64_t>(Times, OutBufferSize - OutCount));
        std::memset(OutBuffer.data() + OutCount, Value, n);
        OutCount += n;
        Times -= n;
        if (OutCount == OutBufferSize && !Flush())
            return false;
    }
    return true;
}

bool TJtagExecuter::Flush()
{
    // Bytes written after a block that was lost would reach the chain out
    // of their order.
    if (CableFailed)
        return false;
    if (CutByStop) {
        OutCount = 0;
        return true;
    }
    if (OutCount > 0 && !AwaitDevice()) {
        CutByStop = true;
        OutCount = 0;
        return true;
    }
    bool written = false;
    switch (KindInUse()) {
    case CableKindVarnel:
        written = VarnelFlush();
        break;
    case CableKindMirrow:
        written = MirrowFlush();
        break;
    case CableKindDruvel:
        written = DruvelFlush();
        break;
    default:
        return false;
    }
    if (!written)
        CableFailed = true;
    else if (OutCount == 0)
        QueuedNs = 0;
    return written;
}

bool TJtagExecuter::QueueSliceFull()
{
    // Only a run is stopped; an open's bytes go as the buffer fills.
    if (!Playing) {
        QueuedNs = 0;
        return true;
    }
    if (StopAsked()) {
        CutByStop = true;
        return false;
    }
    QueuedNs = 0;
    return Flush() && !CutByStop;
}

uint64_t TJtagExecuter::SliceFit(uint64_t Ns) const
{
    if (Ns == 0)
        return UINT64_MAX;
    const uint64_t left = QueuedNs < WaitSliceNs ? WaitSliceNs - QueuedNs : 0;
    return std::max<uint64_t>(1, (left + Ns - 1) / Ns);
}

bool TJtagExecuter::AwaitDevice()
{
    // The device's own buffer would take far more: a stop must find no
    // more than about a slice of work before the close.
    for (;;) {
        if (StopAsked())
            return false;
        const int32_t ahead = static_cast<int32_t>(DeviceIdleTick - platform::GetTickCount());
        if (ahead <= static_cast<int32_t>(WaitSliceMs))
            return true;
        platform::Sleep(static_cast<uint32_t>(std::min<int32_t>(ahead - static_cast<int32_t>(WaitSliceMs), 10)));
    }
}

bool TJtagExecuter::PlainFlush()
{
    if (OutCount == 0)
        return true;
    if (!ReadPending())
        return false;
    DWORD written = 0;
    if (FtWrite(FtHandle, OutBuffer.data(), OutCount, written) != FT_OK || written != OutCount)
        return false;
    OutCount = 0;
    return true;
}

bool TJtagExecuter::DrainStaleBytes()
{
    DWORD queued = 0;
    if (FtGetQueueStatus(FtHandle, queued) != FT_OK)
        return false;
    // A device that never stops sending would keep the drain going for
    // ever: it gets as long as a silent cable does.
    const uint32_t start = platform::GetTickCount();
    while (queued > 0) {
        if (platform::GetTickCount() - start > ReplyTimeoutMs)
            return false;
        uint8_t scratch[16];
        DWORD read = 0;
        // A read that takes nothing of what is queued would never end.
        if (FtRead(FtHandle, scratch, std::min<DWORD>(queued, sizeof scratch), read) != FT_OK || read == 0)
            return false;
        if (FtGetQueueStatus(FtHandle, queued) != FT_OK)
            return false;
        if (queued < 16)
            platform::Sleep(100);
    }
    return true;
}

bool TJtagExecuter::ReadPending()
{
    DWORD queued = 0;
    if (FtGetQueueStatus(FtHandle, queued) != FT_OK)
        return false;
    if (queued == 0)
        return true;
    if (queued > static_cast<DWORD>(std::numeric_limits<int32_t>::max() / 2))
        throw std::length_error("receive ring");
    DWORD read = 0;
    // Straight into the ring where the bytes fit before its end; through
    // a buffer of their own where they would wrap.
    while (static_cast<int64_t>(RxRing.size()) < int64_t{RxCount()} + queued + RxRingReserve)
        RxGrow();
    if (static_cast<int64_t>(RxWriteIndex) + queued < static_cast<int64_t>(RxRing.size())) {
        if (FtRead(FtHandle, RxRing.data() + RxWriteIndex, queued, read) != FT_OK)
            return false;
        read = std::min(read, queued);
        RxWriteIndex += static_cast<int32_t>(read);
    } else {
        std::vector<uint8_t> buffer(queued);
        if (FtRead(FtHandle, buffer.data(), queued, read) != FT_OK)
            return false;
        read = std::min(read, queued);
        RxPut(buffer.data(), static_cast<int32_t>(read));
    }
    if (read > 0)
        LastRxTick = platform::GetTickCount();
    return true;
}

int32_t TJtagExecuter::RxAvailable()
{
    if (!ReadPending())
        return -1;
    return RxCount();
}

int32_t TJtagExecuter::RxAvailableFor(int32_t N)
{
    // Bytes already in the ring need no look at the driver.
    return RxCount() >= N ? RxCount() : RxAvailable();
}

int32_t TJtagExecuter::RxTake(uint8_t* Dest, int32_t N)
{
    const int32_t available = RxAvailableFor(N);
    if (available == -1)
        return -1;
    if (available < N)
        return 0;
    RxGet(Dest, N);
    return 1;
}

void TJtagExecuter::RxReset()
{
    RxRing.resize(RxRingInitialSize);
    RxWriteIndex = 0;
    RxReadIndex = 0;
}

void TJtagExecuter::RxGrow()
{
    const int64_t oldLength = static_cast<int64_t>(RxRing.size());
    const int64_t newLength = 2 * oldLength + RxRingReserve;
    if (newLength > std::numeric_limits<int32_t>::max())
        throw std::length_error("receive ring");
    RxRing.resize(static_cast<size_t>(newLength));
    // A wrapped run keeps its order: the part from R to the old end moves
    // to the new end, and R with it.
    if (RxWriteIndex < RxReadIndex) {
        std::copy_backward(RxRing.begin() + RxReadIndex, RxRing.begin() + oldLength, RxRing.end());
        RxReadIndex += static_cast<int32_t>(newLength - oldLength);
    }
}

void TJtagExecuter::RxPut(const uint8_t* Source, int32_t N)
{
    if (N <= 0)
        return;
    while (static_cast<int64_t>(RxRing.size()) < int64_t{RxCount()} + N + RxRingReserve)
        RxGrow();
    const int32_t length = static_cast<int32_t>(RxRing.size());
    if (int64_t{RxWriteIndex} + N > length) {
        const int32_t first = length - RxWriteIndex;
        std::memcpy(RxRing.data() + RxWriteIndex, Source, static_cast<size_t>(first));
        std::memcpy(RxRing.data(), Source + first, static_cast<size_t>(N - first));
        RxWriteIndex = N - first;
    } else {
        std::memcpy(RxRing.data() + RxWriteIndex, Source, static_cast<size_t>(N));
        RxWriteIndex += N;
        if (RxWriteIndex == length)
            RxWriteIndex = 0;
    }
}

bool TJtagExecuter::RxGet(uint8_t* Dest, int32_t N)
{
    if (N > RxCount())
        return false;
    if (N <= 0)
        return true;
    const int32_t length = static_cast<int32_t>(RxRing.size());
    if (int64_t{RxReadIndex} + N > length) {
        const int32_t first = length - RxReadIndex;
        std::memcpy(Dest, RxRing.data() + RxReadIndex, static_cast<size_t>(first));
        std::memcpy(Dest + first, RxRing.data(), static_cast<size_t>(N - first));
        RxReadIndex = N - first;
    } else {
        std::memcpy(Dest, RxRing.data() + RxReadIndex, static_cast<size_t>(N));
        ReleaseTaken(RxReadIndex, RxReadIndex + N);
        RxReadIndex += N;
        if (RxReadIndex == length)
            RxReadIndex = 0;
    }
    return true;
}

void TJtagExecuter::ReleaseTaken(int32_t From, int32_t To)
{
    // A ring grown for a long scan's replies gives back the pages the
    // read-back has taken, while the read-back fills its own buffer.
    if (RxRing.size() < RxReleaseFrom)
        return;
    const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto base = reinterpret_cast<uintptr_t>(RxRing.data());
    // Taken a block at a time, the bytes before From on its page were
    // taken before; unless the ring has wrapped and holds bytes there.
    uintptr_t begin = (base + static_cast<uintptr_t>(From)) / page * page;
    const bool heldBefore = RxWriteIndex < From && base + static_cast<uintptr_t>(RxWriteIndex) > begin;
    if (begin < base || heldBefore)
        begin += page;
    const uintptr_t end = (base + static_cast<uintptr_t>(To)) / page * page;
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_DONTNEED);
}

int32_t TJtagExecuter::RxCount() const
{
    const int32_t held = RxWriteIndex - RxReadIndex;
    return held < 0 ? held + static_cast<int32_t>(RxRing.size()) : held;
}

ReadResult TJtagExecuter::ClaimReplies(int32_t N)
{
    // The replies of a write that failed are owed by nobody.
    if (CableFailed)
        return ReadResult::CommError;
    // Replies of a shift a stop cut short never come; the player ends the
    // run at its next look.
    if (CutByStop)
        return ReadResult::NotYet;
    const int32_t available = RxAvailableFor(N);
    if (available == -1)
        return ReadResult::CommError;
    if (available < N) {
        // Replies still queued here are owed by nobody yet; those written
        // are given the device's time and then some.
        return PendingReplies >= N && RepliesOverdue() ? ReadResult::CommError : ReadResult::NotYet;
    }
    PendingReplies -= N;
    return ReadResult::Ready;
}

ReadResult TJtagExecuter::TakeReplies(uint8_t* Dest, int32_t N)
{
    const ReadResult claimed = ClaimReplies(N);
    if (claimed == ReadResult::Ready)
        RxGet(Dest, N);
    return claimed;
}

void TJtagExecuter::NoteDeviceTime(uint64_t Nanoseconds)
{
    const uint32_t now = platform::GetTickCount();
    // Work written while the device is still busy queues behind it, first
    // into the part of a millisecond counted already.
    if (static_cast<int32_t>(now - DeviceIdleTick) >= 0)
        DeviceNsAhead = 0;
    const uint64_t ahead = std::min(Nanoseconds, DeviceNsAhead);
    Nanoseconds -= ahead;
    DeviceNsAhead -= ahead;
    const uint64_t ms = (Nanoseconds + 999999) / 1000000;
    DeviceNsAhead += ms * 1000000 - Nanoseconds;
    DeviceIdleTick = Later(now, DeviceIdleTick) + static_cast<uint32_t>(std::min<uint64_t>(ms, 0x7FFFFFFF / 2));
}

bool TJtagExecuter::RepliesOverdue() const
{
    const uint32_t from = Later(LastRxTick, DeviceIdleTick);
    const int32_t since = static_cast<int32_t>(platform::GetTickCount() - from);
    return since > static_cast<int32_t>(ReplyTimeoutMs);
}
