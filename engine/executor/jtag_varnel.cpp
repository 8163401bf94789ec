// The Varnel cable: its own byte protocol, one command per byte, some
// answered with one reply byte. Open and probe, the paced flush, shifts and
// their read-back, TMS clocks, TCK frequency and TRST (its RUNTEST bytes
// are in jtag_varnel_runtest.cpp).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/StrUtilsEx.h"
#include "executor/jtag_execute.h"
#include "executor/jtag_runtest.h"
#include "ticks.h"

namespace {

// Replies per command byte, by its high nibble: the device answers exactly so.
constexpr uint8_t ReplyTable[16] = {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0, 1};

constexpr int32_t NativeHz = 3000000;
constexpr uint32_t ProbeTimeoutMs = 250;

// Upper bounds of what one byte keeps the device busy, in ns, for the reply
// watch: a cycle of each native clock (0xA8 3 MHz, 0xA9 1.5 MHz, 0xAA
// 750 kHz, 0xAB the run-test clock of 12 us), a wait byte (512 periods of
// 3 MHz), a pin byte (half a period of repeated mode's 1 MHz base).
uint64_t CycleNs(uint8_t Clock)
{
    switch (Clock) {
    case 0xA9:
        return 667;
    case 0xAA:
        return 1334;
    case 0xAB:
        return 12000;
    default:
        return 334;
    }
}
constexpr uint64_t WaitByteNs = 170667;
constexpr uint64_t PinByteNs = 500;

uint64_t ByteNs(uint8_t Byte, uint8_t& Clock)
{
    if (Byte < 0x80)
        return ((Byte >> 4 & 3) + 1) * CycleNs(Clock);
    if (Byte < 0x90)
        return WaitByteNs;
    if (Byte >= 0xA8 && Byte <= 0xAB) {
        Clock = Byte;
        return 0;
    }
    if (Byte >= 0xC0 && Byte <= 0xEF)
        return PinByteNs;
    return 0;
}

// ByteNs of every byte under each of the four native clocks.
// A byte's device time (low 48 bits) and replies (bits 48 to 62) in one
// word, summed at once for a whole block; bit 63 marks a clock byte.
struct TByteTimes {
    static constexpr int RepliesShift = 48;
    static constexpr uint64_t ClockByte = uint64_t{1} << 63;
    uint64_t Cost[4][256];
    TByteTimes()
    {
        for (int c = 0; c < 4; ++c)
            for (int b = 0; b < 256; ++b) {
                uint8_t clock = static_cast<uint8_t>(0xA8 + c);
                Cost[c][b] = static_cast<uint32_t>(ByteNs(static_cast<uint8_t>(b), clock)) |
                             uint64_t{ReplyTable[b >> 4]} << RepliesShift | (b >= 0xA8 && b <= 0xAB ? ClockByte : 0);
            }
    }
};
const TByteTimes ByteTimes;

// Size of the native group that starts at bit First of a shift of Count
// bits: the middle bits 1 .. Count-2 go four to a byte.
int32_t GroupSize(int32_t First, int32_t Count)
{
    return std::min(4, Count - 1 - First);
}

bool Captured(const uint8_t* Capture, int32_t I)
{
    return Capture && Capture[I] != 0;
}

bool AnyCaptured(const uint8_t* Capture, int32_t First, int32_t K)
{
    for (int32_t j = 0; j < K; ++j)
        if (Captured(Capture, First + j))
            return true;
    return false;
}

// Four entries (nonzero = 1) from P as bits 0-3, by word: the middle of a
// long shift goes four bits a byte, and this is its inner loop.
uint32_t Nibble(const uint8_t* P)
{
    uint32_t v;
    std::memcpy(&v, P, 4);
    constexpr uint32_t Low7 = 0x7F7F7F7Fu;
    const uint32_t nonzero = (((v & Low7) + Low7) | v) & ~Low7;
    return static_cast<uint32_t>((uint64_t{nonzero >> 7} * 0x204081u) >> 21) & 0xF;
}

// Whether any of Count entries is captured, eight at a time.
bool CapturesAny(const uint8_t* Capture, int32_t Count)
{
    if (!Capture)
        return false;
    int32_t i = 0;
    for (; i + 8 <= Count; i += 8) {
        uint64_t v;
        std::memcpy(&v, Capture + i, 8);
        if (v != 0)
            return true;
    }
    for (; i < Count; ++i)
        if (Capture[i] != 0)
            return true;
    return false;
}

// A whole group of four starts at First when its last bit is still a
// middle bit.
bool WholeGroup(int32_t First, int32_t Count)
{
    return First + 4 <= Count - 1;
}

// Reply bytes that a shift of Count bits sent in the given mode produces.
int32_t ShiftReplies(const uint8_t* Capture, int32_t Count, bool Native)
{
    if (Count <= 0)
        return 0;
    int32_t n = Captured(Capture, 0) ? 1 : 0;
    if (Count < 2 || !Capture)
        return n;
    if (Captured(Capture, Count - 1))
        ++n;
    if (Native) {
        int32_t first = 1;
        for (; WholeGroup(first, Count); first += 4)
            n += Nibble(Capture + first) != 0 ? 1 : 0;
        for (; first <= Count - 2; first += GroupSize(first, Count))
            if (AnyCaptured(Capture, first, GroupSize(first, Count)))
                ++n;
    } else {
        for (int32_t i = 1; i <= Count - 2; ++i)
            if (Captured(Capture, i))
                ++n;
    }
    return n;
}

// Reply bits 0-3 as four Tdo entries, each the masked bit.
struct TSpreadTable {
    uint8_t Entries[16][4];
    TSpreadTable()
    {
        for (int r = 0; r < 16; ++r)
            for (int j = 0; j < 4; ++j)
                Entries[r][j] = static_cast<uint8_t>(r & (1 << j));
    }
};
const TSpreadTable Spread;
const auto& SpreadNibble = Spread.Entries;

} // namespace

// Takes Count bytes that the ring is known to hold, a block at a time.
class TJtagExecuter::TRingReader {
public:
    TRingReader(TJtagExecuter& Owner, int32_t Count) : FOwner(Owner), FLeft(Count) {}
    uint8_t Next()
    {
        if (FPos == FFill) {
            FFill = std::min<int32_t>(FLeft, sizeof FBlock);
            FOwner.RxGet(FBlock, FFill);
            FLeft -= FFill;
            FPos = 0;
        }
        return FBlock[FPos++];
    }

private:
    TJtagExecuter& FOwner;
    int32_t FLeft;
    int32_t FPos = 0;
    int32_t FFill = 0;
    uint8_t FBlock[4096];
};

bool TJtagExecuter::OpenVarnel()
{
    if (!FindAndOpen(VarnelIdentity, "VARNEL"))
        return false;
    OpenedKind = CableKindVarnel;

    // From here every failure closes the device without parking its pins.
    const auto fail = [this] {
        FtClose(FtHandle);
        FtHandle = nullptr;
        OpenedKind = CableKindNone;
        return false;
    };
    const auto resetReplies = [this] {
        PendingReplies = 0;
        OutCount = 0;
        RxReset();
        VarnelShiftModes.clear();
        VarnelDeviceClock = 0xA8;
        LastRxTick = DeviceIdleTick = platform::GetTickCount();
    };

    resetReplies();
    platform::Sleep(250);

    if (!DrainStaleBytes())
        return fail();

    for (uint8_t b : {0xC1, 0xC1, 0xD1, 0xC0, 0xD0})
        if (!PutByte(b))
            break;
    if (!VarnelSync()) {
        Message("VARNEL: Communication error!", MessageKind::Error);
        return fail();
    }
    const uint32_t pollStart = platform::GetTickCount();
    while (RxAvailable() < 2) {
        if (platform::GetTickCount() - pollStart > ProbeTimeoutMs) {
            Message("Fatal error: VARNEL response timeout", MessageKind::Error);
            return fail();
        }
    }
    uint8_t reply[2];
    if (RxTake(reply, 2) != 1 || (reply[0] & 0x90) != 0x10 || (reply[1] & 0x90) != 0) {
        Message("Fatal error: VARNEL bad response", MessageKind::Error);
        return fail();
    }

    resetReplies();
    if (const int bits = PinBitsForActive(VarnelVPPActive); bits >= 0)
        PinBits = static_cast<uint8_t>(bits);
    // 3 MHz native clock, TCK low with TDI 0, TMS high, the pin as set;
    // these go out with the run's first flush.
    for (uint8_t b : {uint8_t{0xA7}, uint8_t{0xA8}, uint8_t{0xB8}, uint8_t{0xCA}, static_cast<uint8_t>(0xEC | PinBits)})
        if (!PutByte(b))
            return fail();
    if (FtSetLatencyTimer(FtHandle, 16) != FT_OK)
        return fail();
    return true;
}

bool TJtagExecuter::VarnelFlush()
{
    if (OutCount == 0)
        return true;
    // At most so many replies in flight before another block goes out; a
    // cable that has stopped answering ends the wait as a failure, and a
    // stop ends it with nothing written.
    while (PendingReplies - RxCount() > VarnelMaxRepliesInFlight) {
        if (!ReadPending())
            return false;
        if (PendingReplies - RxCount() <= VarnelMaxRepliesInFlight)
            break;
        if (StopAsked()) {
            CutByStop = true;
            OutCount = 0;
            return true;
        }
        if (RepliesOverdue())
            return false;
        platform::Sleep(5);
    }
    DWORD written = 0;
    if (FtWrite(FtHandle, OutBuffer.data(), OutCount, written) != FT_OK || written != OutCount)
        return false;
    uint64_t sum = 0;
    // By table, per native clock; a clock byte switches the table.
    const uint64_t* costOf = ByteTimes.Cost[VarnelDeviceClock - 0xA8];
    for (uint32_t i = 0; i < OutCount; ++i) {
        const uint8_t b = OutBuffer[i];
        const uint64_t cost = costOf[b];
        sum += cost & ~TByteTimes::ClockByte;
        if (cost & TByteTimes::ClockByte) {
            VarnelDeviceClock = b;
            costOf = ByteTimes.Cost[b - 0xA8];
        }
    }
    PendingReplies += static_cast<int32_t>(sum >> TByteTimes::RepliesShift);
    NoteDeviceTime(sum & ((uint64_t{1} << TByteTimes::RepliesShift) - 1));
    OutCount = 0;
    return true;
}

bool TJtagExecuter::VarnelSync()
{
    return Flush();
}

bool TJtagExecuter::VarnelShift(const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms)
{
    if (Count <= 0)
        return true;
    const int32_t r = ClockRepeat;
    const bool native = r == 0;
    const auto t = [&](int32_t i) -> uint8_t { return Tdi[i] != 0 ? 1 : 0; };
    const auto low = [&](int32_t i) -> uint8_t { return 0xCA | t(i); };
    const auto high = [&](int32_t i) -> uint8_t { return (Captured(Capture, i) ? 0xDE : 0xCE) | t(i); };
    const uint8_t pin = static_cast<uint8_t>(0xE8 | (LastTms ? 4 : 0) | PinBits);
    // The rest of a high half period in repeated mode, then the edge that
    // samples (and, when captured, reads) the bit.
    const auto highHalf = [&](int32_t i) { return (native || PutRepeated(0xCE | t(i), r - 1)) && PutByte(high(i)); };

    // The read-back decodes in this mode and takes this many replies.
    if (const int32_t replies = ShiftReplies(Capture, Count, native); replies > 0)
        VarnelShiftModes.push_back({native, replies});
    // Every byte is a command of its own: a stop may cut the shift between
    // any two of its bits.
    const uint64_t bitNs = ShiftBitNs(*this);

    if (Count == 1)
        return PutByte(pin) && PutByte(low(0)) && highHalf(0);

    // TMS stays at the level of the last pin byte sent until the last bit.
    if (!PutByte(low(0)) || !highHalf(0))
        return false;
    if (native) {
        int32_t first = 1;
        // Whole groups straight into the output buffer, as many as fit.
        while (WholeGroup(first, Count)) {
            if (OutCount >= OutBufferSize)
                return false;
            const int64_t room = OutBufferSize - OutCount;
            const int64_t groups = static_cast<int64_t>(std::min<uint64_t>(
                static_cast<uint64_t>(std::min<int64_t>(room, (Count - 1 - first) / 4)), SliceFit(4 * bitNs)));
            uint8_t* out = OutBuffer.data() + OutCount;
            for (int64_t g = 0; g < groups; ++g, first += 4)
                out[g] = static_cast<uint8_t>(0x30 | Nibble(Tdi + first) |
                                              (Capture && Nibble(Capture + first) != 0 ? 0x40 : 0));
            OutCount += static_cast<uint32_t>(groups);
            if (OutCount == OutBufferSize && !Flush())
                return false;
            if (!QueueDeviceTime(static_cast<uint64_t>(groups) * 4 * bitNs))
                return CutByStop;
        }
        while (first <= Count - 2) {
            const int32_t k = GroupSize(first, Count);
            uint8_t group = static_cast<uint8_t>((k - 1) << 4);
            for (int32_t j = 0; j < k; ++j)
                group |= static_cast<uint8_t>(t(first + j) << j);
            if (AnyCaptured(Capture, first, k))
                group |= 0x40;
            if (!PutByte(group))
                return false;
            first += k;
        }
    } else {
        for (int32_t i = 1; i <= Count - 2; ++i) {
            if (!PutRepeated(low(i), r) || !highHalf(i))
                return false;
            if (!QueueDeviceTime(bitNs))
                return CutByStop;
        }
    }
    const int32_t last = Count - 1;
    const int32_t halfBytes = native ? 1 : r;
    return PutRepeated(low(last), halfBytes) && PutByte(pin) && highHalf(last) && PutRepeated(0xCA, halfBytes);
}

ReadResult TJtagExecuter::VarnelReadTdo(uint8_t* Tdo, const uint8_t* Capture, int32_t Count)
{
    if (Count <= 0)
        return ReadResult::Ready;
    // Decoded in the mode the shift was sent in.
    // A read-back that captures nothing has no replies and no entry; one
    // that does reads the oldest entry, the count its shift worked out.
    if (!CapturesAny(Capture, Count))
        return ReadResult::Ready;
    const bool native = VarnelShiftModes.empty() ? ClockRepeat == 0 : VarnelShiftModes.front().Native;
    const int32_t n = VarnelShiftModes.empty() ? ShiftReplies(Capture, Count, native) : VarnelShiftModes.front().Replies;
    if (n == 0)
        return ReadResult::Ready;
    if (const ReadResult claimed = ClaimReplies(n); claimed != ReadResult::Ready)
        return claimed;
    if (!VarnelShiftModes.empty())
        VarnelShiftModes.pop_front();

    // The replies are decoded straight from the ring, a block at a time.
    TRingReader replies(*this, n);
    if (Captured(Capture, 0))
        Tdo[0] = replies.Next() & 0x08;
    if (Count >= 2) {
        if (native) {
            int32_t first = 1;
            for (; WholeGroup(first, Count); first += 4)
                if (Nibble(Capture + first) != 0)
                    std::memcpy(Tdo + first, SpreadNibble[replies.Next() & 0x0F], 4);
            for (; first <= Count - 2;) {
                const int32_t k = GroupSize(first, Count);
                if (AnyCaptured(Capture, first, k)) {
                    const uint8_t reply = replies.Next();
                    for (int32_t j = 0; j < k; ++j)
                        Tdo[first + j] = reply & (1 << j);
                }
                first += k;
            }
        } else {
            for (int32_t i = 1; i <= Count - 2; ++i)
                if (Captured(Capture, i))
                    Tdo[i] = replies.Next() & 0x08;
        }
        if (Captured(Capture, Count - 1))
            Tdo[Count - 1] = replies.Next() & 0x08;
    }
    return ReadResult::Ready;
}

bool TJtagExecuter::VarnelTmsClock(bool Tdi, bool Tms)
{
    const uint8_t t = Tdi ? 1 : 0;
    const int32_t halfBytes = ClockRepeat == 0 ? 1 : ClockRepeat;
    return PutByte(static_cast<uint8_t>(0xE8 | (Tms ? 4 : 0) | PinBits)) && PutByte(0xCA | t) &&
           PutRepeated(0xCE | t, halfBytes) && PutRepeated(0xCA | t, halfBytes) && QueueClockPeriod();
}

int32_t TJtagExecuter::VarnelSetFrequency(int32_t Hz, bool Apply)
{
    // No frequency at all: the clock in force stays, and so does the design's.
    if (Hz <= 0)
        return CurrentFrequency;
    DesignFrequency = Hz;
    if (Hz > NativeHz)
        Message("Info: Maximum clock frequency for design is " + IntToStrGrouped(Hz) +
                    " Hz, maximum clock speed for Varnel is 3 MHz",
                MessageKind::Info);
    if (IgnoreFreqCmd) {
        const int32_t forced = DefFreq == 1 ? 1000000 : DefFreq == 2 ? 500000 : NativeHz;
        if (Apply) {
            if (Hz < forced)
                Message("Warning: Ignoring maximum frequency " + IntToStrGrouped(Hz) + " Hz", MessageKind::Warning);
            else if (Hz > forced)
                Message("Info: Current maximum frequency " + IntToStrGrouped(Hz) + " Hz, forced " +
                            IntToStrGrouped(forced) + " Hz",
                        MessageKind::Info);
        }
        Hz = forced;
    }
    if (Hz >= NativeHz) {
        ClockRepeat = 0;
        CurrentFrequency = NativeHz;
    } else {
        ClockRepeat = static_cast<int32_t>(std::ceil(1000000.0 / Hz));
        CurrentFrequency = static_cast<int32_t>(std::nearbyint(1000000.0 / ClockRepeat));
    }
    if (Apply && !PutByte(0xA8))
        return -1;
    return CurrentFrequency;
}

bool TJtagExecuter::VarnelTrst(bool Level, bool Driven)
{
    if (VarnelVPPActive != 3) {
        Message("Warning: TRST pin disabled but SVF file contains TRST command", MessageKind::Warning);
        return true;
    }
    PinBits = Driven ? (Level ? 3 : 2) : 0;
    const uint8_t tms = LastPinState[1] == 1 ? 4 : 0;
    return PutByte(static_cast<uint8_t>(0xE8 | tms | PinBits));
}
