// The Druvel cable: FTDI's MPSSE engine drives the JTAG lines on the chip's
// low byte (bit 0 TCK, 1 TDI, 2 TDO, 3 TMS). Open, shifts and their
// read-back, TMS clocks, TCK frequency, TRST and the flush with its reply
// accounting (its RUNTEST bytes are in jtag_druvel_runtest.cpp).
#include <algorithm>
#include <vector>

#include "base/StrUtilsEx.h"
#include "executor/jtag_druvel_runtest.h"
#include "executor/jtag_execute.h"
#include "ticks.h"

namespace {

// MPSSE opcodes.
constexpr uint8_t SetLowBits = 0x80;
constexpr uint8_t SetDivisor = 0x86;
constexpr uint8_t SendImmediate = 0x87;
constexpr uint8_t BytesOut = 0x11;   // -ve edge, MSB first
constexpr uint8_t BitsOut = 0x13;    // -ve edge, MSB first
constexpr uint8_t BytesInOut = 0x31; // out on -ve, in on +ve, MSB first
constexpr uint8_t BitsInOut = 0x33;

// Bits 0, 1, 3, 4, 6, 7 outputs; TDO (2) and bit 5 inputs. Every value
// has bit 7 set and bits 4 and 6 clear.
constexpr uint8_t PinDirection = 0xDB;
constexpr uint8_t PinIdle = 0x80;

constexpr uint32_t MpsseMode = 0x02;
constexpr int32_t MaxBlockBytes = 65000;

// The shift's commands, in the order sent: byte blocks while more than 8
// bits remain, then the bits but the last as one bit command, then the
// last bit (after the pin command that sets TMS for it).
struct TPiece {
    int32_t First;
    int32_t Bits;
    bool Block; // a byte command of Bits / 8 bytes
};

template <typename F>
bool ForEachPiece(int32_t Count, F&& Piece)
{
    int32_t p = 0;
    int32_t r = Count;
    while (r > 0) {
        TPiece piece{p, 0, false};
        if (r > 8) {
            piece.Bits = 8 * std::min((r - 1) / 8, MaxBlockBytes);
            piece.Block = true;
        } else {
            piece.Bits = r == 1 ? 1 : r - 1;
        }
        if (!Piece(piece))
            return false;
        p += piece.Bits;
        r -= piece.Bits;
    }
    return true;
}

// Reply bytes of a captured shift of Count bits: one a data byte, one per
// bit command.
int32_t ReplyBytes(int32_t Count)
{
    const int32_t bytes = (Count - 1) / 8;
    return bytes + (Count - 8 * bytes > 1 ? 1 : 0) + 1;
}

// An opcode and its two argument bytes (a length or divisor: low, high).
bool PutCommand(TJtagExecuter& E, uint8_t Opcode, uint8_t First, uint8_t Second)
{
    return E.PutByte(Opcode) && E.PutByte(First) && E.PutByte(Second);
}
bool PutCommand16(TJtagExecuter& E, uint8_t Opcode, uint64_t Value)
{
    return PutCommand(E, Opcode, static_cast<uint8_t>(Value & 0xFF), static_cast<uint8_t>(Value >> 8 & 0xFF));
}

bool AnyCaptured(const uint8_t* Capture, int32_t Count)
{
    if (!Capture)
        return false;
    for (int32_t i = 0; i < Count; ++i)
        if (Capture[i] != 0)
            return true;
    return false;
}

// A data byte is eight cycles; a period is (divisor + 1) / 6 us.
uint64_t DataByteNs(int32_t Divisor)
{
    return 8 * (static_cast<uint64_t>(Divisor) + 1) * 1000 / 6;
}

} // namespace

const TRuntestRules DruvelRuntestRules{100000, 1000000, 0, true,
                                        "Zero frequency RUNTEST is not supported on DRUVEL cable."};

int32_t DruvelDivisorFor(int64_t Hz)
{
    const int64_t divisor = DruvelBaseHz / std::max<int64_t>(Hz, 1) - 1;
    return static_cast<int32_t>(std::clamp<int64_t>(divisor, 0, DruvelMaxDivisor));
}

int32_t DruvelHzOf(int32_t Divisor)
{
    return DruvelBaseHz / (Divisor + 1);
}

bool TJtagExecuter::OpenDruvel()
{
    if (!FindAndOpen(DruvelIdentity, "DRUVEL"))
        return false;
    OpenedKind = CableKindDruvel;
    // A failure from here names its step and closes the device; one after
    // MPSSE mode was asked for leaves that mode first, as every close does.
    const auto fail = [this](const char* Step) {
        Message(std::string("DRUVEL: Cannot open: ") + Step + ".", MessageKind::Error);
        CloseCable(false);
        return false;
    };

    PendingReplies = 0;
    OutCount = 0;
    RxReset();
    DruvelQueuedReplies = 0;
    DruvelQueuedPeriods = 0;
    LastRxTick = DeviceIdleTick = platform::GetTickCount();
    platform::Sleep(250);

    if (!DrainStaleBytes())
        return fail("what it held from before could not be read");
    if (FtSetLatencyTimer(FtHandle, 16) != FT_OK)
        return fail("its latency timer could not be set");
    if (FtSetBitMode(FtHandle, 0, MpsseMode) != FT_OK)
        return fail("its MPSSE mode could not be set");
    // 3 MHz, every output low but bit 7, TCK low.
    const uint8_t setup[] = {SetDivisor, 0x01, 0x00, SetLowBits, PinIdle, PinDirection};
    DWORD written = 0;
    if (FtWrite(FtHandle, setup, sizeof setup, written) != FT_OK || written != sizeof setup)
        return fail("its set-up bytes could not be written");
    DruvelQueuedDivisor = 1;
    return true;
}

bool TJtagExecuter::DruvelFlush()
{
    if (!PlainFlush())
        return false;
    // The tallies hold whole commands only: one that a full buffer split
    // counts with the flush that writes its end.
    PendingReplies += DruvelQueuedReplies;
    NoteDeviceTime(MulDivFloor(DruvelQueuedPeriods, 1000, 6));
    DruvelQueuedReplies = 0;
    DruvelQueuedPeriods = 0;
    return true;
}

bool TJtagExecuter::DruvelSync()
{
    return PutByte(SendImmediate) && Flush();
}

bool TJtagExecuter::DruvelPutPins(bool Tdi, bool Tms)
{
    const uint8_t value = static_cast<uint8_t>(PinIdle | (Tdi ? 0x02 : 0) | (Tms ? 0x08 : 0));
    return PutCommand(*this, SetLowBits, value, PinDirection);
}

bool TJtagExecuter::DruvelPutDivisor(int32_t Divisor)
{
    if (!PutCommand16(*this, SetDivisor, static_cast<uint64_t>(Divisor)))
        return false;
    DruvelQueuedDivisor = Divisor;
    return true;
}

bool TJtagExecuter::DruvelPutCycles(uint64_t N, bool Counted)
{
    const uint64_t period = static_cast<uint64_t>(DruvelQueuedDivisor) + 1;
    const uint64_t byteNs = DataByteNs(DruvelQueuedDivisor);
    while (N >= 8) {
        const uint64_t k = std::min<uint64_t>(N / 8, MaxBlockBytes);
        if (!PutCommand16(*this, BytesOut, k - 1))
            return false;
        // The time of each byte as it is queued, so that a write of part
        // of the block is paced by it.
        for (uint64_t i = 0; i < k; ++i) {
            if (!PutByte(0x00))
                return false;
            DruvelQueuedPeriods += 8 * period;
            if (Counted && !QueueDeviceTime(byteNs))
                return CutByStop;
        }
        N -= 8 * k;
    }
    if (N > 0 && !PutCommand(*this, BitsOut, static_cast<uint8_t>(N - 1), 0x00))
        return false;
    DruvelQueuedPeriods += N * period;
    return true;
}

bool TJtagExecuter::DruvelShift(const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms)
{
    if (Count <= 0)
        return true;
    // One choice for the whole shift: every bit read back, or none.
    const bool capture = AnyCaptured(Capture, Count);
    const uint8_t byteCommand = capture ? BytesInOut : BytesOut;
    const uint8_t bitCommand = capture ? BitsInOut : BitsOut;
    const auto bit = [&](int32_t I, int32_t J) -> uint8_t { return Tdi[I] != 0 ? static_cast<uint8_t>(0x80 >> J) : 0; };
    // A stop may cut a data block between its bytes: nothing more is
    // written, and the close's bit-mode reset restarts the engine, which
    // drops the block cut short (no byte of the close is taken as its data).
    const uint64_t byteNs = DataByteNs(DruvelQueuedDivisor);
    const uint64_t bitPeriods = static_cast<uint64_t>(DruvelQueuedDivisor) + 1;
    int64_t blockBits = 0;

    const bool queued = ForEachPiece(Count, [&](const TPiece& P) {
        if (P.Block) {
            const int32_t n = P.Bits / 8;
            if (!PutCommand16(*this, byteCommand, static_cast<uint64_t>(n - 1)))
                return false;
            for (int32_t b = 0; b < n; ++b) {
                uint8_t data = 0;
                for (int32_t j = 0; j < 8; ++j)
                    data |= bit(P.First + 8 * b + j, j);
                if (!PutByte(data))
                    return false;
                DruvelQueuedPeriods += 8 * bitPeriods;
                blockBits += 8;
                if (!QueueDeviceTime(byteNs))
                    return false;
            }
        } else {
            if (P.First + P.Bits == Count && !DruvelPutPins(false, LastTms))
                return false;
            uint8_t data = 0;
            for (int32_t j = 0; j < P.Bits; ++j)
                data |= bit(P.First + j, j);
            if (!PutCommand(*this, bitCommand, static_cast<uint8_t>(P.Bits - 1), data))
                return false;
        }
        return true;
    });
    if (!queued)
        return CutByStop;
    if (capture)
        DruvelQueuedReplies += ReplyBytes(Count);
    DruvelQueuedPeriods += static_cast<uint64_t>(Count - blockBits) * bitPeriods;
    return true;
}

ReadResult TJtagExecuter::DruvelReadTdo(uint8_t* Tdo, const uint8_t* Capture, int32_t Count)
{
    if (Count <= 0 || !AnyCaptured(Capture, Count))
        return ReadResult::Ready;
    const int32_t n = ReplyBytes(Count);
    std::vector<uint8_t> replies(static_cast<size_t>(n));
    if (const ReadResult taken = TakeReplies(replies.data(), n); taken != ReadResult::Ready)
        return taken;

    size_t next = 0;
    ForEachPiece(Count, [&](const TPiece& P) {
        if (P.Block) {
            for (int32_t b = 0; b < P.Bits / 8; ++b) {
                const uint8_t reply = replies[next++];
                for (int32_t j = 0; j < 8; ++j)
                    Tdo[P.First + 8 * b + j] = reply >> (7 - j) & 1;
            }
        } else {
            // A bit command's bits come in from the bottom: the first in
            // bit k - 1, the last in bit 0.
            const uint8_t reply = replies[next++];
            for (int32_t i = 0; i < P.Bits; ++i)
                Tdo[P.First + i] = reply >> (P.Bits - 1 - i) & 1;
        }
        return true;
    });
    return ReadResult::Ready;
}

bool TJtagExecuter::DruvelTmsClock(bool Tdi, bool Tms)
{
    if (!DruvelPutPins(Tdi, Tms) || !PutCommand(*this, BitsOut, 0x00, Tdi ? 0x80 : 0x00))
        return false;
    DruvelQueuedPeriods += static_cast<uint64_t>(DruvelQueuedDivisor + 1);
    return QueueClockPeriod();
}

bool TJtagExecuter::DruvelTrst(bool, bool)
{
    // The cable has no TRST line.
    return true;
}

int32_t TJtagExecuter::DruvelSetFrequency(int32_t Hz, bool Apply)
{
    // No frequency at all: the clock in force stays, and so does the design's.
    if (Hz <= 0)
        return CurrentFrequency;
    DesignFrequency = Hz;
    const int32_t f = RequestedFrequency(Hz, Apply);
    const int32_t divisor = DruvelDivisorFor(f);
    if (!DruvelPutDivisor(divisor))
        return -1;
    CurrentFrequency = DruvelHzOf(divisor);
    if (Apply)
        Message("Info: TCK frequency set to " + IntToStrGrouped(CurrentFrequency) + " Hz, using divisor " +
                    std::to_string(divisor),
                MessageKind::Info);
    return CurrentFrequency;
}
