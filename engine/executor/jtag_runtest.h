// The RUNTEST policy every cable kind shares: the time SecurityTime adds,
// the turn of a TCK count into a time, the choice of clock by
// DefFreqRuntestTime and DefFreqRuntestPuls, their texts and the progress
// notes of long waits. A cable kind adds only its bytes (TRuntestBytes).
//
// Times and counts are computed in 64 bits throughout, so that no wait is
// ever shorter than asked, however long.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

#include "executor/jtag_execute.h"

// The clock a wait runs at, as the setting's value acts: 0 stopped (timed
// by the device), 1 low (about 100 kHz), 2 1 MHz, 3 the design frequency,
// 4 the TCK in force.
enum class TRuntestClock : uint8_t { Stopped = 0, Low = 1, OneMhz = 2, Design = 3, InForce = 4 };

// What differs between the kinds in the choice of clock.
struct TRuntestRules {
    int32_t LowClockMinHz;      // a time wait at the low clock needs at least this TCK in force
    int32_t OneMhzClockMinHz;   // and one at 1 MHz this
    int32_t CountOneMhzMinHz;   // a count at 1 MHz this (0: any)
    bool UndefinedCountClockRaises; // else an undefined DefFreqRuntestPuls acts as 4
    // What a time wait with the clock stopped raises on a kind that has no
    // wait of its own; none where the device times it.
    const char* StoppedClockRefusal = nullptr;
};

// The progress notes of one long wait: made after the TMS hold, stepped
// after every wait byte or cycle the kind queues; a note every 5 s by the
// tick counter. Asks the clock nothing when there is nowhere to report.
class TRuntestProgress {
public:
    explicit TRuntestProgress(const TJtagMessageEvent& Progress);
    void Step(int64_t Done, int64_t Total);

private:
    const TJtagMessageEvent& FProgress;
    uint32_t FStart = 0;
    uint32_t FMark = 0;
};

// A long shift is sliced the same way, by the device time of its bits at
// the clock in force, and a stop cuts it only between two of its cable's
// commands.
uint64_t ShiftBitNs(const TJtagExecuter& Executer);

// One kind's bytes of a RUNTEST. Each returns false at the first byte that
// cannot be queued.
class TRuntestBytes {
public:
    virtual ~TRuntestBytes() = default;
    // Holds TMS at Tms for the wait.
    virtual bool HoldTms(bool Tms) = 0;
    // The clock change and the wait of Microseconds at Clock.
    virtual bool TimeWait(TRuntestClock Clock, uint64_t Microseconds, TRuntestProgress& Progress) = 0;
    // The clock change and Count cycles at Clock (never Stopped or Low).
    virtual bool CountWait(TRuntestClock Clock, uint64_t Count, TRuntestProgress& Progress) = 0;
    // Back to the clock in force, so that the next shift runs at it.
    virtual bool RestoreClock() = 0;
};

// The two run-test events of a kind: the policy, then Bytes. Progress gets
// every text with kind 0; none when it is empty. Exceptions of the kind's
// bytes and of an undefined count clock leave the event.
bool PlayRuntestTime(TJtagExecuter& Executer, const TRuntestRules& Rules, TRuntestBytes& Bytes,
                     uint64_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress);
bool PlayRuntestClocks(TJtagExecuter& Executer, const TRuntestRules& Rules, TRuntestBytes& Bytes, uint32_t Count,
                       bool HoldTms, const TJtagMessageEvent& Progress);

// ---- the pieces of the policy

// Beyond any wait a file can mean (some 70 000 years), and small enough
// that the kinds' products of it stay in 64 bits.
constexpr uint64_t MaxRuntestUs = uint64_t{INT64_MAX} / 8;

// Microseconds with SecurityTime percent added (rounded, ties to even),
// at most MaxRuntestUs; unchanged for 0 or less.
uint64_t SecurityAdjusted(int32_t SecurityTime, uint64_t Microseconds);
// The clock of a time wait, of a count wait (the latter raises Exception
// "DefFreqRuntestPuls not defined" for an undefined setting when the kind's
// rules say so).
TRuntestClock RuntestTimeClock(const TJtagExecuter& Executer, const TRuntestRules& Rules);
TRuntestClock RuntestCountClock(const TJtagExecuter& Executer, const TRuntestRules& Rules);
// What the settings make a wait of the kind raise in a run, before any of
// it is queued: a time wait (ByTime) or one of Count cycles; empty when it
// can be played. No cable is asked.
std::string RuntestRefusal(const TJtagExecuter& Executer, int32_t Kind, bool ByTime, uint32_t Count);
// DesignFrequency, or CurrentFrequency when that is no frequency, or 1 Hz
// when neither is: whatever divides by it gets a positive number.
int32_t RuntestDesignHz(const TJtagExecuter& Executer);
// The time a count is waited as under RuntestRecalculate, in microseconds;
// none when the count is clocked as it is.
std::optional<uint64_t> RuntestCountAsTime(const TJtagExecuter& Executer, uint32_t Count);
// "1 234 us" with the grouped number and MicroSign.
std::string MicrosecondsText(uint64_t Microseconds);

// floor(A * B / C) without overflow; C > 0.
uint64_t MulDivFloor(uint64_t A, uint64_t B, uint64_t C);
// At least Cycles, and enough cycles of PeriodNum / PeriodDen microseconds
// each to last Microseconds: a nominal frequency that rounds above the real
// clock must not make the wait short.
uint64_t CyclesCovering(uint64_t Cycles, uint64_t Microseconds, uint64_t PeriodNum, uint64_t PeriodDen);

// "...done yet P%, estimated remaining S sec" to Progress (nothing when it
// is empty), S from the ticks since StartTick.
void ReportProgress(uint32_t StartTick, int64_t Done, int64_t Total, const TJtagMessageEvent& Progress);
