// The Mirrow cable: an FPGA behind the FTDI chip, configured at every open,
// then driven in synchronous FIFO mode with its own byte protocol: a
// command byte (bit 7 clear) and its operands (bit 7 set). Open with power,
// calibration and the target voltage check; shifts and their read-back, TMS
// clocks, TCK frequency, device-timed waits (its RUNTEST bytes are in
// jtag_mirrow_runtest.cpp).
#include "executor/jtag_mirrow.h"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <vector>

#include "base/StrUtilsEx.h"
#include "base/sysutils.h"
#include "executor/jtag_execute.h"
#include "executor/jtag_runtest.h"
#include "executor/varnel2low.h"
#include "ticks.h"

const int32_t MirrowDivisor[32] = {0,   2,   3,   4,   5,   6,   8,   9,   10,  12,  15,  20,  30,  40,  50,  60,
                                   75,  80,  90,  100, 120, 150, 200, 250, 300, 375, 500, 600, 750, 800, 900, 1000};
const int32_t MirrowFreqTable[32] = {
    0,       15000000, 10000000, 7500000, 6000000, 5000000, 3750000, 3333333, 3000000, 2500000, 2000000,
    1500000, 1000000,  750000,   600000,  500000,  400000,  375000,  333333,  300000,  250000,  200000,
    150000,  120000,   100000,   75000,   60000,   50000,   40000,   37500,   33333,   30000};

int32_t MirrowFreqIndexFor(int64_t Hz)
{
    for (int32_t i = MirrowFreqIndexFirst; i <= MirrowFreqIndexLast; ++i)
        if (MirrowFreqTable[i] <= Hz)
            return i;
    return MirrowFreqIndexLast;
}

namespace {

constexpr uint32_t MeasureTimeoutMs = 250;
constexpr int32_t AdcFullScale = 0xFFF;
constexpr int64_t TenMsNs = 10000000;
constexpr int64_t LongWaitTicks = 1966083; // 12 8F FF
constexpr int64_t LongWaitFrom = 0x1E0000;
// 60 MHz ticks and TCK periods are counted in thirds of a nanosecond.
constexpr uint64_t TickThirds = 50;
constexpr uint64_t DivisorThirds = 100;

// The first byte from From on that is no operand (bit 7 clear), or End;
// eight bytes at a time, for the runs of a TMS clock's pin bytes.
const uint8_t* OperandsEnd(const uint8_t* From, const uint8_t* End)
{
    constexpr uint64_t Highs = 0x8080808080808080ull;
    for (uint64_t eight; End - From >= 8; From += 8) {
        std::memcpy(&eight, From, 8);
        // The lowest byte with bit 7 clear is the first in memory.
        if (const uint64_t clear = ~eight & Highs)
            return From + std::countr_zero(clear) / 8;
    }
    while (From < End && *From >= 0x80)
        ++From;
    return From;
}

bool Captured(const uint8_t* Capture, int32_t First, int32_t Bits)
{
    if (!Capture)
        return false;
    for (int32_t i = 0; i < Bits; ++i)
        if (Capture[First + i] != 0)
            return true;
    return false;
}

// "3.3", "5", "1.81": three significant digits, no trailing zeros.
std::string VoltsText(float Volts)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", static_cast<double>(Volts));
    std::string s = text;
    std::replace(s.begin(), s.end(), '.', FormatSettings.DecimalSeparator);
    return s;
}

} // namespace

bool TJtagExecuter::OpenMirrow()
{
    CloseCable(false);
    // Its own failures to find or open are silent but for the reason.
    switch (FindAndOpenSelected(MirrowIdentity)) {
    case TFindOpen::Opened:
        break;
    case TFindOpen::OpenFailed:
        Message("Fatal error: FT_Open failed", MessageKind::Error);
        return false;
    default:
        return false;
    }
    OpenedKind = CableKindMirrow;

    bool powered = false;
    // After the supply was switched on, no way out leaves it on.
    const auto powerOff = [this, &powered] {
        if (!powered)
            return;
        OutCount = 0;
        TRegisterPacket off;
        EncodeRegisterPacket(0x94, 1, off);
        for (uint8_t b : off)
            PutByte(b);
        MirrowSync();
        powered = false;
    };
    // The step that failed is named: the lines after it are the same for all.
    const auto closeSilently = [this, &powerOff](const char* Step) {
        Message(std::string("MIRROW: Cannot open: ") + Step + ".", MessageKind::Error);
        powerOff();
        FtClose(FtHandle);
        FtHandle = nullptr;
        OpenedKind = CableKindNone;
        return false;
    };
    const auto commError = [this, &powerOff] {
        Message("MIRROW: Communication error!", MessageKind::Error);
        powerOff();
        return false;
    };
    const auto packet = [this](uint8_t Register, uint16_t Value) {
        TRegisterPacket p;
        EncodeRegisterPacket(Register, Value, p);
        for (uint8_t b : p)
            if (!PutByte(b))
                return false;
        return true;
    };
    const auto put = [this](std::initializer_list<uint8_t> Bytes) {
        for (uint8_t b : Bytes)
            if (!PutByte(b))
                return false;
        return true;
    };

    if (!LoadFpgaImage(FtHandle))
        return closeSilently("its FPGA did not configure");
    OutCount = 0;
    RxReset();
    PendingReplies = 0;
    MirrowStream = TMirrowStream();
    MirrowTrstWarned = false;
    LastRxTick = DeviceIdleTick = platform::GetTickCount();

    if (!packet(0x90, 0))
        return closeSilently("its set-up bytes could not be written");
    if (const int bits = PinBitsForActive(MirrowPActive); bits >= 0)
        PinBits = static_cast<uint8_t>(bits);
    if (!put({0x20, static_cast<uint8_t>(0xE0 | PinBits), 0x20, 0x8A, 0xD8, 0x15, 0x91}) || !packet(0x91, 0x8100))
        return closeSilently("its set-up bytes could not be written");
    if (!MirrowSync())
        return commError();

    TMirrowCalibration cal;
    // Equal ADC points measure no voltage at all: refused before the
    // target is powered.
    if (!ReadCalibration(cal, FtHandle))
        return closeSilently("its calibration could not be read");
    if (!CalibrationUsable(cal))
        return closeSilently("its calibration measures no voltage");

    if (MirrowVddOut) {
        const int32_t delay = std::max(MirrowVddDelay, 0);
        const int32_t dac = VoltsToDac(cal, static_cast<float>(MirrowVddVal) / 10.0f);
        if (!put({0x13, static_cast<uint8_t>(0x80 | ((dac >> 7) & 0x1F)), static_cast<uint8_t>(0x80 | (dac & 0x7F))}) ||
            !MirrowWait(TenMsNs) || !packet(0x8A, static_cast<uint16_t>(delay & 0xFFFF)) ||
            !packet(0x8B, static_cast<uint16_t>((delay >> 16) & 0xFFFF)))
            return closeSilently("the target's supply could not be set");
        powered = true;
        if (!packet(0x94, 2) || !MirrowWait(int64_t{delay} * 1200))
            return closeSilently("the target's supply could not be switched on");
        if (!MirrowSync())
            return commError();
        platform::Sleep(static_cast<uint32_t>(delay / 800));
    } else {
        if (!packet(0x94, 0x23))
            return closeSilently("its set-up bytes could not be written");
        if (!MirrowSync())
            return commError();
    }

    if (!MirrowWait(TenMsNs) || !put({0x29, 0x80}))
        return closeSilently("the target's voltage could not be measured");
    if (!MirrowSync())
        return commError();
    const uint32_t pollStart = platform::GetTickCount();
    while (RxAvailable() < 2)
        if (platform::GetTickCount() - pollStart > MeasureTimeoutMs)
            return closeSilently("the target's voltage could not be measured");
    uint8_t reply[2];
    if (RxTake(reply, 2) != 1)
        return commError();
    PendingReplies = 0;
    if (reply[0] & 0x80) {
        if (reply[0] & 0x02) {
            Message("MIRROW: VDD overcurrent condition!", MessageKind::Error);
        } else {
            char code[8];
            std::snprintf(code, sizeof code, "%02X", reply[0] & 0x7F);
            Message(std::string("MIRROW: Error condition (") + code + ")!", MessageKind::Error);
        }
        powerOff();
        return false;
    }

    const int32_t code = ((reply[0] << 7) & 0xF80) | (reply[1] & 0x7F);
    const float volts = AdcToVolts(cal, code);
    const long double v = volts;
    // At the converter's full scale the voltage may be any higher one.
    if (code < AdcFullScale && MirrowVddMin / 10.0L <= v && v <= MirrowVddMax / 10.0L) {
        Message("MIRROW: UCC = " + VoltsText(volts) + "V", MessageKind::Info);
        return true;
    }
    Message("MIRROW: UCC = " + VoltsText(volts) + "V is out of limits.", MessageKind::Error);
    if (const std::string advice = Advice(TAdvice::VoltageLimits); !advice.empty())
        Message(advice, MessageKind::Info);
    OutCount = 0;
    const bool parked = packet(0x94, 1) && packet(0x91, 0x8400) && MirrowSync();
    powered = false;
    if (!parked)
        Message("MIRROW: Communication error!", MessageKind::Error);
    return false;
}

bool TJtagExecuter::MirrowFlush()
{
    // What the device owes and how long it is busy, read from the bytes
    // before they go: the replies of 0x25, 0x29 and captured data bytes;
    // one tick a byte, the waits, one TCK period a shifted bit.
    TMirrowStream stream = MirrowStream;
    int32_t replies = 0;
    // Every byte's tick at once; the loop adds what some take beyond it.
    uint64_t thirds = uint64_t{OutCount} * TickThirds;
    for (uint32_t i = 0; i < OutCount; ++i) {
        const uint8_t b = OutBuffer[i];
        if (b < 0x80) {
            stream.Command = b;
            stream.Operands = 0;
            if (b == 0x25)
                replies += 2;
            else if ((b & 0xF0) == 0x50)
                thirds += (b & 0x0F) * TickThirds;
            continue;
        }
        const uint8_t c = stream.Command;
        if (c != MirrowClockCommand && c != 0x12 && c != 0x29 && (c & 0xF0) != MirrowShiftCommand) {
            // Operands that take their tick only, as the pin bytes of a TMS
            // clock: the run of them at once.
            const uint32_t end = static_cast<uint32_t>(
                OperandsEnd(OutBuffer.data() + i + 1, OutBuffer.data() + OutCount) - OutBuffer.data());
            stream.Operands += end - i;
            i = end - 1;
            continue;
        }
        const uint32_t operand = stream.Operands++;
        if (c == MirrowClockCommand && operand == 0 && b < 0xA0) {
            stream.ClockIndex = std::clamp<int32_t>(b & 0x1F, MirrowFreqIndexFirst, MirrowFreqIndexLast);
        } else if (c == 0x12 && operand == 1) {
            const uint64_t m = (b & 7) + 8;
            const uint64_t e = (b >> 3) & 0x0F;
            thirds += (m * 4 << e) * TickThirds;
        } else if (c == 0x29 && operand == 0) {
            replies += 2;
        } else if ((c & 0xF0) == MirrowShiftCommand) {
            const uint64_t bits = operand == 0 ? (c & 7) + 1 : 7;
            thirds += bits * static_cast<uint64_t>(MirrowDivisor[stream.ClockIndex]) * DivisorThirds;
            if (c & MirrowShiftCapture)
                ++replies;
        }
    }
    if (!PlainFlush())
        return false;
    MirrowStream = stream;
    PendingReplies += replies;
    NoteDeviceTime(thirds / 3);
    return true;
}

bool TJtagExecuter::MirrowSync()
{
    return PutByte(0x11) && Flush();
}

bool TJtagExecuter::MirrowShift(const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms)
{
    if (Count <= 0)
        return true;
    int previous = -1; // no header in force yet
    // Each data byte is a whole operand of the shift command in force: a
    // stop cuts the shift after one, and the close begins with a command.
    const uint64_t bitNs = ShiftBitNs(*this);
    const bool queued = ForEachMirrowChunk(Count, [&](int32_t First, int32_t Bits, bool IsLast) {
        if (IsLast) {
            if (!PutByte(MirrowPinCommand) || !PutByte(static_cast<uint8_t>(MirrowTmsPin | (LastTms ? 4 : 0))))
                return false;
            previous = -1;
        }
        const int captured = Captured(Capture, First, Bits) ? 1 : 0;
        if (captured != previous &&
            !PutByte(static_cast<uint8_t>(MirrowShiftCommand | (captured ? MirrowShiftCapture : 0) | (Bits - 1))))
            return false;
        uint8_t data = MirrowDataByte;
        for (int32_t i = 0; i < Bits; ++i)
            if (Tdi[First + i] != 0)
                data |= static_cast<uint8_t>(1 << i);
        previous = captured;
        return PutByte(data) && QueueDeviceTime(Bits * bitNs);
    });
    if (!queued)
        return CutByStop;
    return PutByte(MirrowPinCommand) && PutByte(0xCA);
}

ReadResult TJtagExecuter::MirrowReadTdo(uint8_t* Tdo, const uint8_t* Capture, int32_t Count)
{
    if (Count <= 0)
        return ReadResult::Ready;
    int32_t needed = 0;
    ForEachMirrowChunk(Count, [&](int32_t First, int32_t Bits, bool) {
        needed += Captured(Capture, First, Bits) ? 1 : 0;
        return true;
    });
    if (needed == 0)
        return ReadResult::Ready;
    // The replies of a write that failed are owed by nobody.
    if (CableFailed)
        return ReadResult::CommError;
    if (CutByStop)
        return ReadResult::NotYet;
    const int32_t available = RxAvailableFor(needed);
    if (available == -1)
        return ReadResult::CommError;
    if (available < needed)
        // Replies owed by bytes written get the device's time and then
        // some; a cable that stays silent beyond that is gone.
        return PendingReplies >= needed && RepliesOverdue() ? ReadResult::CommError : ReadResult::NotYet;
    // A short scan's replies on the stack: no allocation per read.
    uint8_t few[64];
    std::vector<uint8_t> many;
    uint8_t* replies = few;
    if (needed > static_cast<int32_t>(sizeof few)) {
        many.resize(static_cast<size_t>(needed));
        replies = many.data();
    }
    if (RxTake(replies, needed) <= 0)
        return ReadResult::CommError;
    PendingReplies = std::max(PendingReplies - needed, 0);
    size_t next = 0;
    ForEachMirrowChunk(Count, [&](int32_t First, int32_t Bits, bool) {
        if (Captured(Capture, First, Bits)) {
            const uint8_t v = static_cast<uint8_t>(replies[next++] >> (7 - Bits));
            for (int32_t i = 0; i < Bits; ++i)
                Tdo[First + i] = (v >> i) & 1;
        }
        return true;
    });
    return ReadResult::Ready;
}

bool TJtagExecuter::MirrowTmsClock(bool Tdi, bool Tms)
{
    const uint8_t t = Tdi ? 1 : 0;
    const uint8_t m = Tms ? 4 : 0;
    const int64_t fillers = std::max(ClockRepeat, 0);
    // The clock's bytes in one go where they fit with room to spare, as the
    // calls below would queue them with no flush between.
    if (fillers <= 16 && OutCount + 5 + 2 * fillers + 16 < OutBufferSize) {
        uint8_t* out = OutBuffer.data() + OutCount;
        // The clock's own bytes overwrite what a fill stores beyond it.
        const auto fill = [&](uint8_t Value) {
            StoreSixteen(out, Value);
            out += fillers;
        };
        *out++ = MirrowPinCommand;
        *out++ = static_cast<uint8_t>(0x8A | t);
        *out++ = static_cast<uint8_t>(MirrowTmsPin | m);
        fill(static_cast<uint8_t>(0x98 | m));
        *out++ = static_cast<uint8_t>(0xCE | t);
        fill(static_cast<uint8_t>(0x8A | t));
        *out++ = static_cast<uint8_t>(0xCA | t);
        OutCount = static_cast<uint32_t>(out - OutBuffer.data());
        return QueueClockPeriod();
    }
    return PutByte(MirrowPinCommand) && PutByte(0x8A | t) && PutByte(MirrowTmsPin | m) &&
           PutRepeated(0x98 | m, fillers) && PutByte(0xCE | t) && PutRepeated(0x8A | t, fillers) &&
           PutByte(0xCA | t) && QueueClockPeriod();
}

bool TJtagExecuter::MirrowTrst(bool, bool)
{
    // The P pin used as TRST stays released: the cable has no TRST line.
    // Said once a run, not at every statement of a long file.
    if (MirrowPActive == 3 && !MirrowTrstWarned) {
        MirrowTrstWarned = true;
        Message("Warning: TRST pin disabled but SVF file contains TRST command", MessageKind::Warning);
    }
    return true;
}

int32_t TJtagExecuter::MirrowSetFrequency(int32_t Hz, bool Apply)
{
    // No frequency at all: the clock in force stays, and so does the design's.
    if (Hz <= 0)
        return CurrentFrequency;
    DesignFrequency = Hz;
    const int32_t f = RequestedFrequency(Hz, Apply);
    const int32_t index = MirrowFreqIndexFor(f);
    ClockRepeat = std::max(30000000 / f, 1);
    CurrentFrequency = MirrowFreqTable[index];
    if (!PutByte(MirrowClockCommand) || !PutByte(static_cast<uint8_t>(0x80 | index)))
        return -1;
    int32_t fastFrom = INT32_MAX;
    switch (FreqToFast) {
    case 1:
        fastFrom = 15000000;
        break;
    case 2:
        fastFrom = 10000000;
        break;
    case 3:
        fastFrom = 5000000;
        break;
    case 4:
        fastFrom = 3000000;
        break;
    default:
        break;
    }
    const bool fast = CurrentFrequency >= fastFrom;
    if (!PutByte(fast ? 0xB2 : 0xA2))
        return -1;
    MirrowFreqIndex = index;
    if (Apply)
        Message("Info: TCK frequency set to " + IntToStrGrouped(CurrentFrequency) +
                    (fast ? " Hz, using FAST MODE" : " Hz, using SPI MODE 0"),
                MessageKind::Info);
    return CurrentFrequency;
}

bool TJtagExecuter::MirrowWait(int64_t Nanoseconds, bool Counted)
{
    if (Nanoseconds <= 0)
        return true;
    int64_t n = static_cast<int64_t>(static_cast<__int128>(Nanoseconds) * 3 / 50);
    while (n >= LongWaitFrom) {
        if (!PutByte(0x12) || !PutByte(0x8F) || !PutByte(0xFF))
            return false;
        n -= LongWaitTicks;
        if (Counted && !QueueDeviceTime(LongWaitTicks * TickThirds / 3))
            return CutByStop;
    }
    // What is left is shorter than a long wait, but many short waits make
    // a slice too.
    const uint64_t restNs = static_cast<uint64_t>(std::max<int64_t>(n, 0)) * TickThirds / 3;
    while (n > 0) {
        if (n >= 32) {
            int64_t m = n / 4;
            int e = 0;
            while (m >= 16) {
                m /= 2;
                ++e;
            }
            if (!PutByte(0x12) || !PutByte(0x8F) || !PutByte(static_cast<uint8_t>(0x80 | (e << 3) | (m & 7))))
                return false;
            n -= m * (int64_t{4} << e) + 3;
        } else {
            const int64_t k = std::min<int64_t>(n - 1, 15);
            if (!PutByte(static_cast<uint8_t>(0x50 | k)))
                return false;
            n -= k + 1;
        }
    }
    return !Counted || QueueDeviceTime(restNs) || CutByStop;
}
