// The simulated JTAG chain behind an emulated cable: the cable's TDI runs
// through one or more TAP devices back to the cable's TDO. A cable decoder
// drives the pins (TCK, TMS, TDI, TRST) and reads TDO; it also tells the
// chain how much device time its bytes take, so that the trace can say how
// long the TAP stayed where it rested.
//
// Edges as on the wire: on a rising TCK edge every TAP samples TMS and its
// TDI and moves (capture and shift happen there); on the falling edge TDO
// changes and the update states latch. A device drives TDO only in
// Shift-IR and Shift-DR; an undriven line reads 1 (pull-up).
//
// Scenario keys, inside one cable device's object:
//   "chain": [device, ...]   from the cable's TDI to its TDO: the first
//                            device's TDI is the cable's, the last one's TDO
//                            goes back to the cable; [] is a bare wire.
//                            Absent: one generic device with the defaults
//                            below and IDCODE 0x0ABC1DEF at opcode 1.
//   "trace": false | {"scans", "updates", "states", "stays", "pins",
//                     "clock", "waits": true | false}
//                            which trace lines to write (all by default;
//                            open, close, faults and errors always)
// A device:
//   "kind":       "generic" (default) or "memory"
//   "name":       for trace lines and Find(); default "dev<index>"
//   "ir_length":  1 to 64, default 4
//   "ir_capture": loaded on Capture-IR, default 1 (binary ...01)
//   "idcode":     {"opcode": ..., "value": ...}: a 32-bit IDCODE register;
//                 without it Test-Logic-Reset selects BYPASS
//   "trst":       true: the device has a TRST input (default false)
//   "reset_instruction": the name of the instruction Test-Logic-Reset
//                 selects (default IDCODE when there is one, else BYPASS)
//   "instructions": [{"name": ..., "opcode": ..., "length": 1 to 1048576,
//                      "capture": value loaded on Capture-DR (default 0),
//                      "readback": true: Capture-DR loads the value last
//                      updated instead (the capture value until then)}]
//                 one data register per instruction; every opcode not
//                 listed, all ones included, selects the 1-bit BYPASS
//   "memory":     kind "memory" only, every key optional:
//                 {"address_bits": 8, "word_bits": 8 (1 to 64),
//                  "words": 2^address_bits (at most 65536),
//                  "fill": erased word (all ones), "contents": [word, ...]
//                  from address 0, "address": 2, "write": 3, "read": 4}
//                 ADDRESS: Capture-DR loads the address, Update-DR sets it;
//                 WRITE: Update-DR stores the word and steps the address;
//                 READ: Capture-DR loads the word, Update-DR steps the
//                 address; addresses wrap at "words"
// Values are JSON integers or strings of hex digits, most significant
// first as in SVF ("0x" optional, "0b" for binary); bit 0 is the bit
// nearest TDO, the first one shifted out.
//
// Trace lines, each prefixed with the cable's name ("varnel:A6010001"):
//   state IDLE                    the TAP arrived in a stable state
//   scan dr n=4 bits=32 in=00000000 out=F6E5F093 from=IDLE
//        tck_min_ns=333 tck_max_ns=1000 [fault=tdo] [aborted]
//                                 at Update (or TRST): n counts IR and DR
//                                 scans; in and out are the cable's TDI and
//                                 TDO, SVF hex; from is the stable state the
//                                 scan began from; the TCK periods between
//                                 its shift edges, when it has two bits
//   stay IDLE cycles=32 ns=10666 tms=0 [at=close]
//                                 a stay in Run-Test/Idle or Test-Logic-Reset
//                                 ended: the rising edges that kept it there,
//                                 device time from the edge that entered to
//                                 the one that left, TMS at those edges and
//                                 waits (0, 1, x for both, - for neither)
//   pin tms=1, pin trst=0|1|z     pin changes
//   dev=1 ir=3A insn=PROG_SPI     Update-IR of a device
//   dev=1 dr insn=WRITE bits=8 value=A5
//   dev=1 mem write addr=00000003 data=A5

#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "scenario/faults.h"
#include "chain/tap.h"

namespace sim {

// One byte per bit, 0 or 1; bit 0 first shifted.
using Bits = std::vector<uint8_t>;

Bits BitsFromUint(uint64_t Value, size_t Length);
uint64_t BitsToUint(const Bits& Value);
// SVF style: ceil(n / 4) upper-case hex digits, the last holding bits 3-0.
std::string BitsToHex(const Bits& Value);
// A scenario value of Length bits; refuses set bits beyond the length.
Bits ConfigBits(const nlohmann::json& Value, size_t Length, const std::string& What);

struct TraceMask {
    bool Scans = true;   // per completed IR or DR scan: bits in and out
    bool Updates = true; // per device: instruction and data register updates
    bool States = true;  // the TAP arriving in a stable state
    bool Stays = true;   // per stay in Run-Test/Idle or Test-Logic-Reset
    bool Pins = true;    // TMS, TRST and auxiliary pin changes
    bool Clock = true;   // clock selection bytes
    bool Waits = true;   // device-timed waits

    // From Device["trace"].
    static TraceMask FromJson(const nlohmann::json& Device);
};

// Device time: what the cable has executed, counted in thirds of a
// nanosecond so that a period of every cable's base clock (3, 6 and
// 30 MHz) is a whole number of ticks.
class DeviceClock {
public:
    static constexpr uint64_t TicksPerNs = 3;
    static constexpr uint64_t TicksPerUs = 3000;

    uint64_t Ticks() const { return FTicks; }
    uint64_t Ns() const { return FTicks / TicksPerNs; }
    void Advance(uint64_t Ticks) { FTicks += Ticks; }

private:
    uint64_t FTicks = 0;
};

// A line the cable drives, or leaves to its pull-up.
enum class Drive : uint8_t { Released, Low, High };

class ShiftRegister {
public:
    void Load(const Bits& Value);
    size_t Length() const { return FBits.size(); }
    // Bit 0, the one TDO shows.
    bool Out() const { return !FBits.empty() && FBits[FHead]; }
    // Bit 0 leaves, In enters as the top bit.
    void Shift(bool In);
    Bits Value() const;

private:
    Bits FBits;
    size_t FHead = 0;
};

// Register updates a device remembers: the last UpdatesKept at least, and
// twice that at most.
inline constexpr size_t UpdatesKept = 65536;

enum class RegisterRole : uint8_t { Plain, Bypass, Idcode, MemAddress, MemWrite, MemRead };

struct DataRegister {
    std::string Name;
    uint64_t Opcode = 0;
    size_t Length = 1;
    Bits Capture;
    bool Readback = false;
    RegisterRole Role = RegisterRole::Plain;
    Bits Value;                // as last updated; the capture value before
    std::vector<Bits> Updates; // the recent Update-DRs, oldest first
                               // (at least UpdatesKept of them)
};

struct ChainTrace {
    std::string Who;
    TraceMask Mask;
    void Line(const std::string& Text) const;
};

class Device {
public:
    Device(const nlohmann::json& Config, size_t Index, const ChainTrace* Trace);

    const std::string& Name() const { return FName; }
    size_t Index() const { return FIndex; }
    TapState State() const { return FTap.State(); }
    bool HasTrst() const { return FHasTrst; }
    size_t IrLength() const { return FIrLength; }
    // The instruction in force and the recent Update-IR values, oldest
    // first (at least UpdatesKept of them).
    uint64_t Instruction() const { return FIr; }
    const std::vector<uint64_t>& IrUpdates() const { return FIrUpdates; }
    const DataRegister& Selected() const { return FRegisters[FSelected]; }
    // By instruction name ("BYPASS", "IDCODE", "ADDRESS", "WRITE", "READ",
    // or as configured); none when there is no such register.
    const DataRegister* Register(const std::string& Name) const;

    bool HasMemory() const { return !FMemory.empty(); }
    size_t Words() const { return FMemory.size(); }
    uint64_t Word(uint64_t Address) const;
    uint64_t Address() const { return FAddress; }

    // The wire side, driven by the chain.
    bool TdoDriven() const { return FTdoDriven; }
    bool TdoLevel() const { return FTdoLevel; }
    void Rise(bool Tms, bool Tdi, bool TrstAsserted);
    void Fall();
    // TRST asserted, or power-on.
    void HardReset();

private:
    size_t AddRegister(DataRegister Register);
    void LoadMemory(const nlohmann::json& Config);
    void SelectResetInstruction();
    Bits CaptureOf(const DataRegister& Register) const;
    void UpdateIr();
    void UpdateDr();
    void Trace(const std::string& Text) const;

    std::string FName;
    size_t FIndex;
    const ChainTrace* FTrace;
    Tap FTap;
    bool FHasTrst = false;
    size_t FIrLength = 4;
    Bits FIrCapture;
    uint64_t FIr = 0;
    std::vector<uint64_t> FIrUpdates;
    ShiftRegister FIrShift;
    ShiftRegister FDrShift;
    std::vector<DataRegister> FRegisters; // [0] is BYPASS
    std::map<uint64_t, size_t> FByOpcode;
    size_t FSelected = 0;
    size_t FResetRegister = 0;
    size_t FWordBits = 8;
    std::vector<uint64_t> FMemory;
    uint64_t FAddress = 0;
    bool FTdoDriven = false;
    bool FTdoLevel = true;
};

struct ScanRecord {
    bool Ir = false;
    uint64_t Number = 0; // counting IR and DR scans, from 1
    TapState From = TapState::RESET;
    Bits In;  // TDI at each shift edge, first bit first
    Bits Out; // TDO the cable saw at each shift edge
    uint64_t MinPeriodTicks = 0; // between shift edges; 0 below two bits
    uint64_t MaxPeriodTicks = 0;
    bool Faulty = false;  // an injected TDO fault touched it
    bool Aborted = false; // TRST ended it before Update
};

struct StayRecord {
    TapState State = TapState::RESET;
    uint64_t Cycles = 0; // rising edges that kept the TAP there
    uint64_t Ticks = 0;  // from the edge that entered to the one that left
    // TMS at those edges and during the waits timed there: '0', '1', 'x'
    // (both), '-' (neither happened).
    char Tms = '-';
};

class Chain {
public:
    // Devices: the scenario's "chain" array (see above). Who prefixes the
    // trace lines ("varnel:A6010001").
    Chain(const nlohmann::json& Devices, std::string Who, TraceMask Mask = {});
    // The chain of one cable device's object: its "chain" (or the default
    // device) and its "trace".
    static nlohmann::json DevicesOf(const nlohmann::json& CableDevice);

    Chain(const Chain&) = delete;
    Chain& operator=(const Chain&) = delete;

    // Pins as the cable drives them. TCK from low to high is the rising
    // edge, from high to low the falling one.
    void SetTck(bool Level);
    void SetTms(bool Level);
    void SetTdi(bool Level);
    void SetTrst(Drive Level);
    bool Tck() const { return FTck; }
    bool Tms() const { return FTms; }
    bool Tdi() const { return FTdi; }
    Drive Trst() const { return FTrst; }
    // What the cable reads on TDO now.
    bool Tdo() const;

    // One TCK cycle: TCK low with TMS and TDI set, TDO read, TCK high; the
    // halves last LowTicks and HighTicks. Returns the TDO read.
    bool Cycle(bool Tms, bool Tdi, uint64_t LowTicks, uint64_t HighTicks);

    // Device time passing with the pins held: Elapse while the cable is busy
    // with its own bytes, Wait for a wait the cable times itself (it counts
    // toward the TMS level held in a stay).
    void Elapse(uint64_t Ticks) { FClock.Advance(Ticks); }
    void Wait(uint64_t Ticks);
    const DeviceClock& Clock() const { return FClock; }

    // The host closed the cable: the stay in progress goes to the trace
    // (marked at=close) and a new one begins.
    void EndOfSession();

    // The state of a TAP that sees the cable's pins (that of every device
    // which follows them; it honours TRST when the first device has one).
    TapState State() const { return FRef.State(); }
    size_t Size() const { return FDevices.size(); }
    Device& At(size_t Index) { return FDevices.at(Index); }
    const Device& At(size_t Index) const { return FDevices.at(Index); }
    Device* Find(const std::string& Name);

    uint64_t CompletedScans() const { return FCompleted; }
    const ScanRecord& LastScan() const { return FLastScan; }
    const StayRecord& LastStay() const { return FLastStay; }

    void SetTdoFault(const TdoFault& Fault) { FTdoFault = Fault; }

private:
    bool Line(size_t Index) const;
    bool TrstAsserted() const { return FTrst == Drive::Low; }
    void RisingEdge();
    void FallingEdge();
    void Moved(TapState Before, TapState After);
    void BeginScan(bool Ir);
    void EndScan(bool Aborted);
    void BeginStay(TapState State);
    void EndStay(const char* Suffix);
    void NoteStayTms();
    bool FaultNow() const;
    void LatchTdo();

    ChainTrace FTrace;
    std::vector<Device> FDevices;
    Tap FRef;
    bool FRefTrst = true;
    DeviceClock FClock;
    bool FTck = false;
    bool FTms = true;
    bool FTdi = true;
    Drive FTrst = Drive::Released;
    bool FTdoOut = true;
    TapState FLastStable = TapState::RESET;

    bool FScanOpen = false;
    ScanRecord FScan;
    ScanRecord FLastScan;
    uint64_t FLastShiftTick = 0;
    uint64_t FScans = 0;
    uint64_t FIrScans = 0;
    uint64_t FDrScans = 0;
    uint64_t FCompleted = 0;
    TdoFault FTdoFault;

    bool FStayOpen = false;
    StayRecord FStay;
    uint64_t FStayStart = 0;
    StayRecord FLastStay;
};

} // namespace sim
