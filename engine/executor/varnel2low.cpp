#include "executor/varnel2low.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "resource.h"
#include "ticks.h"

void EncodeRegisterPacket(uint8_t Register, uint16_t Value, TRegisterPacket& Packet)
{
    const uint32_t word = (uint32_t{Value} << 8) | Register;
    Packet[0] = 0x21;
    Packet[1] = static_cast<uint8_t>(0x80 | ((word >> 21) & 0x07));
    Packet[2] = static_cast<uint8_t>(0x80 | ((word >> 14) & 0x7F));
    Packet[3] = static_cast<uint8_t>(0x80 | ((word >> 7) & 0x7F));
    Packet[4] = static_cast<uint8_t>(0x80 | (word & 0x7F));
}

namespace {

constexpr UCHAR ModeReset = 0x00;
constexpr UCHAR ModeMpsse = 0x02;
constexpr UCHAR ModeCbus = 0x20;
constexpr UCHAR ModeSyncFifo = 0x40;
constexpr UCHAR ConfigDone = 0x08;
constexpr size_t ImageBlock = 65536;
constexpr uint32_t RxWaitMs = 1000;
constexpr uint32_t CalibrationWaitMs = 1000;
constexpr int CalibrationBytes = 36;
constexpr uint8_t CalibrationFirstAddress = 32;

bool WriteAll(FT_HANDLE Handle, const uint8_t* Data, size_t Count)
{
    DWORD written = 0;
    return FtWrite(Handle, Data, static_cast<DWORD>(Count), written) == FT_OK;
}

// True once at least N bytes wait in the driver, within a second.
bool WaitRxCount(FT_HANDLE Handle, DWORD N)
{
    const uint32_t start = platform::GetTickCount();
    DWORD queued = 0;
    if (FtGetQueueStatus(Handle, queued) != FT_OK)
        return false;
    while (queued < N && platform::GetTickCount() - start < RxWaitMs) {
        platform::Sleep(10);
        if (FtGetQueueStatus(Handle, queued) != FT_OK)
            return false;
    }
    return queued >= N;
}

bool WaitRxAny(FT_HANDLE Handle)
{
    return WaitRxCount(Handle, 1);
}

// Waits for one byte and reads it (its value is not looked at).
bool TakeOneByte(FT_HANDLE Handle)
{
    uint8_t scratch = 0;
    DWORD read = 0;
    return WaitRxAny(Handle) && FtRead(Handle, &scratch, 1, read) == FT_OK;
}

bool DrainInput(FT_HANDLE Handle)
{
    DWORD queued = 0;
    if (FtGetQueueStatus(Handle, queued) != FT_OK)
        return false;
    std::vector<uint8_t> scratch(4096);
    while (queued > 0) {
        DWORD read = 0;
        // A read that takes nothing of what is queued would never end.
        if (FtRead(Handle, scratch.data(), std::min<DWORD>(queued, 4096), read) != FT_OK || read == 0)
            return false;
        if (FtGetQueueStatus(Handle, queued) != FT_OK)
            return false;
    }
    return true;
}

// The upload from the MPSSE set-up to the done bit; the caller sets the
// chip to FIFO mode afterwards, whatever the result.
bool ConfigureFpga(FT_HANDLE Handle, const uint8_t* Data, size_t Length)
{
    FtSetBitMode(Handle, 0, ModeReset);
    FtSetBitMode(Handle, 0, ModeMpsse);
    if (!DrainInput(Handle))
        return false;

    // A bad command answers 0xFA and the command: the engine listens.
    const uint8_t bad[] = {0xAB};
    if (!WriteAll(Handle, bad, sizeof bad) || !WaitRxCount(Handle, 2))
        return false;
    DWORD queued = 0;
    if (FtGetQueueStatus(Handle, queued) != FT_OK || queued > 2)
        return false;
    uint8_t echo[2] = {};
    DWORD read = 0;
    if (FtRead(Handle, echo, 2, read) != FT_OK || read != 2 || echo[0] != 0xFA || echo[1] != 0xAB)
        return false;

    // Low byte: bit 0 high, bits 0-1 outputs; high byte: bit 7 an output,
    // low (the FPGA's program line); full clock rate.
    const uint8_t setup[] = {0x80, 0x01, 0x03, 0x82, 0x00, 0x80, 0x81, 0x87, 0x86, 0x00, 0x00, 0x8A};
    if (!WriteAll(Handle, setup, sizeof setup) || !TakeOneByte(Handle))
        return false;
    platform::Sleep(1);
    // The program line back high: the FPGA waits for its image.
    const uint8_t release[] = {0x82, 0x80, 0x80, 0x81, 0x87};
    if (!WriteAll(Handle, release, sizeof release) || !TakeOneByte(Handle))
        return false;
    platform::Sleep(10);

    std::vector<uint8_t> block;
    block.reserve(ImageBlock + 3);
    for (size_t done = 0; done < Length;) {
        const size_t n = std::min(Length - done, ImageBlock);
        block.assign({0x10, static_cast<uint8_t>((n - 1) & 0xFF), static_cast<uint8_t>(((n - 1) >> 8) & 0xFF)});
        block.insert(block.end(), Data + done, Data + done + n);
        if (!WriteAll(Handle, block.data(), block.size()))
            return false;
        done += n;
    }
    const uint8_t readPins[] = {0x81, 0x87};
    if (!WriteAll(Handle, readPins, sizeof readPins) || !TakeOneByte(Handle))
        return false;

    UCHAR pins = 0;
    if (FtSetBitMode(Handle, 0, ModeCbus) != FT_OK || FtGetBitMode(Handle, pins) != FT_OK)
        return false;
    return (pins & ConfigDone) != 0;
}

} // namespace

bool UploadFpgaImage(FT_HANDLE Handle, const uint8_t* Data, size_t Length)
{
    if (FtResetDevice(Handle) != FT_OK)
        return false;
    // Every way out, a time-out included, ends in FIFO mode.
    const bool done = ConfigureFpga(Handle, Data, Length);
    FtSetBitMode(Handle, 0, ModeSyncFifo);
    return done;
}

bool LoadFpgaImage(FT_HANDLE Handle, const char* Resource)
{
    platform::TResourceStream stream;
    if (!stream.Open(Resource))
        return false;
    std::vector<uint8_t> image(stream.Size());
    if (stream.Read(image.data(), image.size()) != image.size())
        return false;
    return UploadFpgaImage(Handle, image.data(), image.size());
}

bool DecodeCalibration(const uint8_t (&Replies)[72], TMirrowCalibration& Cal)
{
    uint8_t bytes[CalibrationBytes];
    for (int i = 0; i < CalibrationBytes; ++i) {
        const uint8_t p0 = Replies[2 * i];
        const uint8_t p1 = Replies[2 * i + 1];
        if ((p0 & 0x80) || (p1 & 0x80))
            return false;
        bytes[i] = static_cast<uint8_t>((p0 & 0x7F) | ((p1 & 1) << 7));
    }
    static constexpr int Offsets[10] = {8, 10, 16, 18, 20, 22, 24, 26, 28, 30};
    for (int v = 0; v < 10; ++v)
        Cal.Values[v] = static_cast<int16_t>(bytes[Offsets[v]] | (bytes[Offsets[v] + 1] << 8));
    return true;
}

bool ReadCalibration(TMirrowCalibration& Cal, FT_HANDLE Handle)
{
    std::vector<uint8_t> request;
    request.reserve(CalibrationBytes * 6);
    for (int i = 0; i < CalibrationBytes; ++i) {
        TRegisterPacket packet;
        EncodeRegisterPacket(0x93, static_cast<uint16_t>(CalibrationFirstAddress + i), packet);
        request.insert(request.end(), packet.begin(), packet.end());
        request.push_back(0x25);
    }
    if (!WriteAll(Handle, request.data(), request.size()))
        return false;
    // From 0: a status query that fails leaves nothing counted, and the
    // wait ends at its deadline.
    const uint32_t start = platform::GetTickCount();
    DWORD queued = 0;
    FtGetQueueStatus(Handle, queued);
    while (queued < 72) {
        if (platform::GetTickCount() - start >= CalibrationWaitMs)
            return false;
        platform::Sleep(5);
        queued = 0;
        FtGetQueueStatus(Handle, queued);
    }
    uint8_t replies[72];
    DWORD read = 0;
    if (FtRead(Handle, replies, sizeof replies, read) != FT_OK || read != sizeof replies)
        return false;
    return DecodeCalibration(replies, Cal);
}

bool CalibrationUsable(const TMirrowCalibration& Cal)
{
    return Cal.Values[CalibrationAdc0V] != Cal.Values[CalibrationAdc5V];
}

long double LinearInterpolate(long double X1, long double Y1, long double X2, long double Y2, long double X)
{
    return Y1 + (Y2 - Y1) / (X2 - X1) * (X - X1);
}

int32_t ClampInt(int32_t Lo, int32_t Hi, int32_t Value)
{
    if (Value < Lo)
        Value = Lo;
    if (Value > Hi)
        Value = Hi;
    return Value;
}

float AdcToVolts(const TMirrowCalibration& Cal, int32_t Code)
{
    return static_cast<float>(
        LinearInterpolate(Cal.Values[CalibrationAdc0V], 0.0L, Cal.Values[CalibrationAdc5V], 5.0L, Code));
}

int32_t VoltsToDac(const TMirrowCalibration& Cal, float Volts)
{
    long double n = LinearInterpolate(0.0L, Cal.Values[CalibrationDac0V], 5.0L, Cal.Values[CalibrationDac5V], Volts);
    // Clamped while still a float: a code far outside the range, or no
    // number at all, must not reach the integer conversion.
    if (!(n >= 0.0L))
        n = 0.0L;
    if (n > 4095.0L)
        n = 4095.0L;
    return ClampInt(0, 4095, static_cast<int32_t>(std::nearbyint(n)));
}
