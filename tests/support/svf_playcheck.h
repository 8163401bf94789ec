// Plays an SVF file through the worker thread over the fake cable and
// judges the run as the fuzz target does: the chain never saw a shift
// outside a Shift state, a wait outside a stable state or a read that does
// not match its shift; a run that succeeded reported no error, met no
// failing cable call and left the chain in a stable state; a run that
// failed said why, with at most one fatal error. For some files, chosen by
// their bytes, one read-back or one flush of the cable fails: no run may
// succeed after that; for others the run is asked to stop: it must end as
// failed within a few cable events. Shared by the fuzz targets and the tests of their
// findings.
#pragma once

#include <chrono>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <thread>
#include <string>

#include "support/svf_testutil.h"
#include "svf/svf.h"

namespace svftest {

// Cable events a judged run may use: enough for every path, few enough
// that a file asking for hours ends in moments.
constexpr int64_t JudgeBudget = 200000;

// A 32-bit data register for instruction 0x01, else a one-bit bypass, so
// that reads both match and mismatch.
inline void JudgeChain(TFakeCable& Cable, int64_t Budget)
{
    Cable.Budget = Budget;
    Cable.DrCapture = [](uint32_t Ir, int) {
        return Ir == 0x01 ? BitsOf(0x12345679u, 32) : std::vector<uint8_t>{0};
    };
}

// A hash of a file's bytes, which chooses what goes wrong in its run.
inline uint64_t BytesHash(const std::string& Bytes)
{
    uint64_t h = 14695981039346656037ull;
    for (const char c : Bytes)
        h = (h ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    return h;
}

// The cable call that fails in the run of a file with these bytes: for one
// file in eight a read-back, for one in eight a flush, each one of the
// first few; none for the rest.
inline void PlanFaults(TFakeCable& Cable, const std::string& Bytes)
{
    const uint64_t h = BytesHash(Bytes);
    const int nth = 1 + static_cast<int>((h >> 3) % 3);
    if (h % 8 == 0)
        Cable.FailAt["read"] = nth;
    else if (h % 8 == 1)
        Cable.FailAt["flush"] = nth;
}

// The cable event (from 1) within which the run of a file with these bytes
// is asked to stop, as a stop from another thread may come: for one file
// in eight one of its first few dozen events; 0 for the rest.
inline int PlannedStop(const std::string& Bytes)
{
    const uint64_t h = BytesHash(Bytes);
    return h % 8 == 2 ? 2 + static_cast<int>((h >> 3) % 32) : 0;
}

// Cable events other than TMS clocks that a stopped run may still make:
// the rest of the statement, or of the XC9500 attempt, under way when the
// stop came (a STATE statement may walk through any number of states).
constexpr int StopAllowance = 64;

// A planned stop and the cable events of the run that had it.
struct TStopPlan {
    int At = 0; // 0: none
    int Events = 0;
    int After = 0; // events after the stop, TMS clocks apart
    bool Stopped() const { return At > 0 && Events >= At; }
};

inline std::string FileBytes(const std::string& Path)
{
    std::ifstream in(Path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What is wrong with the run, empty when nothing. EndStable: a run that
// succeeded must leave the chain where a TAP can rest (every SVF end state
// is one; an XSVF file may end where it likes). A run that was stopped
// ends soon after, as failed unless the stop came with its last event, and
// may say nothing (the front end says why).
inline std::string JudgeRun(FileStatus Status, const TFakeCable& Cable, bool EndStable = true,
                            const TStopPlan& Stop = {})
{
    if (!Cable.Violations.empty())
        return "the chain saw: " + Cable.Violations.front();
    if (Stop.Stopped() && Stop.After > StopAllowance)
        return "played on after a stop: " + std::to_string(Stop.After) + " cable events";
    int errors = 0;
    int fatal = 0;
    // Errors that a retry then made good (the XSVF XC9500 method reports
    // the mismatch of an attempt, then retries) do not count against a run
    // that succeeded.
    int unanswered = 0;
    for (const auto& m : Cable.Messages) {
        if (m.second == MessageKind::Error) {
            ++errors;
            ++unanswered;
            fatal += m.first.rfind("Fatal error", 0) == 0;
        } else if (m.first.rfind("SD instruction: retry #", 0) == 0) {
            unanswered = 0;
        }
    }
    const bool stable = Cable.State == TapState::RESET || Cable.State == TapState::IDLE ||
                        Cable.State == TapState::DRPAUSE || Cable.State == TapState::IRPAUSE;
    switch (Status) {
    case FileStatus::Succeeded:
        // Only a stop that came with the run's last cable event may leave
        // nothing more to fail.
        if (Stop.Stopped() && Stop.Events > Stop.At)
            return "succeeded after a stop";
        if (unanswered > 0)
            return "succeeded after an error: " + Cable.MessagesOf(MessageKind::Error).back();
        if (Cable.BudgetSpent)
            return "succeeded although the cable failed";
        // Bytes may have been lost: no retry and no later call makes good.
        if (Cable.Failures > 0)
            return "succeeded after a communication error";
        if (EndStable && !stable)
            return std::string("succeeded with the chain in ") + StateName(Cable.State);
        return "";
    case FileStatus::Failed:
        if (errors == 0 && !Stop.Stopped())
            return "failed without an error";
        if (fatal > 1)
            return "more than one fatal error";
        return "";
    default:
        return "no outcome";
    }
}

// Starts a player of the file at Path on a fresh judged chain, with the
// faults and the stop its bytes plan, and judges its run.
inline std::string JudgeStarted(TJtagFile& Player, const std::string& Path, TFakeCable& Cable, int64_t Budget,
                                bool EndStable)
{
    JudgeChain(Cable, Budget);
    const std::string bytes = FileBytes(Path);
    PlanFaults(Cable, bytes);
    TStopPlan stop;
    stop.At = PlannedStop(bytes);
    // Counted by the worker (the first event comes before it runs); read
    // once it has finished.
    Cable.BeforeEvent = [&](const std::string& Event) {
        if (stop.Stopped() && Event != "tms")
            ++stop.After;
        if (++stop.Events == stop.At)
            Player.Stop();
    };
    Cable.Attach(Player);
    Player.Start(1000000);
    FileStatus status;
    // Polled gently: a spinning poll takes the processor from the worker.
    while ((status = Player.GetStatus()) == FileStatus::Running)
        std::this_thread::sleep_for(std::chrono::microseconds(20));
    Cable.BeforeEvent = {};
    return JudgeRun(status, Cable, EndStable, stop);
}

// The error of the check before the run, as the worker writes the same
// error; empty when the check found none.
inline std::string CheckedError(TSVFFile& Player)
{
    try {
        Player.CheckFile({});
    } catch (const ELineException& e) {
        return "Fatal error " + e.Message() + " near line " + std::to_string(e.LineNumber) + "\r\n\"" + e.LineText +
               "\"";
    } catch (const Exception& e) {
        return "Fatal error " + e.Message();
    }
    return "";
}

// What is wrong with the check's verdict on a run judged sound: a file it
// passes plays with no fatal error; a file it refuses does not play well,
// and a fatal error of its run is the one the check found (the run may end
// before, on a compare error, a failing cable or a stop).
inline std::string JudgeCheck(const std::string& Checked, const TFakeCable& Cable, FileStatus Status)
{
    std::string fatal;
    for (const auto& m : Cable.Messages)
        if (m.second == MessageKind::Error && m.first.rfind("Fatal error", 0) == 0)
            fatal = m.first;
    const bool failed = Status == FileStatus::Failed;
    if (Checked.empty())
        return fatal.empty() ? "" : "the check passed a file whose run ended with: " + fatal;
    if (!failed)
        return "the check found \"" + Checked + "\", yet the run succeeded";
    if (!fatal.empty() && fatal != Checked)
        return "the check found \"" + Checked + "\", the run " + fatal;
    return "";
}

// Checks the SVF file at Path as a start does, then plays it to its end on
// a fresh judged chain.
inline std::string JudgePlay(const std::string& Path, TFakeCable& Cable, int64_t Budget)
{
    TSVFFile player(Path);
    const std::string checked = CheckedError(player);
    const std::string fault = JudgeStarted(player, Path, Cable, Budget, true);
    return fault.empty() ? JudgeCheck(checked, Cable, player.GetStatus()) : fault;
}

} // namespace svftest
