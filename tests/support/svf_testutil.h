// Shared by the SVF player tests: temporary SVF files, an independent model
// of the 16-state TAP controller with one device behind it, and a recording
// fake cable that drives that model through the nine player events.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <stdlib.h>

#include "base/jtagfile.h"

namespace svftest {

// A private folder for the files of one test, removed with it.
class TTempDir {
public:
    TTempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbesk-svf-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr)
            FPath = pattern;
    }
    ~TTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(FPath, ec);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    std::string Write(const std::string& Name, const std::string& Content) const
    {
        const std::string path = (FPath / Name).string();
        std::ofstream out(path, std::ios::binary);
        out << Content;
        return path;
    }
    std::string PathOf(const std::string& Name) const { return (FPath / Name).string(); }

private:
    std::filesystem::path FPath;
};

// The IEEE 1149.1 state diagram, written out independently of the player.
inline TapState TapNext(TapState State, bool Tms)
{
    using S = TapState;
    static const S next[16][2] = {
        {S::IDLE, S::RESET},         {S::IDLE, S::DRSELECT},     {S::DRCAPTURE, S::IRSELECT},
        {S::DRSHIFT, S::DREXIT1},    {S::DRSHIFT, S::DREXIT1},   {S::DRPAUSE, S::DRUPDATE},
        {S::DRPAUSE, S::DREXIT2},    {S::DRSHIFT, S::DRUPDATE},  {S::IDLE, S::DRSELECT},
        {S::IRCAPTURE, S::RESET},    {S::IRSHIFT, S::IREXIT1},   {S::IRSHIFT, S::IREXIT1},
        {S::IRPAUSE, S::IRUPDATE},   {S::IRPAUSE, S::IREXIT2},   {S::IRSHIFT, S::IRUPDATE},
        {S::IDLE, S::DRSELECT},
    };
    return next[static_cast<int>(State)][Tms ? 1 : 0];
}

inline const char* StateName(TapState State)
{
    static const char* const names[] = {"RESET",   "IDLE",     "DRSELECT", "DRCAPTURE", "DRSHIFT",  "DREXIT1",
                                        "DRPAUSE", "DREXIT2",  "DRUPDATE", "IRSELECT",  "IRCAPTURE", "IRSHIFT",
                                        "IREXIT1", "IRPAUSE",  "IREXIT2",  "IRUPDATE"};
    return names[static_cast<int>(State)];
}

// Bits of a value, least significant first.
inline std::vector<uint8_t> BitsOf(uint64_t Value, int Count)
{
    std::vector<uint8_t> bits;
    for (int i = 0; i < Count; ++i)
        bits.push_back(static_cast<uint8_t>((Value >> i) & 1));
    return bits;
}

// A cable with one TAP device behind it. Every event is recorded; TMS
// clocks and shifts move the model, which checks that shifts only happen
// in a Shift state, that RUNTEST waits in a stable state, and that every
// read that captures asks for the capture pattern of the oldest capturing
// shift not yet read.
// Captured TDO bits reach OnRead only after OnFlush, as on a real cable,
// unless DataAfterFlush is cleared.
class TFakeCable {
public:
    // --- the device
    TapState State = TapState::RESET;
    int IrLength = 8;
    uint32_t IrCapture = 0x01;  // loaded in Capture-IR
    uint32_t Ir = 0xFFFFFFFF;   // latched in Update-IR
    // Bits loaded in Capture-DR for the instruction in force; the default
    // is a one-bit bypass register capturing 0.
    std::function<std::vector<uint8_t>(uint32_t Ir, int CaptureIndex)> DrCapture;
    int DrCaptures = 0;

    // --- what the player did
    std::string Tms;                 // TMS of every OnTmsClock
    std::vector<std::string> Calls;  // one line per event (messages apart)
    std::vector<std::pair<std::string, MessageKind>> Messages;
    std::vector<std::string> Violations;
    std::vector<std::vector<uint8_t>> ShiftTdi;
    std::vector<std::vector<uint8_t>> ShiftCapture;
    int Reads = 0;

    // --- how the cable behaves
    std::map<std::string, int> FailAt;  // event name -> the 1-based call that fails
    std::map<std::string, int> CallCount;
    int NotYetAnswers = 0;     // OnRead answers "not yet" this many times first
    bool DataAfterFlush = true;
    uint8_t HighValue = 1;     // the byte written for a high TDO bit
    // Work the cable still does, in events (a shift costs one per bit);
    // then every event fails, so a file that legally asks for hours ends
    // quickly. Negative: no limit.
    int64_t Budget = -1;
    bool BudgetSpent = false;
    // Calls that failed, by FailAt or by the budget.
    int Failures = 0;
    std::function<void(const std::string& Event)> BeforeEvent;  // may throw or block

    void Attach(TJtagFile& File)
    {
        File.OnMessage = [this](const std::string& Text, MessageKind Kind) { Messages.emplace_back(Text, Kind); };
        File.OnShift = [this](const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms) {
            return Shift(Tdi, Capture, Count, LastTms);
        };
        File.OnRead = [this](uint8_t* Tdo, const uint8_t* Capture, int32_t Count) { return Read(Tdo, Capture, Count); };
        File.OnFlush = [this]() {
            if (Event("flush"))
                return false;
            for (uint8_t b : Pending)
                Received.push_back(b);
            Pending.clear();
            return true;
        };
        File.OnTmsClock = [this](bool Tdi, bool TmsValue) {
            Tms.push_back(TmsValue ? '1' : '0');
            if (Event("tms"))
                return false;
            Clock(Tdi, TmsValue);
            return true;
        };
        File.OnRuntestTime = [this](bool Sck, uint32_t Microseconds, bool HoldTms, const TJtagMessageEvent&) {
            CheckRunState(HoldTms);
            return !Event("time " + std::to_string(Microseconds) + (HoldTms ? " hold" : "") + (Sck ? " sck" : ""),
                          "time");
        };
        File.OnRuntestClocks = [this](bool Sck, uint32_t Count, bool HoldTms, const TJtagMessageEvent&) {
            CheckRunState(HoldTms);
            return !Event("clocks " + std::to_string(Count) + (HoldTms ? " hold" : "") + (Sck ? " sck" : ""),
                          "clocks");
        };
        File.OnTrst = [this](bool Level, bool Driven) {
            return !Event(std::string("trst ") + (Level ? "1" : "0") + (Driven ? "1" : "0"), "trst");
        };
        File.OnSetFrequency = [this](int32_t Hz, bool Apply) {
            return Event("freq " + std::to_string(Hz) + (Apply ? " apply" : " test"), "freq") ? -1 : Hz;
        };
    }

    // Messages of one kind, in order.
    std::vector<std::string> MessagesOf(MessageKind Kind) const
    {
        std::vector<std::string> out;
        for (const auto& m : Messages)
            if (m.second == Kind)
                out.push_back(m.first);
        return out;
    }

    int Count(const std::string& CallPrefix) const
    {
        int n = 0;
        for (const auto& c : Calls)
            if (c.rfind(CallPrefix, 0) == 0)
                ++n;
        return n;
    }

private:
    // Records the call; true when this call is to fail.
    bool Event(const std::string& Line, const std::string& Name = "", int64_t Cost = 1)
    {
        const std::string name = Name.empty() ? Line : Name;
        if (Budget >= 0 && name != "read") {
            if (Cost > Budget) {
                Budget = 0;
                BudgetSpent = true;
                ++Failures;
                return true;
            }
            Budget -= Cost;
        }
        if (name != "tms")
            Calls.push_back(Line);
        if (BeforeEvent)
            BeforeEvent(name);
        const int n = ++CallCount[name];
        const auto it = FailAt.find(name);
        const bool fails = it != FailAt.end() && it->second == n;
        Failures += fails;
        return fails;
    }

    void CheckRunState(bool HoldTms)
    {
        const bool stable = State == TapState::RESET || State == TapState::IDLE || State == TapState::DRPAUSE ||
                            State == TapState::IRPAUSE;
        if (!stable)
            Violations.push_back(std::string("run test in ") + StateName(State));
        if (HoldTms != (State == TapState::RESET))
            Violations.push_back(std::string("hold flag wrong in ") + StateName(State));
    }

    uint8_t Clock(bool Tdi, bool TmsValue)
    {
        uint8_t tdo = 0;
        switch (State) {
        case TapState::DRCAPTURE: {
            Register.clear();
            std::vector<uint8_t> bits = DrCapture ? DrCapture(Ir, DrCaptures) : std::vector<uint8_t>{0};
            ++DrCaptures;
            Register.assign(bits.begin(), bits.end());
            break;
        }
        case TapState::IRCAPTURE: {
            const std::vector<uint8_t> bits = BitsOf(IrCapture, IrLength);
            Register.assign(bits.begin(), bits.end());
            break;
        }
        case TapState::DRSHIFT:
        case TapState::IRSHIFT:
            if (!Register.empty()) {
                tdo = Register.front();
                Register.pop_front();
            }
            Register.push_back(Tdi ? 1 : 0);
            break;
        default:
            break;
        }
        State = TapNext(State, TmsValue);
        if (State == TapState::IRUPDATE) {
            Ir = 0;
            for (int i = 0; i < IrLength && i < static_cast<int>(Register.size()); ++i)
                Ir |= static_cast<uint32_t>(Register[static_cast<size_t>(i)]) << i;
        } else if (State == TapState::RESET) {
            Ir = 0xFFFFFFFF;
        }
        return tdo;
    }

    bool Shift(const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms)
    {
        if (Event("shift " + std::to_string(Count), "shift", Count))
            return false;
        if (Count > 0 && State != TapState::DRSHIFT && State != TapState::IRSHIFT)
            Violations.push_back(std::string("shift in ") + StateName(State));
        if (Count == 0)
            Violations.push_back("shift of 0 bits");
        ShiftTdi.emplace_back(Tdi, Tdi + Count);
        ShiftCapture.emplace_back(Capture, Capture + Count);
        // Only captured bits come back; a shift that captures none is not
        // read (the XSVF player never reads its XSIR).
        if (std::any_of(Capture, Capture + Count, [](uint8_t c) { return c != 0; }))
            Unread.emplace_back(Capture, Capture + Count);
        for (int32_t i = 0; i < Count; ++i) {
            const uint8_t tdo = Clock(Tdi[i] != 0, i == Count - 1 ? LastTms : false);
            if (Capture[i] != 0)
                (DataAfterFlush ? Pending : Received).push_back(tdo);
        }
        return true;
    }

    ReadResult Read(uint8_t* Tdo, const uint8_t* Capture, int32_t Count)
    {
        ++Reads;
        if (Event("read " + std::to_string(Count), "read"))
            return ReadResult::CommError;
        if (NotYetAnswers > 0) {
            --NotYetAnswers;
            return ReadResult::NotYet;
        }
        size_t need = 0;
        for (int32_t i = 0; i < Count; ++i)
            need += Capture[i] != 0;
        if (Received.size() < need)
            return ReadResult::NotYet;
        // A read that captures nothing (a scan of no bits is not even
        // shifted) takes nothing.
        if (need > 0) {
            if (Unread.empty())
                Violations.push_back("read of " + std::to_string(Count) + " bits without a capturing shift");
            else if (Unread.front() != std::vector<uint8_t>(Capture, Capture + Count))
                Violations.push_back("read of " + std::to_string(Count) + " bits does not match its shift of " +
                                     std::to_string(Unread.front().size()));
            if (!Unread.empty())
                Unread.pop_front();
        }
        for (int32_t i = 0; i < Count; ++i) {
            if (Capture[i] != 0) {
                Tdo[i] = Received.front() != 0 ? HighValue : 0;
                Received.pop_front();
            } else {
                Tdo[i] = 0xA5; // meaningless where nothing was captured
            }
        }
        return ReadResult::Ready;
    }

    std::deque<std::vector<uint8_t>> Unread; // capture patterns of shifts not yet read
    std::deque<uint8_t> Register;
    std::deque<uint8_t> Pending;
    std::deque<uint8_t> Received;
};

// Polls a started player until its run has ended.
template <class TPlayer>
FileStatus RunToEnd(TPlayer& Player)
{
    FileStatus s;
    while ((s = Player.GetStatus()) == FileStatus::Running)
        std::this_thread::yield();
    return s;
}

} // namespace svftest
