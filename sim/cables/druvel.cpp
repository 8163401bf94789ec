#include "cables/druvel.h"

#include <algorithm>
#include <array>

#include "scenario/trace.h"

namespace sim {

using nlohmann::json;

namespace {

constexpr uint8_t CableDirection = 0xDB;
constexpr uint8_t BadCommandReply = 0xFA;

// Argument bytes after the opcode (a byte command's data follow them);
// -1 for an opcode this chip model does not know.
int ArgumentsOf(uint8_t Opcode)
{
    switch (Opcode) {
    case 0x80: // value, direction
    case 0x86: // divisor low, high
    case 0x11: // length low, high
    case 0x31:
    case 0x13: // length, data
    case 0x33:
        return 2;
    case 0x87:
    case 0x8A:
    case 0x8B:
        return 0;
    default:
        return -1;
    }
}

} // namespace

DruvelProtocol::DruvelProtocol(const json& Device)
    : CableProtocol("druvel", Device), FMask(TraceMask::FromJson(Device)), FChain(Chain::DevicesOf(Device), Who(), FMask)
{
    FChain.SetTdoFault(FaultConfig().WrongTdo);
}

void DruvelProtocol::SessionClosed()
{
    if (!Fast())
        FChain.EndOfSession();
}

void DruvelProtocol::FastExecute(const uint8_t* Data, size_t Count)
{
    // Commands gathered as Execute gathers them; a read answers every bit
    // with 1 and nothing is clocked.
    TReplyBatch replies(*this);
    const auto reply = [&](uint8_t Byte) { replies.Add(Byte); };
    static const auto Arguments = [] {
        std::array<int8_t, 256> table{};
        for (int b = 0; b < 256; ++b)
            table[static_cast<size_t>(b)] = static_cast<int8_t>(ArgumentsOf(static_cast<uint8_t>(b)));
        return table;
    }();
    // Both arguments are in: a byte command's data follow, a bit read answers.
    const auto argumentsTaken = [&] {
        FInCommand = false;
        if (FOpcode == 0x11 || FOpcode == 0x31) {
            FDataLeft = (FArgs[0] | uint32_t{FArgs[1]} << 8) + 1u;
            FInCommand = true;
        } else if (FOpcode == 0x33) {
            reply(static_cast<uint8_t>((1u << std::min(FArgs[0] + 1, 8)) - 1));
        }
    };
    for (size_t i = 0; i < Count; ++i) {
        const uint8_t b = Data[i];
        if (!FInCommand) {
            const int arguments = Arguments[b];
            if (arguments < 0) {
                reply(BadCommandReply);
                reply(b);
                continue;
            }
            FOpcode = b;
            FArgCount = 0;
            FInCommand = arguments > 0;
            // A command whose arguments are in this block is taken whole.
            if (arguments == 2 && Count - i > 2) {
                FArgs[0] = Data[i + 1];
                FArgs[1] = Data[i + 2];
                FArgCount = 2;
                i += 2;
                argumentsTaken();
            }
        } else if (FArgCount < 2) {
            FArgs[FArgCount++] = b;
            if (FArgCount < 2)
                continue;
            argumentsTaken();
        } else {
            const size_t take = std::min<size_t>(FDataLeft, Count - i);
            if (FOpcode == 0x31)
                for (size_t k = 0; k < take; ++k)
                    reply(0xFF);
            i += take - 1;
            FDataLeft -= static_cast<uint32_t>(take);
            FInCommand = FDataLeft > 0;
        }
    }
}

bool DruvelProtocol::SetBitMode(uint8_t Mask, uint8_t Mode)
{
    if (FMpsse && Mode == 0 && FaultConfig().CloseFails) {
        TraceEvent("fault close-failed");
        return false;
    }
    Protocol::SetBitMode(Mask, Mode);
    FMpsse = Mode == MpsseMode;
    // Entering or leaving MPSSE starts the engine afresh: a command cut
    // short is dropped, the pins are inputs until a pin command.
    FInCommand = false;
    FPinsSet = false;
    if (FMpsse) {
        FDivisor = 0;
        FDivideBy5 = true;
    }
    if (FMask.Clock)
        TraceEvent(std::string("mode ") + (FMpsse ? "mpsse" : Mode == 0 ? "reset" : HexByte(Mode)));
    return true;
}

void DruvelProtocol::Error(const std::string& Text)
{
    ++FErrors;
    TraceEvent("error " + Text);
}

void DruvelProtocol::Execute(const uint8_t* Data, size_t Count)
{
    if (!FMpsse) {
        Error("written=" + std::to_string(Count) + " outside mpsse mode=" + HexByte(BitMode));
        FOffset += Count;
        return;
    }
    for (size_t i = 0; i < Count; ++i) {
        Step(Data[i]);
        ++FOffset;
    }
}

void DruvelProtocol::Step(uint8_t Byte)
{
    if (!FInCommand) {
        Begin(Byte);
    } else if (FArgCount < 2) {
        FArgs[FArgCount++] = Byte;
        if (FArgCount == 2)
            Run();
    } else {
        DataByte(Byte);
    }
}

void DruvelProtocol::Begin(uint8_t Opcode)
{
    const int arguments = ArgumentsOf(Opcode);
    if (arguments < 0) {
        Error("byte=" + HexByte(Opcode) + " at=" + std::to_string(FOffset) + " bad command");
        Reply(BadCommandReply);
        Reply(Opcode);
        return;
    }
    FOpcode = Opcode;
    FArgCount = 0;
    FClockErrorSeen = false;
    FInCommand = true;
    if (arguments == 0)
        Run();
}

void DruvelProtocol::Run()
{
    FInCommand = false;
    switch (FOpcode) {
    case 0x80:
        SetPins(FArgs[0], FArgs[1]);
        break;
    case 0x86:
        FDivisor = FArgs[0] | uint32_t{FArgs[1]} << 8;
        TraceClock();
        break;
    case 0x8A:
    case 0x8B:
        FDivideBy5 = FOpcode == 0x8B;
        TraceClock();
        break;
    case 0x87:
        ++FSendImmediates;
        break;
    case 0x11:
    case 0x31:
        FDataLeft = (FArgs[0] | uint32_t{FArgs[1]} << 8) + 1;
        FInCommand = true;
        break;
    case 0x13:
    case 0x33: {
        const uint8_t in = ClockOut(FArgs[1], (FArgs[0] & 7) + 1u);
        if (FOpcode == 0x33)
            Reply(in);
        break;
    }
    default:
        break;
    }
}

void DruvelProtocol::DataByte(uint8_t Byte)
{
    const uint8_t in = ClockOut(Byte, 8);
    if (FOpcode == 0x31)
        Reply(in);
    if (--FDataLeft == 0)
        FInCommand = false;
}

uint8_t DruvelProtocol::ClockOut(uint8_t Data, unsigned Bits)
{
    const uint64_t period = (uint64_t{FDivisor} + 1) * (FDivideBy5 ? Base6MhzTicks : Base30MhzTicks);
    if (!FPinsSet && !FClockErrorSeen) {
        FClockErrorSeen = true;
        Error("clock at=" + std::to_string(FOffset) + " pins not set");
    }
    unsigned in = 0;
    for (unsigned j = 0; j < Bits; ++j) {
        const bool tdi = Data >> (7 - j) & 1;
        bool tdo = FChain.Tdo();
        if (FPinsSet) {
            tdo = FChain.Cycle(FChain.Tms(), tdi, period / 2, period - period / 2);
            FChain.SetTck(false);
        } else {
            FChain.Elapse(period);
        }
        in = in << 1 | (tdo ? 1u : 0u);
    }
    return static_cast<uint8_t>(in);
}

void DruvelProtocol::SetPins(uint8_t Value, uint8_t Direction)
{
    const std::string where =
        "pins value=" + HexByte(Value) + " dir=" + HexByte(Direction) + " at=" + std::to_string(FOffset);
    if (Direction != CableDirection) {
        Error(where + " wrong direction");
        return;
    }
    if (Value & 0x01) {
        Error(where + " tck high");
        return;
    }
    FChain.SetTms(Value & 0x08);
    FChain.SetTdi(Value & 0x02);
    FPinsSet = true;
}

void DruvelProtocol::TraceClock()
{
    if (FMask.Clock)
        TraceEvent("clock divisor=" + std::to_string(FDivisor) + " tck_hz=" + std::to_string(TckHz()) +
                   (FDivideBy5 ? "" : " divide_by_5=off"));
}

} // namespace sim
