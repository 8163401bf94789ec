#include "cables/varnel.h"

#include "scenario/trace.h"

namespace sim {

using nlohmann::json;

namespace {

// Reply bytes per command, by high nibble: what the host counts with.
constexpr uint8_t RepliesByNibble[16] = {0, 0, 0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0, 1};

bool VppIsTrst(const json& Device)
{
    if (!Device.is_object() || !Device.contains("vpp"))
        return false;
    const json& v = Device.at("vpp");
    if (v == "trst")
        return true;
    if (v == "none")
        return false;
    throw ConfigError("vpp: \"none\" or \"trst\" is wanted");
}

} // namespace

VarnelProtocol::VarnelProtocol(const json& Device)
    : CableProtocol("varnel", Device),
      FMask(TraceMask::FromJson(Device)),
      FChain(Chain::DevicesOf(Device), Who(), FMask),
      FVppIsTrst(VppIsTrst(Device))
{
    FChain.SetTdoFault(FaultConfig().WrongTdo);
}

int VarnelProtocol::FastReply(uint8_t Byte) const
{
    if (!RepliesByNibble[Byte >> 4])
        return -1;
    // A native shift reads one bit a cycle; a pin byte reads TDO in bit 3
    // and the TDI line in bit 4, as the open's probe expects.
    if (Byte < 0x80)
        return (1 << (((Byte >> 4) & 3) + 1)) - 1;
    if ((Byte & 0xF0) == 0xD0)
        return 0x08 | (Byte & 1 ? 0x10 : 0);
    return 0x00;
}

void VarnelProtocol::SessionClosed()
{
    if (Fast())
        return;
    EndWaits();
    FChain.EndOfSession();
}

void VarnelProtocol::Execute(const uint8_t* Data, size_t Count)
{
    for (size_t i = 0; i < Count; ++i) {
        Step(Data[i]);
        ++FOffset;
    }
}

void VarnelProtocol::Step(uint8_t Byte)
{
    if (Byte == 0x80) {
        // The TMS level held and the wait's time go to the stay in force.
        FChain.Wait(WaitTicks);
        ++FWaitRun;
        return;
    }
    EndWaits();
    if (Byte < 0x80)
        NativeShift(Byte);
    else if (Byte >= 0xA8 && Byte <= 0xAB)
        SelectClock(Byte);
    else if (Byte == 0xA3 || Byte == 0xA7 || Byte == 0xB8)
        SetupByte(Byte);
    else if (Byte >= 0xC0 && Byte <= 0xDF)
        PinState(Byte);
    else if (Byte >= 0xE8 && Byte <= 0xEF)
        TmsAux(Byte);
    else
        Undefined(Byte);
}

void VarnelProtocol::SetupByte(uint8_t Byte)
{
    // Set-up and park bytes move no pin of the chain.
    if (FMask.Clock)
        TraceEvent("setup byte=" + HexByte(Byte));
    FChain.Elapse(ByteTicks);
}

void VarnelProtocol::NativeShift(uint8_t Byte)
{
    const unsigned cycles = ((Byte >> 4) & 3) + 1;
    const uint64_t half = FDivider * BasePeriodTicks / 2;
    uint8_t reply = 0;
    for (unsigned j = 0; j < cycles; ++j) {
        const bool tdo = FChain.Cycle(FChain.Tms(), (Byte >> j) & 1, half, half);
        reply = static_cast<uint8_t>(reply | (tdo ? 1u << j : 0u));
    }
    if (Byte & 0x40)
        Reply(reply);
}

void VarnelProtocol::PinState(uint8_t Byte)
{
    FChain.SetTdi(Byte & 1);
    FChain.SetTck(Byte & 4);
    if (Byte & 0x10) {
        const bool tdi = FChain.Tdi();
        uint8_t reply = static_cast<uint8_t>((tdi ? 0x10 : 0) | (FChain.Tdo() ? 0x08 : 0));
        const bool probe = (Byte & 0x0A) == 0;
        const ProbeFault fault = FaultConfig().Probe;
        if (probe && fault == ProbeFault::Silent) {
            TraceEvent("fault probe silent byte=" + HexByte(Byte));
        } else {
            if (probe && fault == ProbeFault::Wrong) {
                reply ^= 0x10;
                TraceEvent("fault probe wrong byte=" + HexByte(Byte) + " reply=" + HexByte(reply));
            }
            Reply(reply);
        }
    }
    FChain.Elapse(ByteTicks);
}

void VarnelProtocol::TmsAux(uint8_t Byte)
{
    FChain.SetTms(Byte & 4);
    const uint8_t aux = Byte & 3;
    if (aux != FAux && FMask.Pins)
        TraceEvent(std::string("pin vpp=") + (aux & 2 ? (aux & 1 ? "1" : "0") : "z"));
    FAux = aux;
    if (FVppIsTrst)
        FChain.SetTrst(aux & 2 ? (aux & 1 ? Drive::High : Drive::Low) : Drive::Released);
    FChain.Elapse(ByteTicks);
}

void VarnelProtocol::SelectClock(uint8_t Byte)
{
    static constexpr uint64_t Dividers[4] = {1, 2, 4, 36};
    FDivider = Dividers[Byte - 0xA8];
    if (FMask.Clock)
        TraceEvent("clock byte=" + HexByte(Byte) + " native_hz=" + std::to_string(NativeHz()));
    FChain.Elapse(ByteTicks);
}

void VarnelProtocol::Undefined(uint8_t Byte)
{
    ++FErrors;
    TraceEvent("error byte=" + HexByte(Byte) + " at=" + std::to_string(FOffset) + " undefined command");
    if (RepliesByNibble[Byte >> 4])
        Reply(0x00);
    FChain.Elapse(ByteTicks);
}

void VarnelProtocol::EndWaits()
{
    if (FWaitRun == 0)
        return;
    if (FMask.Waits)
        TraceEvent("wait bytes=" + std::to_string(FWaitRun) +
                   " ns=" + std::to_string(FWaitRun * WaitTicks / DeviceClock::TicksPerNs) +
                   " tms=" + (FChain.Tms() ? "1" : "0"));
    FWaitRun = 0;
}

} // namespace sim
