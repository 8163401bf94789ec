// The Varnel's own side of its byte protocol: every byte the host writes is
// one command, executed at once on the simulated chain; some answer with
// one byte. The decoder also keeps the device time each byte takes.
//
// Commands (high nibble picks the family; replies as the cable gives them):
//   00-3F  native-clock shift of 1-4 cycles, TMS held: bits 3-0 TDI (bit 0
//          first), bits 5-4 cycles - 1; each cycle TCK low, TDO read, TCK
//          high, so the byte ends with TCK high
//   40-7F  the same, and one reply: bit j = TDO of cycle j, the bits above
//          the cycle count 0
//   80     device-timed wait of 512 periods of the 3 MHz base clock
//   A3 A7 B8  set-up and park bytes: no pin change
//   A8 A9 AA AB  native clock 3 MHz, 1.5 MHz, 750 kHz, 3 MHz / 36 (the
//          low-frequency run-test clock)
//   C0-CF  pins: bit 0 TDI, bit 2 TCK (bits 1 and 3 are taken as they come)
//   D0-DF  the same, then one reply: bit 4 the TDI line read back, bit 3
//          TDO, the rest 0. D0/D1/D4/D5 (bits 1 and 3 clear) are the open's
//          probe: an idle chain answers D1 with 18 and D0 with 08
//   E8-EF  bit 2 TMS, bits 1-0 the auxiliary VPP pin (bit 1 driven, bit 0
//          level)
// Any other byte is a protocol error: it goes to the trace, changes
// nothing, and a byte of the 9x and Fx families still gets its one reply
// (00), since the host counts replies by the high nibble.
//
// Device time: a native cycle is one period of the native clock selected;
// a wait byte 512 base periods; every other byte half a microsecond, so
// that n pin bytes per half period give TCK = 1 MHz / n.
//
// Trace lines besides the chain's (chain.h) and the link's (faults.cpp:
// open, close with the last bytes written, faults):
//   clock byte=AA native_hz=750000, setup byte=A7,
//   wait bytes=7 ns=1194666 tms=0 (a run of wait bytes, when it ends),
//   pin vpp=0|1|z, error byte=81 at=1234 undefined command
//
// Scenario keys of a "varnel" device besides "chain", "trace" (chain.h) and
// "faults" (faults.h):
//   "vpp": "none" | "trst"   what the auxiliary VPP pin is wired to: nothing
//                            (default), or the chain's TRST (driven low
//                            asserts it, released leaves it to its pull-up)
#pragma once

#include <cstddef>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "chain/chain.h"
#include "scenario/faults.h"

namespace sim {

class VarnelProtocol : public CableProtocol {
public:
    static constexpr uint64_t BasePeriodTicks = 1000; // 3 MHz
    static constexpr uint64_t ByteTicks = 1500;       // half a microsecond
    static constexpr uint64_t WaitTicks = 512 * BasePeriodTicks;

    explicit VarnelProtocol(const nlohmann::json& Device);

    Chain* JtagChain() override { return &FChain; }
    Chain& GetChain() { return FChain; }

    // Bytes refused as undefined commands, over the device's life.
    uint64_t ProtocolErrors() const { return FErrors; }
    // The auxiliary pin as the last E8-EF byte left it (bits 1-0).
    uint8_t AuxPin() const { return FAux; }
    // Native TCK clock selected, Hz (3 MHz / the divider).
    uint64_t NativeHz() const { return 3000000 / FDivider; }

protected:
    void Execute(const uint8_t* Data, size_t Count) override;
    int FastReply(uint8_t Byte) const override;
    void SessionClosed() override;
    // A3 A8 Ex C8 written alone.
    bool IsClosingWrite(const uint8_t* Data, size_t Count) const override
    {
        return Count == 4 && Data[0] == 0xA3 && Data[1] == 0xA8 && (Data[2] & 0xF8) == 0xE8 && Data[3] == 0xC8;
    }

private:
    void Step(uint8_t Byte);
    void NativeShift(uint8_t Byte);
    void PinState(uint8_t Byte);
    void TmsAux(uint8_t Byte);
    void SelectClock(uint8_t Byte);
    void SetupByte(uint8_t Byte);
    void Undefined(uint8_t Byte);
    void EndWaits();

    TraceMask FMask;
    Chain FChain;
    bool FVppIsTrst = false;
    uint64_t FDivider = 1; // base periods per native cycle
    uint8_t FAux = 0;
    uint64_t FOffset = 0; // bytes executed, for error positions
    uint64_t FErrors = 0;
    uint64_t FWaitRun = 0; // consecutive wait bytes not yet traced
};

} // namespace sim
