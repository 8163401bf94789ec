// The Druvel's own side: an FTDI chip whose MPSSE engine drives the JTAG
// lines on its low byte (bit 0 TCK, bit 1 TDI, bit 2 TDO in, bit 3 TMS).
// Written from FTDI's published MPSSE command set, for the commands the
// cable's host sends; a command may be split across writes, and the
// decoder keeps its place from one write to the next.
//
// Commands (lengths are sent as length - 1, low byte first):
//   80 value dir  set data bits low byte. The cable wants direction DB
//                 (TCK, TDI, TMS and bits 4, 6, 7 outputs; TDO and bit 5
//                 inputs) and TCK low: any other direction, or TCK high, is
//                 a protocol error and changes no pin
//   86 lo hi      clock divisor d: TCK = base / (d + 1), the base 6 MHz
//                 with divide-by-5 on (after entering MPSSE), 30 MHz off
//   8A / 8B       divide-by-5 off / on
//   87            send immediate
//   11 lo hi data...   clock n bytes out on the falling edge, MSB first
//   13 len data        clock len + 1 (1 to 8) bits out, MSB first
//   31 lo hi data...   bytes out and in (in on the rising edge): n replies,
//                      each with its first bit in bit 7
//   33 len data        bits out and in: one reply, the k bits in bits
//                      k - 1 .. 0, the first in bit k - 1
// A clocked bit: TDI set, TDO sampled, TCK rises (the chain moves with TMS
// as the last pin command left it), TCK falls; half a period each.
// Any other opcode is answered FA, opcode (MPSSE's bad command) and is a
// protocol error. Bytes written outside MPSSE mode, and clocks before the
// first good pin command after entering it (the lines are no outputs yet:
// the chain sees no edge, a read gives the TDO line), are protocol errors
// too.
//
// Bit modes (FT_SetBitMode): 02 enters MPSSE (pins inputs, divisor 0,
// divide-by-5 on); 00 resets to the chip's plain mode, as does any other.
//
// Replies are there for the host at once: the latency timer and Send
// Immediate only decide when a real chip sends its buffer (the faults hold
// replies back). Device time: a clocked bit takes one TCK period; nothing
// else takes time.
//
// Trace lines besides the chain's (chain.h) and the link's (faults.h):
//   mode mpsse | mode reset | mode 40
//   clock divisor=1 tck_hz=3000000 (also at 8A, 8B)
//   error byte=AA at=1234 bad command
//   error pins value=81 dir=DB at=1234 tck high | wrong direction
//   error clock at=1234 pins not set
//   error written=6 outside mpsse mode=00
//
// Scenario keys of a "druvel" device: "chain", "trace" (chain.h) and
// "faults" (faults.h; "probe" does not apply: the cable has no probe).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include <nlohmann/json.hpp>

#include "chain/chain.h"
#include "scenario/faults.h"

namespace sim {

class DruvelProtocol : public CableProtocol {
public:
    static constexpr uint64_t Base6MhzTicks = 500;  // a 6 MHz period
    static constexpr uint64_t Base30MhzTicks = 100; // a 30 MHz period
    static constexpr uint8_t MpsseMode = 0x02;

    explicit DruvelProtocol(const nlohmann::json& Device);

    Chain* JtagChain() override { return &FChain; }
    Chain& GetChain() { return FChain; }
    bool SetBitMode(uint8_t Mask, uint8_t Mode) override;

    // Protocol errors over the device's life.
    uint64_t ProtocolErrors() const { return FErrors; }
    bool InMpsse() const { return FMpsse; }
    uint32_t Divisor() const { return FDivisor; }
    bool DivideBy5() const { return FDivideBy5; }
    // TCK in force, Hz (rounded down).
    uint64_t TckHz() const { return (FDivideBy5 ? 6000000 : 30000000) / (uint64_t{FDivisor} + 1); }
    // Send Immediate commands seen.
    uint64_t SendImmediates() const { return FSendImmediates; }

protected:
    void Execute(const uint8_t* Data, size_t Count) override;
    void FastExecute(const uint8_t* Data, size_t Count) override;
    void SessionClosed() override;

private:
    void Step(uint8_t Byte);
    void Begin(uint8_t Opcode);
    void Run();
    void DataByte(uint8_t Byte);
    // Clocks Bits bits of Data out, MSB first; the bits read in, the
    // first in bit Bits - 1.
    uint8_t ClockOut(uint8_t Data, unsigned Bits);
    void SetPins(uint8_t Value, uint8_t Direction);
    void TraceClock();
    void Error(const std::string& Text);

    TraceMask FMask;
    Chain FChain;
    bool FMpsse = false;
    bool FPinsSet = false;
    bool FDivideBy5 = true;
    uint32_t FDivisor = 0;
    uint64_t FSendImmediates = 0;
    uint64_t FOffset = 0; // bytes executed, for error positions
    uint64_t FErrors = 0;

    // The command being gathered: its opcode, arguments so far, and the
    // data bytes of a byte command still to come.
    bool FInCommand = false;
    uint8_t FOpcode = 0;
    std::array<uint8_t, 2> FArgs{};
    unsigned FArgCount = 0;
    uint32_t FDataLeft = 0;
    bool FClockErrorSeen = false; // one error a command for clocks before the pins
};

} // namespace sim
