#include "cables/mirrow.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "scenario/trace.h"

namespace sim {

using nlohmann::json;

namespace {

// TCK divisors of 30 MHz by table index (1..31).
constexpr uint32_t Divisors[32] = {0,   2,   3,   4,   5,   6,   8,   9,   10,  12,  15,  20,  30,  40,  50,  60,
                                   75,  80,  90,  100, 120, 150, 200, 250, 300, 375, 500, 600, 750, 800, 900, 1000};

uint32_t Crc32Step(uint32_t Crc, uint8_t Byte)
{
    // By table: every run checks an image of some 130 kB.
    static const auto Table = [] {
        std::array<uint32_t, 256> table{};
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int i = 0; i < 8; ++i)
                c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
            table[n] = c;
        }
        return table;
    }();
    return (Crc >> 8) ^ Table[(Crc ^ Byte) & 0xFF];
}

// The first byte from From on that is no operand (bit 7 clear), or End.
const uint8_t* OperandsEnd(const uint8_t* From, const uint8_t* End)
{
    // A word at a time: the first byte whose top bit is clear ends the run.
    while (End - From >= 8) {
        uint64_t word;
        std::memcpy(&word, From, sizeof word);
        if (const uint64_t commands = ~word & 0x8080808080808080ull)
            return From + (__builtin_ctzll(commands) >> 3);
        From += 8;
    }
    return std::find_if(From, End, [](uint8_t Byte) { return Byte < 0x80; });
}

std::string Hex16(uint64_t Value, int Digits)
{
    char text[24];
    std::snprintf(text, sizeof text, "%0*llX", Digits, static_cast<unsigned long long>(Value));
    return text;
}

std::string Volts(double V)
{
    char text[24];
    std::snprintf(text, sizeof text, "%.2f", V);
    return text;
}

int ConfigInt(const json& Object, const char* Key, int Default, const std::string& What)
{
    if (!Object.contains(Key))
        return Default;
    const json& v = Object.at(Key);
    if (!v.is_number_integer())
        throw ConfigError(What + "." + Key + ": an integer is wanted");
    return v.get<int>();
}

} // namespace

MirrowProtocol::MirrowProtocol(const json& Device)
    : CableProtocol("mirrow", Device),
      FMask(TraceMask::FromJson(Device)),
      FChain(Chain::DevicesOf(Device), Who(), FMask)
{
    FChain.SetTdoFault(FaultConfig().WrongTdo);
    if (Device.is_object() && Device.contains("p")) {
        const json& p = Device.at("p");
        if (p == "trst")
            FPIsTrst = true;
        else if (p != "none")
            throw ConfigError("p: \"none\" or \"trst\" is wanted");
    }
    if (Device.is_object() && Device.contains("fpga")) {
        const json& f = Device.at("fpga");
        ConfigKeys(f, {"sync", "never_done"}, "fpga");
        if (f.contains("sync")) {
            const json& s = f.at("sync");
            if (s == "silent")
                FSyncFault = SyncFault::Silent;
            else if (s == "wrong")
                FSyncFault = SyncFault::Wrong;
            else if (s == "extra")
                FSyncFault = SyncFault::Extra;
            else
                throw ConfigError("fpga.sync: \"silent\", \"wrong\" or \"extra\" is wanted");
        }
        FNeverDone = f.value("never_done", false);
    }
    if (Device.is_object() && Device.contains("calibration")) {
        const json& c = Device.at("calibration");
        ConfigKeys(c, {"adc_0v", "adc_5v", "dac_0v", "dac_5v", "bad_pair", "replies"}, "calibration");
        FAdc0 = ConfigInt(c, "adc_0v", FAdc0, "calibration");
        FAdc5 = ConfigInt(c, "adc_5v", FAdc5, "calibration");
        FDac0 = ConfigInt(c, "dac_0v", FDac0, "calibration");
        FDac5 = ConfigInt(c, "dac_5v", FDac5, "calibration");
        if (c.contains("bad_pair"))
            FBadPair = ConfigUnsigned(c.at("bad_pair"), "calibration.bad_pair");
        if (c.contains("replies"))
            FCalibrationReplies = ConfigUnsigned(c.at("replies"), "calibration.replies");
    }
    if (Device.is_object() && Device.contains("target")) {
        const json& t = Device.at("target");
        ConfigKeys(t, {"supply", "volts", "overcurrent", "error_code"}, "target");
        const std::string supply = t.value("supply", std::string("target"));
        if (supply == "target")
            FSupply = Supply::Target;
        else if (supply == "cable")
            FSupply = Supply::Cable;
        else if (supply == "off")
            FSupply = Supply::Off;
        else
            throw ConfigError("target.supply: \"target\", \"cable\" or \"off\" is wanted");
        if (t.contains("volts")) {
            if (!t.at("volts").is_number())
                throw ConfigError("target.volts: a number is wanted");
            FTargetVolts = t.at("volts").get<double>();
        }
        FOvercurrent = t.value("overcurrent", false);
        if (t.contains("error_code"))
            FErrorCode = static_cast<uint8_t>(ConfigUnsigned(t.at("error_code"), "target.error_code") & 0x7F);
    }
    // The calibration memory: made-up bytes, the four points at their
    // places (16-bit little endian from byte 16, 18, 24, 26).
    for (int i = 0; i < 36; ++i)
        FCalibration[i] = static_cast<uint8_t>(0x30 + 7 * i);
    const auto put16 = [this](int At, int Value) {
        FCalibration[At] = static_cast<uint8_t>(Value & 0xFF);
        FCalibration[At + 1] = static_cast<uint8_t>((Value >> 8) & 0xFF);
    };
    put16(16, FAdc0);
    put16(18, FAdc5);
    put16(24, FDac0);
    put16(26, FDac5);
}

// ---- the FTDI chip

bool MirrowProtocol::SetBitMode(uint8_t Mask, uint8_t Mode)
{
    Protocol::SetBitMode(Mask, Mode);
    EndWaits();
    FMode = Mode;
    if (Mode == 0x00) {
        FMpsseCommand = 0;
        FMpsseOperands.clear();
        FMpsseData = 0;
    }
    if (Mode == 0x20 && FReceiving)
        TraceEvent("fpga image bytes=" + std::to_string(FImageBytes) + " crc=" + Hex16(FImageCrc ^ 0xFFFFFFFF, 8) +
                   " done=" + (ImageComplete() ? "1" : "0"));
    if (Mode == 0x20 || Mode == 0x40)
        FConfigured = ImageComplete();
    if (Mode == 0x40) {
        FCommand = 0x11;
        FOperands = 0;
    }
    return true;
}

uint8_t MirrowProtocol::GetBitMode()
{
    // CBUS bit 3: the FPGA's configuration done.
    return FMode == 0x20 && FConfigured ? 0x08 : 0x00;
}

void MirrowProtocol::ResetDevice()
{
    Purge();
}

void MirrowProtocol::SessionOpened()
{
    FCalibrationSent = 0;
}

void MirrowProtocol::SessionClosed()
{
    if (!Fast())
        EndWaits();
    if (FPowerOn && !Present()) {
        FPowerOn = false;
        TraceEvent("power off unplugged");
    }
    if (!Fast())
        FChain.EndOfSession();
}

void MirrowProtocol::FastExecute(const uint8_t* Data, size_t Count)
{
    TReplyBatch replies(*this);
    // Outside FIFO mode (the image's upload) the bytes go as the device
    // takes them, the block at once: no data byte changes the mode.
    if (FMode != 0x40) {
        Execute(Data, Count);
        return;
    }
    // Only what goes through Execute changes the image's state.
    bool fifo = FConfigured;
    for (size_t i = 0; i < Count; ++i) {
        const uint8_t b = Data[i];
        const bool shift = (FCommand & 0xF0) == 0x40;
        if (fifo && (b & 0x80) && (shift || FCommand == 0x20 || FCommand == 0x12 || (FCommand & 0xF0) == 0x50)) {
            if (!shift || !(FCommand & 0x08)) {
                // Operands that answer nothing, as a TMS clock's pin bytes:
                // the run of them at once.
                const size_t end = static_cast<size_t>(OperandsEnd(Data + i + 1, Data + Count) - Data);
                FOperands += static_cast<uint32_t>(end - i);
                FOffset += end - i;
                i = end - 1;
                continue;
            }
            // A captured shift's data byte answers its bits, all 1, at 7-n .. 6.
            const uint32_t k = FOperands++;
            const unsigned bits = k == 0 ? (FCommand & 7) + 1u : 7u;
            replies.Add(static_cast<uint8_t>(((1u << bits) - 1) << (7 - bits)));
        } else if (fifo && !(b & 0x80) &&
                   (b == 0x11 || b == 0x12 || b == 0x20 || (b & 0xF0) == 0x40 || (b & 0xF0) == 0x50)) {
            FCommand = b;
            FOperands = 0;
        } else {
            // Everything else as the device does it, after the replies so far.
            replies.Send();
            Execute(&b, 1);
            fifo = FConfigured;
            continue;
        }
        ++FOffset;
    }
}

bool MirrowProtocol::ImageComplete() const
{
    return FReceiving && !FNeverDone && FImageBytes == ImageLength && (FImageCrc ^ 0xFFFFFFFF) == ImageCrc;
}

void MirrowProtocol::Execute(const uint8_t* Data, size_t Count)
{
    for (size_t i = 0; i < Count; ++i) {
        if (FMode == 0x02)
            Mpsse(Data[i]);
        else if (FMode == 0x40)
            Fifo(Data[i]);
        else
            Error(Data[i], "no bit mode for data");
        ++FOffset;
    }
}

void MirrowProtocol::Mpsse(uint8_t Byte)
{
    if (FMpsseData > 0) {
        --FMpsseData;
        ImageByte(Byte);
        return;
    }
    if (FMpsseCommand == 0) {
        FMpsseCommand = Byte;
        FMpsseOperands.clear();
    } else {
        FMpsseOperands.push_back(Byte);
    }
    size_t needed = 0;
    switch (FMpsseCommand) {
    case 0x80:
    case 0x82:
    case 0x86:
    case 0x10:
        needed = 2;
        break;
    default:
        break;
    }
    if (FMpsseOperands.size() < needed)
        return;
    const uint8_t command = FMpsseCommand;
    FMpsseCommand = 0;
    MpsseCommand(command, FMpsseOperands);
}

void MirrowProtocol::MpsseCommand(uint8_t Command, const std::vector<uint8_t>& Operands)
{
    switch (Command) {
    case 0x80:
        FLowBits = Operands[0];
        return;
    case 0x82:
        FHighBits = Operands[0];
        if (Operands[1] & 0x80)
            ProgramLine(Operands[0] & 0x80);
        return;
    case 0x81:
        Reply(FLowBits);
        return;
    case 0x83:
        Reply(FHighBits);
        return;
    case 0x10:
        FMpsseData = (uint64_t{Operands[1]} << 8 | Operands[0]) + 1;
        return;
    case 0x85:
    case 0x86:
    case 0x87:
    case 0x8A:
    case 0x8B:
    case 0x8D:
        return;
    default:
        break;
    }
    // The engine's answer to a command it does not know.
    switch (FSyncFault) {
    case SyncFault::Silent:
        TraceEvent("fault sync silent byte=" + HexByte(Command));
        return;
    case SyncFault::Wrong:
        TraceEvent("fault sync wrong byte=" + HexByte(Command));
        Reply(0xFA);
        Reply(static_cast<uint8_t>(Command ^ 0x01));
        return;
    case SyncFault::Extra:
        TraceEvent("fault sync extra byte=" + HexByte(Command));
        Reply(0xFA);
        Reply(Command);
        Reply(0x00);
        return;
    case SyncFault::None:
        Reply(0xFA);
        Reply(Command);
        return;
    }
}

void MirrowProtocol::ProgramLine(bool High)
{
    if (!High) {
        if (!FProgramLow)
            TraceEvent("fpga program");
        FProgramLow = true;
        FReceiving = false;
        FConfigured = false;
        if (FPowerOn) {
            FPowerOn = false;
            TraceEvent("power off");
        }
        return;
    }
    if (FProgramLow) {
        FProgramLow = false;
        FReceiving = true;
        FImageBytes = 0;
        FImageCrc = 0xFFFFFFFF;
    }
}

void MirrowProtocol::ImageByte(uint8_t Byte)
{
    if (!FReceiving)
        return;
    ++FImageBytes;
    FImageCrc = Crc32Step(FImageCrc, Byte);
}

// ---- the FPGA

void MirrowProtocol::Error(uint8_t Byte, const std::string& What)
{
    ++FErrors;
    TraceEvent("error byte=" + HexByte(Byte) + " at=" + std::to_string(FOffset) + " " + What);
}

void MirrowProtocol::Fifo(uint8_t Byte)
{
    if (!FConfigured) {
        if (!FUnconfiguredSeen)
            TraceEvent("fpga unconfigured");
        FUnconfiguredSeen = true;
        return;
    }
    FUnconfiguredSeen = false;
    if (Byte & 0x80)
        Operand(Byte);
    else
        Command(Byte);
}

void MirrowProtocol::Command(uint8_t Byte)
{
    const bool waits = Byte == 0x12 || (Byte & 0xF0) == 0x50;
    if (!waits)
        EndWaits();
    FCommand = Byte;
    FOperands = 0;
    FChain.Elapse(TickTicks);
    switch (Byte) {
    case 0x11:
    case 0x12:
    case 0x13:
    case 0x14:
    case 0x15:
    case 0x20:
    case 0x21:
    case 0x29:
        return;
    case 0x25:
        CalibrationRead();
        return;
    default:
        break;
    }
    if ((Byte & 0xF0) == 0x40)
        return;
    if ((Byte & 0xF0) == 0x50) {
        DeviceWait(Byte & 0x0F);
        return;
    }
    Error(Byte, "undefined command");
    FCommand = 0x11;
}

void MirrowProtocol::Operand(uint8_t Byte)
{
    const uint32_t n = FOperands++;
    const uint8_t c = FCommand;
    if ((c & 0xF0) != 0x40 && c != 0x12)
        EndWaits();
    FChain.Elapse(TickTicks);
    const auto stray = [&] { Error(Byte, "operand without a command"); };
    switch (c) {
    case 0x12:
        if (n == 0) {
            if (Byte != 0x8F)
                Error(Byte, "wait operand");
        } else if (n == 1) {
            const uint64_t m = (Byte & 7) + 8;
            const uint64_t e = (Byte >> 3) & 0x0F;
            DeviceWait(m * 4 << e);
        } else {
            stray();
        }
        return;
    case 0x13:
        if (n < 2)
            FArgs[n] = Byte;
        if (n == 1) {
            FDac = static_cast<uint16_t>((FArgs[0] & 0x1F) << 7 | (FArgs[1] & 0x7F));
        } else if (n > 1) {
            stray();
        }
        return;
    case 0x14:
        if (n == 0 && Byte >= 0x81 && Byte <= 0x9F) {
            FClockIndex = Byte & 0x1F;
            if (FMask.Clock) {
                // A run's waits switch the clock twice each: no string is
                // built piece by piece for every line.
                char line[64] = "clock index=";
                char* end = std::to_chars(line + 12, line + 24, FClockIndex).ptr;
                end = std::copy_n(" hz=", 4, end);
                end = std::to_chars(end, line + sizeof line, 30000000 / Divisors[FClockIndex]).ptr;
                TraceEvent(std::string_view(line, static_cast<size_t>(end - line)));
            }
        } else if (n == 1 && (Byte == 0xB2 || Byte == 0xA2)) {
            if (FMask.Clock)
                TraceEvent(std::string("clock mode=") + (Byte == 0xB2 ? "fast" : "spi0"));
        } else {
            Error(Byte, "clock operand");
        }
        return;
    case 0x15:
        if (n != 0 || Byte != 0x91)
            Error(Byte, "set-up operand");
        return;
    case 0x20:
        Pins(Byte);
        return;
    case 0x21:
        if (n < 4)
            FArgs[n] = Byte;
        if (n == 3) {
            const uint32_t w = uint32_t{FArgs[0] & 7u} << 21 | uint32_t{FArgs[1] & 0x7Fu} << 14 |
                               uint32_t{FArgs[2] & 0x7Fu} << 7 | (FArgs[3] & 0x7Fu);
            WriteRegister(static_cast<uint8_t>(w & 0xFF), static_cast<uint16_t>(w >> 8));
        } else if (n > 3) {
            stray();
        }
        return;
    case 0x29:
        if (n == 0 && Byte == 0x80)
            Measure();
        else
            Error(Byte, "measure operand");
        return;
    default:
        break;
    }
    if ((c & 0xF0) == 0x40) {
        ShiftData(Byte, n == 0 ? (c & 7) + 1u : 7u, c & 0x08);
        return;
    }
    stray();
}

void MirrowProtocol::Pins(uint8_t Byte)
{
    const bool set = Byte & 0x40;
    switch ((Byte >> 4) & 3) {
    case 0:
        if (set) {
            FChain.SetTdi(Byte & 1);
            FChain.SetTck(Byte & 4);
        } else if (!(Byte & 0x08) && FMask.Pins) {
            TraceEvent("pin jtag=z");
        }
        return;
    case 1:
        if (set)
            FChain.SetTms(Byte & 4);
        else if (!(Byte & 0x08) && FMask.Pins)
            TraceEvent("pin tms=z");
        return;
    case 2: {
        const uint8_t p = Byte & 3;
        if (p != FPin && FMask.Pins)
            TraceEvent(std::string("pin p=") + (p & 2 ? (p & 1 ? "1" : "0") : "z"));
        FPin = p;
        if (FPIsTrst)
            FChain.SetTrst(p & 2 ? (p & 1 ? Drive::High : Drive::Low) : Drive::Released);
        return;
    }
    default:
        if (Byte == 0xF0)
            TraceEvent("park");
        else
            Error(Byte, "pin byte");
        return;
    }
}

double MirrowProtocol::Vdd() const
{
    switch (FSupply) {
    case Supply::Target:
        return FTargetVolts;
    case Supply::Cable:
        if (!Powered() || FDac5 == FDac0)
            return 0.0;
        return std::max(0.0, 5.0 * (FDac - FDac0) / (FDac5 - FDac0));
    case Supply::Off:
    default:
        return 0.0;
    }
}

void MirrowProtocol::SetPower(bool On)
{
    if (On == FPowerOn)
        return;
    FPowerOn = On;
    TraceEvent(On ? "power on vdd=" + Volts(Vdd()) : std::string("power off"));
}

void MirrowProtocol::WriteRegister(uint8_t R, uint16_t V)
{
    FRegisterValues[R] = V;
    // The calibration address changes 36 times an open: not worth a line.
    if (R != 0x93)
        TraceEvent("register r=" + HexByte(R) + " value=" + Hex16(V, 4));
    if (R == 0x94) {
        if (V == 2) {
            SetPower(true);
        } else {
            SetPower(false);
            if (V == 0x23)
                TraceEvent("power target");
        }
    }
}

void MirrowProtocol::CalibrationRead()
{
    const uint16_t address = FRegisterValues[0x93];
    const uint8_t b = address >= 32 && address < 68 ? FCalibration[address - 32] : 0;
    uint8_t p0 = b & 0x7F;
    const uint8_t p1 = b >> 7;
    if (FBadPair && address == 32 + *FBadPair) {
        p0 |= 0x80;
        TraceEvent("fault calibration bad pair=" + std::to_string(*FBadPair));
    }
    for (uint8_t r : {p0, p1}) {
        if (FCalibrationReplies && FCalibrationSent >= *FCalibrationReplies) {
            if (FCalibrationSent == *FCalibrationReplies)
                TraceEvent("fault calibration replies=" + std::to_string(*FCalibrationReplies));
            ++FCalibrationSent;
            continue;
        }
        ++FCalibrationSent;
        Reply(r);
    }
}

void MirrowProtocol::Measure()
{
    const double v = Vdd();
    const double code = FAdc0 + v / 5.0 * (FAdc5 - FAdc0);
    const unsigned adc = static_cast<unsigned>(std::clamp(std::lround(code), 0L, 4095L));
    uint8_t r0 = static_cast<uint8_t>((adc >> 7) & 0x1F);
    uint8_t r1 = static_cast<uint8_t>(adc & 0x7F);
    std::string error;
    if (FOvercurrent) {
        r0 = 0x82;
        r1 = 0;
        error = " error=82";
    } else if (FErrorCode) {
        r0 = static_cast<uint8_t>(0x80 | *FErrorCode);
        r1 = 0;
        error = " error=" + HexByte(r0);
    }
    TraceEvent("measure volts=" + Volts(v) + " code=" + std::to_string(adc) + error);
    Reply(r0);
    Reply(r1);
}

void MirrowProtocol::ShiftData(uint8_t Byte, unsigned Bits, bool Capture)
{
    const uint64_t half = Divisors[FClockIndex] * TickTicks;
    uint8_t tdo = 0;
    for (unsigned i = 0; i < Bits; ++i)
        if (FChain.Cycle(FChain.Tms(), (Byte >> i) & 1, half, half))
            tdo = static_cast<uint8_t>(tdo | 1u << i);
    // The shifter idles with TCK low (SPI mode 0): every bit is a whole cycle.
    FChain.SetTck(false);
    if (Capture)
        Reply(static_cast<uint8_t>(tdo << (7 - Bits)));
}

void MirrowProtocol::DeviceWait(uint64_t Ticks60)
{
    FChain.Wait(Ticks60 * TickTicks);
    // The wait's own bytes count toward it as well.
    FWaitTicks += Ticks60 + (FCommand == 0x12 ? 3 : 1);
}

void MirrowProtocol::EndWaits()
{
    if (FWaitTicks == 0)
        return;
    if (FMask.Waits)
        TraceEvent("wait ticks=" + std::to_string(FWaitTicks) + " ns=" +
                   std::to_string(FWaitTicks * TickTicks / DeviceClock::TicksPerNs) +
                   " tms=" + (FChain.Tms() ? "1" : "0"));
    FWaitTicks = 0;
}

} // namespace sim
