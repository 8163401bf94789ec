// The Mirrow's own side: an FTDI chip whose MPSSE engine loads the FPGA
// behind it, and the FPGA's byte protocol once it is configured. Written
// from the cable's protocol; the parsers keep their state across writes,
// since a host buffer may end in the middle of a command.
//
// Bit modes (FT_SetBitMode):
//   00  reset: the MPSSE parser starts afresh
//   02  MPSSE, the subset the upload uses:
//         80 v d / 82 v d  set the low / high data bits (value, direction);
//                          high bit 7 is the FPGA's program line: driven low
//                          clears the FPGA (and its supply), back high it
//                          takes a new image
//         81 / 83          read the low / high data bits: one reply byte
//         86 lo hi, 8A, 8B, 8D, 85, 87   divisor, clock and flush: no effect
//         10 lo hi data    clock (hi << 8 | lo) + 1 bytes out: the image
//         any other        a bad command: replies FA and the command
//   20  CBUS bit-bang: FT_GetBitMode reads bit 3 set when the FPGA is
//       configured: exactly the stand-in image's bytes (its length and
//       CRC-32) arrived after a program pulse
//   40  synchronous FIFO: the FPGA's protocol below (ignored, and traced
//       once, while it is not configured)
//
// The FPGA's protocol: a byte with bit 7 clear is a command, the bytes
// with bit 7 set that follow are its operands. One 60 MHz tick a byte.
//   11             end of a batch
//   12 8F X        wait (X & 7) + 8) * 4 * 2^(X >> 3 & 15) + 3 ticks, its
//                  own bytes included
//   13 hi lo       VDD DAC code (hi & 1F) << 7 | lo & 7F
//   14 80|i [B2|A2] TCK 30 MHz / divisor of table index i (1..31); B2 fast,
//                  A2 SPI mode 0
//   15 91          set-up byte of the open
//   20 pins...     pin bytes: 8x/Cx TDI bit 0, TCK bit 2 (Cx sets them, 8A/8B
//                  hold them a tick, 80 releases them); 9x/Dx TMS bit 2 (Dx
//                  sets, 98/9C hold, 90 releases); Ax/Ex the P pin, bits 1-0
//                  (bit 1 driven, bit 0 level); F0 the end of the park
//   21 a b c d     register write: W = a&7 << 21 | b << 14 | c << 7 | d (7
//                  bits each), register W & FF, value W >> 8; 93 the
//                  calibration address, 94 the supply (2 on, 23 target's
//                  own, 1 off), 91 status, 8A/8B settling time
//   25             two replies: calibration byte & 7F, then its bit 7
//   29 80          measure the target voltage: R0, R1 = the 12-bit ADC code
//                  (R0 = code >> 7, R1 = code & 7F), or R0 = 80 | code on
//                  an error (80 | 02: overcurrent)
//   40|n-1, 48|n-1 shift: data bytes follow, n bits in the first, 7 in each
//                  further; bit i is TDI of the i-th bit, one whole TCK
//                  cycle each (TDO read, rise, fall) with TMS held; 48
//                  answers each data byte with its TDO bits at 7-n .. 6
//   50|k           wait k + 1 ticks
// Anything else goes to the trace as an error and changes nothing.
//
// Device time: a tick is 1/60 us, a TCK period divisor / 30 us.
//
// Trace lines besides the chain's (chain.h) and the link's (faults.cpp):
//   fpga program, fpga image bytes=131704 crc=7A18E434 done=1,
//   fpga unconfigured (FIFO bytes while not configured),
//   clock index=8 hz=3000000, clock mode=fast|spi0,
//   register r=91 value=8100 (not 93), power on vdd=3.30, power off, power target,
//   measure volts=3.30 code=2680 [error=82], wait ticks=600000 ns=10000000 tms=0,
//   pin p=0|1|z, pin jtag=z, park, error byte=.. at=.. what
//
// Scenario keys of a "mirrow" device besides "chain", "trace" and "faults":
//   "p": "none" | "trst"       what the P pin is wired to
//   "fpga": {"sync": "silent" | "wrong" | "extra",
//            "never_done": true}   the bad-command answer goes missing, is
//                              wrong, or has a byte too many; the FPGA never
//                              reports its configuration done
//   "calibration": {"adc_0v": 40, "adc_5v": 4040, "dac_0v": 0,
//                   "dac_5v": 4000,   the calibration points
//                   "bad_pair": i,    the reply of byte i has bit 7 set
//                   "replies": n}     only the first n calibration replies
//   "target": {"supply": "target" | "cable" | "off",
//              "volts": 3.3,      the target's own supply ("target"), or
//                                 what the cable's VDD gives ("cable"), or
//                                 nothing at all ("off")
//              "overcurrent": true, "error_code": n}   the measurement
//                                 answers an error instead
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "chain/chain.h"
#include "scenario/faults.h"

namespace sim {

class MirrowProtocol : public CableProtocol {
public:
    // The stand-in FPGA image (resources/make_standin_image.py).
    static constexpr uint64_t ImageLength = 131704;
    static constexpr uint32_t ImageCrc = 0x7A18E434;
    // Sim ticks (thirds of a ns) in one 60 MHz tick.
    static constexpr uint64_t TickTicks = 50;

    explicit MirrowProtocol(const nlohmann::json& Device);

    Chain* JtagChain() override { return &FChain; }
    Chain& GetChain() { return FChain; }

    bool SetBitMode(uint8_t Mask, uint8_t Mode) override;
    uint8_t GetBitMode() override;
    void ResetDevice() override;

    bool Configured() const { return FConfigured; }
    // The bit mode the host set last.
    uint8_t Mode() const { return FMode; }
    // The cable drives the target's supply (and is still plugged in).
    bool Powered() const { return FPowerOn && Present(); }
    double Vdd() const;
    uint64_t ProtocolErrors() const { return FErrors; }
    uint16_t RegisterValue(uint8_t R) const { return FRegisterValues[R]; }
    int ClockIndex() const { return FClockIndex; }
    uint8_t PPin() const { return FPin; }

protected:
    void Execute(const uint8_t* Data, size_t Count) override;
    // The upload, registers, supply and measurements as ever; shifts answer
    // every bit with 1, and pins and waits move no chain.
    void FastExecute(const uint8_t* Data, size_t Count) override;
    void SessionOpened() override;
    void SessionClosed() override;
    // A write that begins with the park: 20 80 90 Ax F0.
    bool IsClosingWrite(const uint8_t* Data, size_t Count) const override
    {
        return Count >= 5 && Data[0] == 0x20 && Data[1] == 0x80 && Data[2] == 0x90 && (Data[3] & 0xF0) == 0xA0 &&
               Data[4] == 0xF0;
    }

private:
    void Mpsse(uint8_t Byte);
    void MpsseCommand(uint8_t Command, const std::vector<uint8_t>& Operands);
    void ProgramLine(bool High);
    void ImageByte(uint8_t Byte);
    bool ImageComplete() const;

    void Fifo(uint8_t Byte);
    void Command(uint8_t Byte);
    void Operand(uint8_t Byte);
    void Pins(uint8_t Byte);
    void WriteRegister(uint8_t R, uint16_t V);
    void SetPower(bool On);
    void ShiftData(uint8_t Byte, unsigned Bits, bool Capture);
    void DeviceWait(uint64_t Ticks60);
    void EndWaits();
    void Measure();
    void CalibrationRead();
    void Error(uint8_t Byte, const std::string& What);

    TraceMask FMask;
    Chain FChain;
    bool FPIsTrst = false;

    // Faults and the board.
    enum class SyncFault { None, Silent, Wrong, Extra } FSyncFault = SyncFault::None;
    bool FNeverDone = false;
    uint8_t FCalibration[36] = {};
    std::optional<uint64_t> FBadPair;
    std::optional<uint64_t> FCalibrationReplies;
    uint64_t FCalibrationSent = 0;
    enum class Supply { Target, Cable, Off } FSupply = Supply::Target;
    double FTargetVolts = 3.3;
    bool FOvercurrent = false;
    std::optional<uint8_t> FErrorCode;
    int FAdc0 = 40, FAdc5 = 4040, FDac0 = 0, FDac5 = 4000;

    // The FTDI chip.
    uint8_t FMode = 0;
    std::vector<uint8_t> FMpsseOperands;
    uint8_t FMpsseCommand = 0;
    uint64_t FMpsseData = 0; // data bytes of a 0x10 still to come
    uint8_t FLowBits = 0, FHighBits = 0;
    bool FProgramLow = false;
    bool FReceiving = false; // a program pulse has ended: image bytes count
    uint64_t FImageBytes = 0;
    uint32_t FImageCrc = 0xFFFFFFFF;
    bool FConfigured = false;
    bool FUnconfiguredSeen = false;

    // The FPGA.
    uint8_t FCommand = 0x11;
    uint32_t FOperands = 0;
    uint8_t FArgs[4] = {};
    int FClockIndex = 12;
    uint16_t FDac = 0;
    bool FPowerOn = false;
    uint16_t FRegisterValues[256] = {};
    uint8_t FPin = 0;
    uint64_t FOffset = 0;
    uint64_t FErrors = 0;
    uint64_t FWaitTicks = 0; // consecutive waits not yet traced
};

} // namespace sim
