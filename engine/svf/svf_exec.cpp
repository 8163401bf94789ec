// SVF statement execution: the state kept between statements, the TAP walk
// and the joined header, body and trailer shift.
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>
#include <vector>

#include "base/StrUtilsEx.h"
#include "base/tapwalk.h"
#include "svf/svf.h"

namespace {

constexpr int64_t MaxBits = std::numeric_limits<int32_t>::max();
const char* const UsbError = "USB communication error";

// Nearest integer, ties to even, kept inside the event's argument range.
int32_t FrequencyArgument(long double Hz)
{
    const long double r = std::nearbyint(Hz);
    if (r >= static_cast<long double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    if (r <= 0)
        return 0;
    return static_cast<int32_t>(r);
}

// The frequency a FREQUENCY statement asks for: its HZ, else the default.
int32_t FrequencyRequest(const TSVFCommand& Statement, int32_t DefaultHz)
{
    return HasItem(Statement, SvfItemKind::HZ) ? FrequencyArgument(ItemFloat(Statement, SvfItemKind::HZ)) : DefaultHz;
}

// Seconds of a wait of at least one second, to three significant digits:
// fixed with one decimal below 1000 s ("1.0", "12.3", "123.0"), else
// "1.23E+3".
std::string SecondsText(int64_t Microseconds)
{
    const char sep = FormatSettings.DecimalSeparator;
    if (Microseconds < 100000000) {
        const int64_t tenths = (Microseconds + 50000) / 100000;
        return std::to_string(tenths / 10) + sep + std::to_string(tenths % 10);
    }
    if (Microseconds < 1000000000) {
        const int64_t units = (Microseconds + 500000) / 1000000;
        if (units < 1000)
            return std::to_string(units) + sep + "0";
    }
    int digits = 0;
    for (int64_t v = Microseconds; v != 0; v /= 10)
        ++digits;
    int64_t scale = 1;
    for (int k = 0; k < digits - 3; ++k)
        scale *= 10;
    int64_t mantissa = Microseconds / scale;
    if (Microseconds % scale >= scale / 2)
        ++mantissa;
    if (mantissa >= 1000) {
        mantissa /= 10;
        ++digits;
    }
    const int exponent = digits - 7;
    std::string fraction = std::to_string(mantissa % 100);
    if (fraction.size() < 2)
        fraction.insert(0, 1, '0');
    return std::to_string(mantissa / 100) + sep + fraction + "E+" + std::to_string(exponent);
}

// A state the TAP controller stays in while TCK runs with TMS held; a walk
// that ends anywhere else leaves the chain one clock away from where the
// player believes it is.
bool IsStableKind(SvfItemKind Kind)
{
    return Kind == SvfItemKind::RESET || Kind == SvfItemKind::IDLE || Kind == SvfItemKind::DRPAUSE ||
           Kind == SvfItemKind::IRPAUSE;
}

} // namespace

void TSVFFile::CheckStableState(SvfItemKind Kind)
{
    if (!IsStableKind(Kind))
        RaiseLineError(std::string(SvfItemKindName(Kind)) +
                       " is not a stable TAP state (RESET, IDLE, DRPAUSE or IRPAUSE)");
}

void TSVFFile::CheckStates(const TSVFCommand& Statement)
{
    const auto& items = Statement.Items;
    switch (Statement.Command) {
    case SvfCommand::ENDDR:
    case SvfCommand::ENDIR:
        if (items.empty() || !IsStateKind(items[0].Kind))
            RaiseLineError(std::string("TAP state expected after ") + SvfCommandName(Statement.Command));
        CheckStableState(items[0].Kind);
        break;
    case SvfCommand::STATE:
        if (items.empty())
            RaiseLineError("TAP state expected after STATE");
        for (const SvfItem& item : items)
            if (!IsStateKind(item.Kind))
                RaiseLineError("TAP state expected after STATE");
        // A path names every state the TAP passes, one TCK apart; the walk
        // to its first state is the player's own.
        for (size_t k = 1; k < items.size(); ++k)
            if (!IsTapStep(StateOfKind(items[k - 1].Kind), StateOfKind(items[k].Kind)))
                RaiseLineError(std::string("STATE path: ") + SvfItemKindName(items[k].Kind) +
                               " is not one TAP step from " + SvfItemKindName(items[k - 1].Kind));
        CheckStableState(items.back().Kind);
        break;
    case SvfCommand::RUNTEST:
        for (size_t k = 0; k < items.size(); ++k) {
            if (items[k].Kind == SvfItemKind::ENDSTATE) {
                if (k + 1 >= items.size() || !IsStateKind(items[k + 1].Kind))
                    RaiseLineError("TAP state expected after ENDSTATE");
                CheckStableState(items[k + 1].Kind);
                ++k;
            } else if (IsStateKind(items[k].Kind)) {
                // Only the first item is the run state; a state anywhere
                // else would be dropped without a word.
                if (k != 0)
                    RaiseLineError(std::string("TAP state ") + SvfItemKindName(items[k].Kind) +
                                   " out of place in RUNTEST");
                CheckStableState(items[k].Kind);
            }
        }
        break;
    default:
        break;
    }
}

bool TSVFFile::ApplyStatement(const TSVFCommand& Statement)
{
    return Apply(Statement, nullptr);
}

bool TSVFFile::TakeStatement(TSVFCommand& Statement)
{
    return Apply(Statement, &Statement);
}

bool TSVFFile::Apply(const TSVFCommand& Statement, TSVFCommand* Donor)
{
    // Refused here, before any clock, so that no walk gets a target that
    // is not a TAP state.
    CheckStates(Statement);

    switch (Statement.Command) {
    case SvfCommand::ENDDR:
        EndDrState = StateOfKind(Statement.Items[0].Kind);
        return true;
    case SvfCommand::ENDIR:
        EndIrState = StateOfKind(Statement.Items[0].Kind);
        return true;
    case SvfCommand::FREQUENCY:
        if (!OnSetFrequency)
            return true;
        return OnSetFrequency(FrequencyRequest(Statement, DefaultFrequency), false) != -1;
    case SvfCommand::RUNTEST:
        if (!Statement.Items.empty() && IsStateKind(Statement.Items[0].Kind))
            RunState = StateOfKind(Statement.Items[0].Kind);
        return true;
    default:
        break;
    }
    const TKept kept = KeptOf(Statement.Command);
    if (!kept.Tdi)
        return true;
    TVarLen* const tdi = kept.Tdi;
    TVarLen* const tdo = kept.Tdo;
    TVarLen* const mask = kept.Mask;

    const int32_t length = ItemInt(Statement, SvfItemKind::Number);
    ++FScanGeneration;
    if (Side == TSide::Check) {
        // Lengths only: a TDI, given or not, and a MASK given have the
        // statement's; a TDO given has it, else none.
        *tdi = TVarLen::LengthOnly(length);
        *tdo = TVarLen::LengthOnly(HasItem(Statement, SvfItemKind::TDO) ? length : 0);
        if (HasItem(Statement, SvfItemKind::MASK) || mask->BitLength() != length)
            *mask = TVarLen::LengthOnly(length);
        return true;
    }
    try {
        // The first item of a kind, copied into the kept vector's own
        // storage (which a scan of the same size reuses) or moved there.
        const auto keep = [&](SvfItemKind Kind, TVarLen& Target) {
            for (size_t k = 0; k < Statement.Items.size(); ++k)
                if (Statement.Items[k].Kind == Kind) {
                    if (Donor) {
                        std::swap(Target, Donor->Items[k].Vector);
                        RecycleVector(Donor->Items[k].Vector);
                    } else
                        Target = Statement.Items[k].Vector;
                    return true;
                }
            return false;
        };
        if (!keep(SvfItemKind::TDI, *tdi))
            tdi->SetBitLength(length);
        if (!keep(SvfItemKind::TDO, *tdo))
            tdo->SetBitLength(0);
        if (!keep(SvfItemKind::MASK, *mask) && mask->BitLength() != length) {
            mask->SetBitLength(length);
            mask->FillOnes();
        }
        if (Side == TSide::Write)
            tdo->DropBytes();
        else if (Side == TSide::Read)
            tdi->DropBytes();
    } catch (const std::bad_alloc&) {
        RaiseScanMemory(length);
    }
    return true;
}

TSVFFile::TKept TSVFFile::KeptOf(SvfCommand Command)
{
    switch (Command) {
    case SvfCommand::HDR: return {&HdrTdi, &HdrTdo, &HdrMask};
    case SvfCommand::HIR: return {&HirTdi, &HirTdo, &HirMask};
    case SvfCommand::SDR: return {&SdrTdi, &SdrTdo, &SdrMask};
    case SvfCommand::SIR: return {&SirTdi, &SirTdo, &SirMask};
    case SvfCommand::TDR: return {&TdrTdi, &TdrTdo, &TdrMask};
    case SvfCommand::TIR: return {&TirTdi, &TirTdo, &TirMask};
    default: return {};
    }
}

void TSVFFile::CopyMaskInto(TSVFCommand& Statement)
{
    const TKept kept = KeptOf(Statement.Command);
    if (!kept.Mask)
        return;
    for (SvfItem& item : Statement.Items)
        if (item.Kind == SvfItemKind::MASK) {
            item.Vector = TVarLen::CreateCopy(*kept.Mask);
            return;
        }
}

bool TSVFFile::ExecuteStatement(const TSVFCommand& Statement)
{
    bool ok = true;
    switch (Statement.Command) {
    case SvfCommand::FREQUENCY:
        if (OnSetFrequency)
            ok = OnSetFrequency(FrequencyRequest(Statement, DefaultFrequency), true) != -1;
        break;
    case SvfCommand::SDR:
        ok = ExecuteScan(true);
        break;
    case SvfCommand::SIR:
        ok = ExecuteScan(false);
        break;
    case SvfCommand::TRST:
        if (OnTrst && !HasItem(Statement, SvfItemKind::ABSENT)) {
            const bool on = HasItem(Statement, SvfItemKind::ON);
            ok = OnTrst(on, on || HasItem(Statement, SvfItemKind::OFF));
        }
        break;
    case SvfCommand::RUNTEST:
        ok = ExecuteRuntest(Statement);
        break;
    case SvfCommand::STATE:
        for (const SvfItem& item : Statement.Items)
            if (!GotoState(StateOfKind(item.Kind))) {
                ok = false;
                break;
            }
        break;
    case SvfCommand::ENDLOOP:
        if (Statement.InLoop && OnFlush)
            ok = OnFlush();
        break;
    default:
        break;
    }
    if (!ok)
        SendNote(UsbError, MessageKind::Error);
    return ok;
}

bool TSVFFile::ExecuteScan(bool IsDr)
{
    const int32_t total = ScanLength(IsDr, false);
    const TapState end = IsDr ? EndDrState : EndIrState;
    // Nothing to shift: stay out of Shift, whose exit would need a bit, and
    // walk to the end state from where the chain is.
    if (total == 0)
        return CurrentState == end || GotoState(end);
    if (!GotoState(IsDr ? TapState::DRSHIFT : TapState::IRSHIFT))
        return false;
    if (Side != TSide::Check && !ShiftBits(IsDr))
        return false;
    CurrentState = IsDr ? TapState::DREXIT1 : TapState::IREXIT1;
    return GotoState(end);
}

bool TSVFFile::ExecuteRuntest(const TSVFCommand& Statement)
{
    const bool hasTime = HasItem(Statement, SvfItemKind::SEC);
    const bool hasCount = HasItem(Statement, SvfItemKind::Number);
    if (hasCount && ItemInt(Statement, SvfItemKind::Number) < 0)
        RaiseLineError("RUNTEST with a negative run_count");
    if (hasTime && ItemFloat(Statement, SvfItemKind::SEC) < 0)
        RaiseLineError("RUNTEST with a negative min_time");
    if (!hasTime && !hasCount)
        RaiseLineError("RUNTEST without both parameters \"run_count\" and \"min_time SEC\"");

    if (RunState != CurrentState && !GotoState(RunState))
        return false;
    const bool holdTms = RunState == TapState::RESET;
    const bool sck = HasItem(Statement, SvfItemKind::SCK);
    if (hasTime) {
        const long double us = std::nearbyint(ItemFloat(Statement, SvfItemKind::SEC) * 1000000.0L);
        if (!(us < 9.2e18L))
            RaiseLineError("RUNTEST min_time out of range");
        int64_t microseconds = static_cast<int64_t>(us);
        if (microseconds >= 1000000)
            SendNote("Waiting " + SecondsText(microseconds) + " seconds...", MessageKind::Info);
        if (Side == TSide::Check && OnCheckedRuntest)
            OnCheckedRuntest(true, 0);
        if (OnRuntestTime) {
            // The event takes at most 2^31-1 us; a longer time is passed as
            // consecutive waits that add up to it. A stop of the run ends a
            // wait early, and so the parts still to come.
            do {
                const int64_t part = std::min<int64_t>(microseconds, MaxBits);
                if (!OnRuntestTime(sck, static_cast<uint32_t>(part), holdTms, OnMessage))
                    return false;
                microseconds -= part;
            } while (microseconds > 0 && !StopToken().Asked());
        }
    } else {
        const int32_t count = ItemInt(Statement, SvfItemKind::Number);
        if (count > 1000000)
            SendNote("Doing " + std::to_string(count) + " clocks...", MessageKind::Info);
        if (Side == TSide::Check && OnCheckedRuntest)
            OnCheckedRuntest(false, static_cast<uint32_t>(count));
        if (OnRuntestClocks && !OnRuntestClocks(sck, static_cast<uint32_t>(count), holdTms, OnMessage))
            return false;
    }
    const auto& items = Statement.Items;
    for (size_t k = 0; k + 1 < items.size(); ++k)
        if (items[k].Kind == SvfItemKind::ENDSTATE && !GotoState(StateOfKind(items[k + 1].Kind)))
            return false;
    return true;
}

bool TSVFFile::GotoState(TapState Target)
{
    return GotoTapState(*this, CurrentState, Target, [this](const std::string& Message) { RaiseLineError(Message); });
}

TSVFFile::TScanParts TSVFFile::ScanParts(bool IsDr) const
{
    if (IsDr)
        return {{&HdrTdi, &SdrTdi, &TdrTdi}, {&HdrTdo, &SdrTdo, &TdrTdo}, {&HdrMask, &SdrMask, &TdrMask}};
    return {{&HirTdi, &SirTdi, &TirTdi}, {&HirTdo, &SirTdo, &TirTdo}, {&HirMask, &SirMask, &TirMask}};
}

int32_t TSVFFile::ScanLength(bool IsDr, bool ByMask)
{
    const TScanParts parts = ScanParts(IsDr);
    int64_t total = 0;
    for (const TVarLen* p : ByMask ? parts.Mask : parts.Tdi)
        total += p->BitLength();
    if (total > MaxBits)
        RaiseLineError("Scan of " + std::to_string(total) + " bits is longer than 2147483647 bits");
    return static_cast<int32_t>(total);
}

bool TSVFFile::ShiftBits(bool IsDr)
{
    const TScanParts parts = ScanParts(IsDr);
    const int32_t count = ScanLength(IsDr, false);
    SizeScanBuffer(FShiftTdi, count);
    SizeScanBuffer(FShiftCapture, count);
    uint8_t* bits = FShiftTdi.data();
    uint8_t* capture = FShiftCapture.data();
    for (int p = 0; p < 3; ++p) {
        const int32_t n = parts.Tdi[p]->BitLength();
        parts.Tdi[p]->BitsToBytes(bits, n);
        // Captured: the mask's bits, where the piece has expected data.
        const int32_t masked = parts.Tdo[p]->BitLength() > 0 ? std::min(n, parts.Mask[p]->BitLength()) : 0;
        parts.Mask[p]->BitsToBytes(capture, masked);
        std::fill(capture + masked, capture + n, uint8_t{0});
        bits += n;
        capture += n;
    }
    if (count > 100000)
        SendNote("Extremely large shift: " + IntToStrGrouped(count) + " bits.", MessageKind::Info);
    const bool ok = !OnShift || OnShift(FShiftTdi.data(), FShiftCapture.data(), count, true);
    ReleaseLarge(FShiftTdi);
    ReleaseLarge(FShiftCapture);
    return ok;
}
