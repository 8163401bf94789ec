#include "chain/chain.h"

#include <algorithm>
#include <cstdio>

#include "scenario/trace.h"

namespace sim {

using nlohmann::json;

namespace {

// A device's history of updates keeps the recent ones only: a long run
// makes millions, and memory is not to grow with them.
template <typename T>
void KeepRecent(std::vector<T>& History, const T& Value)
{
    if (History.size() >= 2 * UpdatesKept)
        History.erase(History.begin(), History.begin() + static_cast<std::ptrdiff_t>(UpdatesKept));
    History.push_back(Value);
}

constexpr size_t MaxRegisterLength = 1u << 20;
constexpr size_t MaxWords = 1u << 16;

std::string HexOf(uint64_t Value, size_t Bits)
{
    return BitsToHex(BitsFromUint(Value, Bits));
}

std::string Ns(uint64_t Ticks)
{
    return std::to_string(Ticks / DeviceClock::TicksPerNs);
}

size_t ConfigLength(const json& Object, const char* Key, size_t Default, size_t Min, size_t Max,
                    const std::string& What)
{
    if (!Object.contains(Key))
        return Default;
    const uint64_t v = ConfigUnsigned(Object.at(Key), What + "." + Key);
    if (v < Min || v > Max)
        throw ConfigError(What + "." + Key + ": " + std::to_string(Min) + " to " + std::to_string(Max) +
                          " is wanted");
    return static_cast<size_t>(v);
}

uint64_t ConfigOpcode(const json& Value, size_t IrLength, const std::string& What)
{
    return BitsToUint(ConfigBits(Value, IrLength, What));
}

// Field keeps its value when the key is absent.
void ConfigFlag(const json& Object, const char* Key, const std::string& What, bool& Field)
{
    if (!Object.contains(Key))
        return;
    if (!Object.at(Key).is_boolean())
        throw ConfigError(What + "." + Key + ": true or false is wanted");
    Field = Object.at(Key).get<bool>();
}

} // namespace

Bits BitsFromUint(uint64_t Value, size_t Length)
{
    Bits b(Length, 0);
    for (size_t i = 0; i < Length && i < 64; ++i)
        b[i] = static_cast<uint8_t>((Value >> i) & 1);
    return b;
}

uint64_t BitsToUint(const Bits& Value)
{
    uint64_t v = 0;
    for (size_t i = 0; i < Value.size() && i < 64; ++i)
        if (Value[i])
            v |= uint64_t{1} << i;
    return v;
}

std::string BitsToHex(const Bits& Value)
{
    const size_t digits = (Value.size() + 3) / 4;
    std::string s(digits, '0');
    for (size_t d = 0; d < digits; ++d) {
        unsigned v = 0;
        for (size_t j = 0; j < 4; ++j) {
            const size_t i = d * 4 + j;
            if (i < Value.size() && Value[i])
                v |= 1u << j;
        }
        s[digits - 1 - d] = "0123456789ABCDEF"[v];
    }
    return s;
}

Bits ConfigBits(const json& Value, size_t Length, const std::string& What)
{
    if (Value.is_number()) {
        const uint64_t v = ConfigUnsigned(Value, What);
        if (Length < 64 && (v >> Length) != 0)
            throw ConfigError(What + ": value wider than " + std::to_string(Length) + " bits");
        return BitsFromUint(v, Length);
    }
    unsigned radix = 16;
    const std::string text = ConfigDigits(Value, What, radix);
    const unsigned per = radix == 2 ? 1 : 4;
    Bits b(Length, 0);
    size_t bit = 0;
    for (auto it = text.rbegin(); it != text.rend(); ++it) {
        const unsigned d = ConfigDigit(*it, radix, Value, What);
        for (unsigned j = 0; j < per; ++j, ++bit) {
            const bool set = (d >> j) & 1;
            if (bit < Length)
                b[bit] = set;
            else if (set)
                throw ConfigError(What + ": value wider than " + std::to_string(Length) + " bits");
        }
    }
    return b;
}

TraceMask TraceMask::FromJson(const json& Device)
{
    TraceMask m;
    if (!Device.is_object() || !Device.contains("trace"))
        return m;
    const json& t = Device.at("trace");
    if (t.is_boolean()) {
        const bool on = t.get<bool>();
        m = {on, on, on, on, on, on, on};
        return m;
    }
    ConfigKeys(t, {"scans", "updates", "states", "stays", "pins", "clock", "waits"}, "trace");
    ConfigFlag(t, "scans", "trace", m.Scans);
    ConfigFlag(t, "updates", "trace", m.Updates);
    ConfigFlag(t, "states", "trace", m.States);
    ConfigFlag(t, "stays", "trace", m.Stays);
    ConfigFlag(t, "pins", "trace", m.Pins);
    ConfigFlag(t, "clock", "trace", m.Clock);
    ConfigFlag(t, "waits", "trace", m.Waits);
    return m;
}

void ChainTrace::Line(const std::string& Text) const
{
    TraceLine(Who, Text);
}

// --- shift register ---

void ShiftRegister::Load(const Bits& Value)
{
    FBits = Value;
    FHead = 0;
}

void ShiftRegister::Shift(bool In)
{
    if (FBits.empty())
        return;
    // A ring: the slot bit 0 leaves becomes the new top bit.
    FBits[FHead] = In;
    FHead = FHead + 1 == FBits.size() ? 0 : FHead + 1;
}

Bits ShiftRegister::Value() const
{
    Bits b(FBits.size());
    for (size_t i = 0; i < FBits.size(); ++i)
        b[i] = FBits[(FHead + i) % FBits.size()];
    return b;
}

// --- device ---

Device::Device(const json& Config, size_t Index, const ChainTrace* Trace)
    : FName("dev" + std::to_string(Index)), FIndex(Index), FTrace(Trace)
{
    const std::string what = "chain[" + std::to_string(Index) + "]";
    ConfigKeys(Config,
               {"kind", "name", "ir_length", "ir_capture", "idcode", "trst", "reset_instruction", "instructions",
                "memory"},
               what);
    const std::string kind = Config.value("kind", std::string("generic"));
    if (kind != "generic" && kind != "memory")
        throw ConfigError(what + ".kind: \"generic\" or \"memory\" is wanted");
    if (Config.contains("name")) {
        if (!Config.at("name").is_string() || Config.at("name").get<std::string>().empty())
            throw ConfigError(what + ".name: a name is wanted");
        FName = Config.at("name").get<std::string>();
    }
    FIrLength = ConfigLength(Config, "ir_length", 4, 1, 64, what);
    FIrCapture = Config.contains("ir_capture") ? ConfigBits(Config.at("ir_capture"), FIrLength, what + ".ir_capture")
                                              : BitsFromUint(1, FIrLength);
    ConfigFlag(Config, "trst", what, FHasTrst);

    const uint64_t allOnes = FIrLength == 64 ? ~uint64_t{0} : (uint64_t{1} << FIrLength) - 1;
    DataRegister bypass;
    bypass.Name = "BYPASS";
    bypass.Opcode = allOnes;
    bypass.Length = 1;
    bypass.Capture = Bits{0};
    bypass.Role = RegisterRole::Bypass;
    AddRegister(bypass);

    if (Config.contains("idcode")) {
        const json& id = Config.at("idcode");
        ConfigKeys(id, {"opcode", "value"}, what + ".idcode");
        if (!id.contains("opcode") || !id.contains("value"))
            throw ConfigError(what + ".idcode: \"opcode\" and \"value\" are wanted");
        DataRegister r;
        r.Name = "IDCODE";
        r.Opcode = ConfigOpcode(id.at("opcode"), FIrLength, what + ".idcode.opcode");
        r.Length = 32;
        r.Capture = ConfigBits(id.at("value"), 32, what + ".idcode.value");
        r.Role = RegisterRole::Idcode;
        AddRegister(r);
    }

    if (Config.contains("instructions")) {
        const json& list = Config.at("instructions");
        if (!list.is_array())
            throw ConfigError(what + ".instructions: a list is wanted");
        for (size_t i = 0; i < list.size(); ++i) {
            const std::string w = what + ".instructions[" + std::to_string(i) + "]";
            const json& in = list[i];
            ConfigKeys(in, {"name", "opcode", "length", "capture", "readback"}, w);
            if (!in.contains("name") || !in.at("name").is_string() || !in.contains("opcode"))
                throw ConfigError(w + ": \"name\" and \"opcode\" are wanted");
            DataRegister r;
            r.Name = in.at("name").get<std::string>();
            r.Opcode = ConfigOpcode(in.at("opcode"), FIrLength, w + ".opcode");
            r.Length = ConfigLength(in, "length", 1, 1, MaxRegisterLength, w);
            r.Capture = in.contains("capture") ? ConfigBits(in.at("capture"), r.Length, w + ".capture")
                                               : Bits(r.Length, 0);
            ConfigFlag(in, "readback", w, r.Readback);
            AddRegister(r);
        }
    }

    if (kind == "memory")
        LoadMemory(Config.value("memory", json::object()));
    else if (Config.contains("memory"))
        throw ConfigError(what + ".memory: only a \"memory\" device has one");

    FResetRegister = 0;
    if (const DataRegister* id = Register("IDCODE"))
        FResetRegister = static_cast<size_t>(id - FRegisters.data());
    if (Config.contains("reset_instruction")) {
        const json& name = Config.at("reset_instruction");
        const DataRegister* r = name.is_string() ? Register(name.get<std::string>()) : nullptr;
        if (!r)
            throw ConfigError(what + ".reset_instruction: no such instruction");
        FResetRegister = static_cast<size_t>(r - FRegisters.data());
    }
    HardReset();
}

size_t Device::AddRegister(DataRegister Register)
{
    if (Register.Role != RegisterRole::Bypass) {
        if (Register.Opcode == FRegisters[0].Opcode)
            throw ConfigError(FName + ": " + Register.Name + " cannot use the all-ones opcode of BYPASS");
        if (FByOpcode.count(Register.Opcode))
            throw ConfigError(FName + ": " + Register.Name + " reuses an opcode");
        if (this->Register(Register.Name))
            throw ConfigError(FName + ": instruction " + Register.Name + " is defined twice");
    }
    Register.Value = Register.Capture;
    FRegisters.push_back(std::move(Register));
    const size_t index = FRegisters.size() - 1;
    FByOpcode[FRegisters[index].Opcode] = index;
    return index;
}

void Device::LoadMemory(const json& Config)
{
    const std::string what = FName + ".memory";
    ConfigKeys(Config, {"address_bits", "word_bits", "words", "fill", "contents", "address", "write", "read"}, what);
    const size_t address_bits = ConfigLength(Config, "address_bits", 8, 1, 32, what);
    FWordBits = ConfigLength(Config, "word_bits", 8, 1, 64, what);
    const size_t maxWords = address_bits >= 16 ? MaxWords : size_t{1} << address_bits;
    const size_t words = ConfigLength(Config, "words", maxWords, 1, maxWords, what);
    const uint64_t fill = Config.contains("fill") ? BitsToUint(ConfigBits(Config.at("fill"), FWordBits, what + ".fill"))
                                                  : BitsToUint(Bits(FWordBits, 1));
    FMemory.assign(words, fill);
    if (Config.contains("contents")) {
        const json& c = Config.at("contents");
        if (!c.is_array() || c.size() > words)
            throw ConfigError(what + ".contents: a list of at most \"words\" words is wanted");
        for (size_t i = 0; i < c.size(); ++i)
            FMemory[i] = BitsToUint(ConfigBits(c[i], FWordBits, what + ".contents"));
    }
    struct Role {
        const char* Key;
        const char* Name;
        uint64_t Default;
        RegisterRole Kind;
        size_t Length;
    };
    const Role roles[] = {{"address", "ADDRESS", 2, RegisterRole::MemAddress, address_bits},
                          {"write", "WRITE", 3, RegisterRole::MemWrite, FWordBits},
                          {"read", "READ", 4, RegisterRole::MemRead, FWordBits}};
    for (const Role& r : roles) {
        DataRegister reg;
        reg.Name = r.Name;
        reg.Opcode = Config.contains(r.Key) ? ConfigOpcode(Config.at(r.Key), FIrLength, what + "." + r.Key)
                                            : BitsToUint(ConfigBits(json(r.Default), FIrLength, what + "." + r.Key));
        reg.Length = r.Length;
        reg.Capture = Bits(r.Length, 0);
        reg.Role = r.Kind;
        AddRegister(reg);
    }
}

const DataRegister* Device::Register(const std::string& Name) const
{
    for (const DataRegister& r : FRegisters)
        if (r.Name == Name)
            return &r;
    return nullptr;
}

uint64_t Device::Word(uint64_t Address) const
{
    return FMemory.empty() ? 0 : FMemory[Address % FMemory.size()];
}

void Device::Trace(const std::string& Text) const
{
    if (FTrace && FTrace->Mask.Updates)
        FTrace->Line("dev=" + std::to_string(FIndex) + " " + Text);
}

void Device::SelectResetInstruction()
{
    FSelected = FResetRegister;
    FIr = FRegisters[FSelected].Opcode;
}

void Device::HardReset()
{
    FTap.Reset();
    SelectResetInstruction();
    FTdoDriven = false;
}

Bits Device::CaptureOf(const DataRegister& Register) const
{
    switch (Register.Role) {
    case RegisterRole::Plain:
        return Register.Readback ? Register.Value : Register.Capture;
    case RegisterRole::Bypass:
    case RegisterRole::Idcode:
        return Register.Capture;
    case RegisterRole::MemAddress:
        return BitsFromUint(FAddress, Register.Length);
    case RegisterRole::MemWrite:
    case RegisterRole::MemRead:
        return BitsFromUint(Word(FAddress), Register.Length);
    }
    return Register.Capture;
}

void Device::Rise(bool Tms, bool Tdi, bool TrstAsserted)
{
    if (TrstAsserted && FHasTrst)
        return; // held in Test-Logic-Reset
    const TapState before = FTap.State();
    switch (before) {
    case TapState::IRCAPTURE:
        FIrShift.Load(FIrCapture);
        break;
    case TapState::IRSHIFT:
        FIrShift.Shift(Tdi);
        break;
    case TapState::DRCAPTURE:
        FDrShift.Load(CaptureOf(FRegisters[FSelected]));
        break;
    case TapState::DRSHIFT:
        FDrShift.Shift(Tdi);
        break;
    default:
        break;
    }
    if (FTap.Clock(Tms) == TapState::RESET && before != TapState::RESET)
        SelectResetInstruction();
}

void Device::Fall()
{
    switch (FTap.State()) {
    case TapState::IRUPDATE:
        UpdateIr();
        break;
    case TapState::DRUPDATE:
        UpdateDr();
        break;
    default:
        break;
    }
    FTdoDriven = IsShiftTapState(FTap.State());
    if (FTap.State() == TapState::IRSHIFT)
        FTdoLevel = FIrShift.Out();
    else if (FTap.State() == TapState::DRSHIFT)
        FTdoLevel = FDrShift.Out();
}

void Device::UpdateIr()
{
    FIr = BitsToUint(FIrShift.Value());
    KeepRecent(FIrUpdates, FIr);
    const auto it = FByOpcode.find(FIr);
    FSelected = it == FByOpcode.end() ? 0 : it->second;
    Trace("ir=" + HexOf(FIr, FIrLength) + " insn=" + FRegisters[FSelected].Name);
}

void Device::UpdateDr()
{
    DataRegister& r = FRegisters[FSelected];
    if (r.Role == RegisterRole::Bypass)
        return;
    const Bits value = FDrShift.Value();
    r.Value = value;
    KeepRecent(r.Updates, value);
    Trace("dr insn=" + r.Name + " bits=" + std::to_string(value.size()) + " value=" + BitsToHex(value));
    if (FMemory.empty())
        return;
    switch (r.Role) {
    case RegisterRole::MemAddress:
        FAddress = BitsToUint(value) % FMemory.size();
        break;
    case RegisterRole::MemWrite:
        FMemory[FAddress] = BitsToUint(value);
        Trace("mem write addr=" + HexOf(FAddress, 32) + " data=" + BitsToHex(value));
        FAddress = (FAddress + 1) % FMemory.size();
        break;
    case RegisterRole::MemRead:
        FAddress = (FAddress + 1) % FMemory.size();
        break;
    default:
        break;
    }
}

// --- chain ---

json Chain::DevicesOf(const json& CableDevice)
{
    if (CableDevice.is_object() && CableDevice.contains("chain"))
        return CableDevice.at("chain");
    return json::array({{{"kind", "generic"}, {"idcode", {{"opcode", 1}, {"value", "0ABC1DEF"}}}}});
}

Chain::Chain(const json& Devices, std::string Who, TraceMask Mask) : FTrace{std::move(Who), Mask}
{
    if (!Devices.is_array())
        throw ConfigError("chain: a list of devices is wanted");
    FDevices.reserve(Devices.size());
    for (size_t i = 0; i < Devices.size(); ++i)
        FDevices.emplace_back(Devices[i], i, &FTrace);
    for (size_t i = 0; i < FDevices.size(); ++i)
        for (size_t j = 0; j < i; ++j)
            if (FDevices[i].Name() == FDevices[j].Name())
                throw ConfigError("chain: two devices are named " + FDevices[i].Name());
    FRefTrst = FDevices.empty() || FDevices[0].HasTrst();
    BeginStay(TapState::RESET);
}

Device* Chain::Find(const std::string& Name)
{
    for (Device& d : FDevices)
        if (d.Name() == Name)
            return &d;
    return nullptr;
}

bool Chain::Line(size_t Index) const
{
    const Device& d = FDevices[Index];
    return d.TdoDriven() ? d.TdoLevel() : true;
}

bool Chain::FaultNow() const
{
    if (!FScanOpen || !FScan.Faulty || !IsShiftTapState(FRef.State()))
        return false;
    return !FTdoFault.Bit || *FTdoFault.Bit == FScan.In.size();
}

bool Chain::Tdo() const
{
    if (FDevices.empty())
        return FaultNow() ? !FTdi : FTdi;
    return FTdoOut;
}

void Chain::LatchTdo()
{
    // An injected fault flips the level the way a bad device would: from a
    // falling edge to the next.
    if (!FDevices.empty())
        FTdoOut = Line(FDevices.size() - 1) != FaultNow();
}

void Chain::SetTms(bool Level)
{
    if (Level != FTms && FTrace.Mask.Pins)
        FTrace.Line(std::string("pin tms=") + (Level ? "1" : "0"));
    FTms = Level;
}

void Chain::SetTdi(bool Level)
{
    FTdi = Level;
}

void Chain::SetTck(bool Level)
{
    if (Level == FTck)
        return;
    FTck = Level;
    if (Level)
        RisingEdge();
    else
        FallingEdge();
}

void Chain::SetTrst(Drive Level)
{
    if (Level == FTrst)
        return;
    const bool wasAsserted = TrstAsserted();
    FTrst = Level;
    if (FTrace.Mask.Pins)
        FTrace.Line(std::string("pin trst=") + (Level == Drive::Released ? "z" : Level == Drive::Low ? "0" : "1"));
    if (wasAsserted || !TrstAsserted())
        return;
    for (Device& d : FDevices)
        if (d.HasTrst())
            d.HardReset();
    if (FRefTrst) {
        const TapState before = FRef.State();
        FRef.Reset();
        Moved(before, TapState::RESET);
    }
    LatchTdo();
}

bool Chain::Cycle(bool Tms, bool Tdi, uint64_t LowTicks, uint64_t HighTicks)
{
    SetTck(false);
    SetTms(Tms);
    SetTdi(Tdi);
    const bool tdo = Tdo();
    Elapse(LowTicks);
    SetTck(true);
    Elapse(HighTicks);
    return tdo;
}

void Chain::Wait(uint64_t Ticks)
{
    if (FStayOpen)
        NoteStayTms();
    Elapse(Ticks);
}

void Chain::RisingEdge()
{
    const bool tdoSeen = Tdo();
    const bool asserted = TrstAsserted();
    for (size_t i = 0; i < FDevices.size(); ++i)
        FDevices[i].Rise(FTms, i == 0 ? FTdi : Line(i - 1), asserted);

    const TapState before = FRef.State();
    if (!(asserted && FRefTrst))
        FRef.Clock(FTms);
    const TapState after = FRef.State();

    if (FScanOpen && IsShiftTapState(before)) {
        const uint64_t now = FClock.Ticks();
        if (!FScan.In.empty()) {
            const uint64_t period = now - FLastShiftTick;
            FScan.MinPeriodTicks = FScan.In.size() == 1 ? period : std::min(FScan.MinPeriodTicks, period);
            FScan.MaxPeriodTicks = std::max(FScan.MaxPeriodTicks, period);
        }
        FLastShiftTick = now;
        FScan.In.push_back(FTdi);
        FScan.Out.push_back(tdoSeen);
    }
    if (after == before && FStayOpen) {
        ++FStay.Cycles;
        NoteStayTms();
    }
    if (before == TapState::DRCAPTURE || before == TapState::IRCAPTURE)
        BeginScan(before == TapState::IRCAPTURE);
    Moved(before, after);
}

void Chain::FallingEdge()
{
    for (Device& d : FDevices)
        d.Fall();
    LatchTdo();
}

void Chain::Moved(TapState Before, TapState After)
{
    if (After == Before)
        return;
    if (FScanOpen && (After == TapState::DRUPDATE || After == TapState::IRUPDATE))
        EndScan(false);
    if (FScanOpen && After == TapState::RESET)
        EndScan(true);
    if (FStayOpen)
        EndStay("");
    if (After == TapState::RESET || After == TapState::IDLE)
        BeginStay(After);
    if (IsStableTapState(After)) {
        FLastStable = After;
        if (FTrace.Mask.States)
            FTrace.Line(std::string("state ") + TapStateName(After));
    }
}

void Chain::BeginScan(bool Ir)
{
    FScan = ScanRecord{};
    FScan.Ir = Ir;
    FScan.Number = ++FScans;
    FScan.From = FLastStable;
    const uint64_t ofKind = Ir ? ++FIrScans : ++FDrScans;
    uint64_t counted = FScan.Number;
    if (FTdoFault.Register == TdoFaultRegister::Ir)
        counted = Ir ? ofKind : 0;
    else if (FTdoFault.Register == TdoFaultRegister::Dr)
        counted = Ir ? 0 : ofKind;
    FScan.Faulty = FTdoFault.Scan != 0 && counted == FTdoFault.Scan;
    FScanOpen = true;
}

void Chain::EndScan(bool Aborted)
{
    FScanOpen = false;
    FScan.Aborted = Aborted;
    if (!Aborted)
        ++FCompleted;
    FLastScan = FScan;
    if (!FTrace.Mask.Scans)
        return;
    std::string line = std::string("scan ") + (FScan.Ir ? "ir" : "dr") + " n=" + std::to_string(FScan.Number) +
                       " bits=" + std::to_string(FScan.In.size()) + " in=" + BitsToHex(FScan.In) +
                       " out=" + BitsToHex(FScan.Out) + " from=" + TapStateName(FScan.From);
    if (FScan.In.size() >= 2)
        line += " tck_min_ns=" + Ns(FScan.MinPeriodTicks) + " tck_max_ns=" + Ns(FScan.MaxPeriodTicks);
    if (FScan.Faulty)
        line += " fault=tdo";
    if (Aborted)
        line += " aborted";
    FTrace.Line(line);
}

void Chain::BeginStay(TapState State)
{
    FStay = StayRecord{};
    FStay.State = State;
    FStayStart = FClock.Ticks();
    FStayOpen = true;
}

void Chain::NoteStayTms()
{
    const char level = FTms ? '1' : '0';
    if (FStay.Tms == '-')
        FStay.Tms = level;
    else if (FStay.Tms != level)
        FStay.Tms = 'x';
}

void Chain::EndStay(const char* Suffix)
{
    FStay.Ticks = FClock.Ticks() - FStayStart;
    FStayOpen = false;
    FLastStay = FStay;
    if (FTrace.Mask.Stays)
        FTrace.Line(std::string("stay ") + TapStateName(FStay.State) + " cycles=" + std::to_string(FStay.Cycles) +
                    " ns=" + Ns(FStay.Ticks) + " tms=" + FStay.Tms + Suffix);
}

void Chain::EndOfSession()
{
    if (!FStayOpen)
        return;
    const TapState state = FStay.State;
    EndStay(" at=close");
    BeginStay(state);
}

} // namespace sim
