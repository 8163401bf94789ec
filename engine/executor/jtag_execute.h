// The JTAG executor: holds the settings the front ends copy in, chooses and
// opens one USB cable, creates the player for a data file, wires the cable
// routines of the kind in use into the player's events and starts it; at
// the end it parks the cable's pins and closes it. The cable routines are
// members too, one source file per cable kind.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/bigalloc.h"
#include "base/jtagfile.h"
#include "executor/jtag_admission.h"
#include "usb/usbplow.h"

// The character written for "micro" in the time texts: the Windows-1252
// micro sign unless a front end sets another ('u' in the console program)
// before anything else runs.
extern char MicroSign;

// Bits 24-31 of a ProgrammerId.
constexpr uint8_t CableKindVarnel = 0x00;
constexpr uint8_t CableKindMirrow = 0x02;
constexpr uint8_t CableKindDruvel = 0x7B;
// No cable: the kind byte of -1 (choose automatically), and of an open
// routine that has not opened anything.
constexpr int32_t CableKindNone = -1;

// PreferredKind values that ask AutoSelectCable for a Mirrow (a Mirrow
// first, then a Druvel) and for a Druvel (no other kind).
constexpr int32_t PreferMirrow = 0x02000000;
constexpr int32_t PreferDruvel = 0x7B000000;

constexpr uint32_t OutBufferSize = 15810;
constexpr int32_t RxRingInitialSize = 65536;
// The ring grows before a put would leave fewer free bytes than this.
constexpr int32_t RxRingReserve = 16;
// Varnel replies allowed in flight before another block is written.
constexpr int32_t VarnelMaxRepliesInFlight = 15872;
// A cable that owes replies and has sent none for this long after it could
// have executed everything written is taken as gone.
constexpr uint32_t ReplyTimeoutMs = 5000;

// USB identities of the three kinds.
struct TCableIdentity {
    uint16_t Vid;
    uint16_t Pid;
    const char* SerialMask;
};
constexpr TCableIdentity VarnelIdentity{0x0403, 0xF1A0, "A601????"};
constexpr TCableIdentity MirrowIdentity{0xA600, 0xA003, "A604????"};
constexpr TCableIdentity DruvelIdentity{0xA600, 0xDBCA, "A6??????"};

// The TCK a DefFreq value names, Hz; 0 for a value that names none.
int32_t DefFreqHz(uint8_t DefFreq);

// How a cable is named to the user: "VARNEL S/N A6" and the six upper-case
// hex digits of its serial (MIRROW, DRUVEL by the kind byte).
std::string ProgrammerText(int32_t ProgrammerId);
// Its parts: the kind's name ("VARNEL", "MIRROW", "DRUVEL"; empty for no
// kind) and the serial as printed on the cable ("A6" and six hex digits).
const char* CableName(int32_t Kind);
std::string SerialText(int32_t ProgrammerId);

// The refusal when another program kept the search lock past the wait.
extern const char* const SearchBusyText;
// Said once when a wait for the search lock has lasted a second.
extern const char* const SearchWaitingText;

// The usable cables the three searches found, as ProgrammerIds (Varnels,
// Mirrows, Druvels, each kind in search order), and the devices that could
// not be opened to be looked at.
struct TAttachedCables {
    std::vector<int32_t> Ids;
    int32_t Unopened = 0;
};

// The line that says why no cable was chosen automatically (PreferredKind
// as AutoSelectCable reads it).
std::string NoAutoCableText(const TAttachedCables& Attached, int32_t PreferredKind);
// The line that says why the cable ProgrammerId was not found: Matches is
// how many devices answered to it; FromSettings, it is the settings'
// LastSerial (the front end's advice then follows).
std::string NoSelectedCableText(int32_t ProgrammerId, size_t Matches, const TAttachedCables& Attached,
                                bool FromSettings);

// The host keeps within about this much device time of the cable: what is
// queued is written once it lasts this long, and a write waits until the
// device is within this of done with what was written before.
constexpr uint64_t WaitSliceNs = 100000000;
constexpr uint32_t WaitSliceMs = WaitSliceNs / 1000000;

class TJtagExecuter {
public:
    TJtagExecuter();
    // Frees a player still held and closes a cable still open. A front end
    // frees its player first: a worker still running would call Message on
    // an object half destroyed.
    virtual ~TJtagExecuter();
    TJtagExecuter(const TJtagExecuter&) = delete;
    TJtagExecuter& operator=(const TJtagExecuter&) = delete;

    // One log line; called from the front end's thread and from a player's
    // worker thread.
    virtual void Message(const std::string& Text, MessageKind Kind) = 0;
    // The desktop front end's hook before a run; the executor never calls it.
    virtual bool PrepareCable() = 0;
    // What a user of this front end can do about a refusal the engine has
    // given the cause of; empty: nothing is said.
    enum class TAdvice {
        VoltageLimits, // the target's voltage is outside MirrowVddMin..MirrowVddMax
        SettingsCable, // the settings' LastSerial names a cable that cannot be used
        SettingsNoCable, // the settings' LastSerial names no cable at all
    };
    virtual std::string Advice(TAdvice) const { return {}; }

    // ---- device and buffers

    FT_HANDLE FtHandle = nullptr; // null: no device open
    // Varnel and Mirrow: reply bytes owed for bytes written and not yet taken by a
    // read-back, those already in the ring included.
    int32_t PendingReplies = 0;
    std::array<uint8_t, OutBufferSize> OutBuffer{};
    // Auxiliary pin OR-ed into every Varnel and Mirrow pin command: bit 1
    // drive, bit 0 level (0 released, 2 low, 3 high).
    uint8_t PinBits = 0;
    // Receive ring: bytes from RxReadIndex up to RxWriteIndex, wrapping.
    TBigBytes RxRing;
    int32_t RxWriteIndex = 0;
    int32_t RxReadIndex = 0;

    // ---- settings, filled by the front ends; read here, never written

    uint8_t DefFreq = 0;            // 0 3 MHz, 1 1 MHz, 2 500 kHz, 5/10/15 MHz
    uint8_t DefFreqRuntestTime = 0; // clock of a RUNTEST given as a time
    uint8_t DefFreqRuntestPuls = 0; // clock of a RUNTEST given as a TCK count
    uint8_t RuntestRecalculate = 0;
    bool RuntestRecalculateOnly1000TCK = false;
    uint8_t VarnelVPPActive = 0;   // 0 low, 1 high, 2 released, 3 TRST, 4 SCK
    uint8_t MirrowPActive = 0;     // 0 low, 1 high, 2 released, 3 TRST
    uint8_t VarnelVPPInactive = 0; // 0 low, 1 high, 2 released, 3 keep
    uint8_t MirrowPInactive = 0;
    int32_t SecurityTime = 0; // percent added to every RUNTEST time
    bool IgnoreFreqCmd = false;
    uint8_t FreqToFast = 0;
    int32_t MirrowVddVal = 0; // tenths of a volt
    int32_t MirrowVddMin = 0;
    int32_t MirrowVddMax = 0;
    int32_t MirrowVddDelay = 0; // microseconds
    bool MirrowVddOut = false;

    // ---- state

    int32_t CurrentFrequency = 0; // TCK in force, Hz
    int32_t DesignFrequency = 0;  // last asked for by the data file, Hz
    // Varnel: 0 native clock, n >= 1 pin bytes per half clock.
    int32_t ClockRepeat = 0;
    int32_t MirrowFreqIndex = 0;
    int32_t SelectedCable = 0; // a ProgrammerId; -1 chooses automatically
    uint32_t OutCount = 0;     // bytes queued in OutBuffer
    // A write of the open cable failed: what was queued and what follows it
    // never reaches the chain, so no later write goes and every read-back
    // answers a communication error at once. Cleared when the cable closes.
    bool CableFailed = false;
    // A stop cut a wait or a shift short: the cable is given nothing more
    // (Flush drops what is queued) and no reply is waited for, so that the
    // close's bytes are the next the device sees, at a command boundary.
    bool CutByStop = false;
    // The running player; the front end frees it when the run has ended.
    std::unique_ptr<TJtagFile> CurrentFile;
    // The file PrepareFile checked, until it starts or is refused.
    TAdmission Admission{*this};
    // Cached pin levels, -1 none; the second is the TMS level VarnelTrst keeps.
    std::array<int32_t, 3> LastPinState{};
    int32_t PreferredKind = 0; // PreferMirrow, PreferDruvel, or anything for the usual order

    // The kind of the cable that is open, remembered when its open routine
    // opened the device: closing and flushing go by it, not by
    // SelectedCable, which a front end may change meanwhile.
    int32_t OpenedKind = CableKindNone;

    // ---- the front end's hooks and what the last start met

    // The program's stop, which the front end gives before its first start
    // (the executor's own until then) and asks from any thread: it ends
    // the file's check, a wait for the search lock and a start with
    // nothing played, and the player's worker and the cable routines of a
    // run. It is never taken back here: a stop ends the program's runs.
    void UseStop(platform::TStopToken& Token) { FStop = &Token; }
    platform::TStopToken& StopToken() const { return *FStop; }
    // The stop has been asked for.
    bool Stopping() const { return FStop->Asked(); }
    // The last OpenAndStart gave up because of the stop; a cable it opened
    // is still open, for the front end to close as after a failed run.
    bool StartStopped = false;
    // How the last search or open got on with the search lock.
    TFtLockOutcome SearchLock = TFtLockOutcome::Taken;
    // SelectedCable is the settings' LastSerial rather than a choice of the
    // command line or the user.
    bool CableFromSettings = false;

    // ---- choice, open, start, close

    bool IsVarnel() const { return KindOf(SelectedCable) == CableKindVarnel; }
    bool IsMirrow() const { return KindOf(SelectedCable) == CableKindMirrow; }
    bool IsDruvel() const { return KindOf(SelectedCable) == CableKindDruvel; }
    // "Using VARNEL S/N A6" and the six hex digits of SelectedCable (MIRROW,
    // DRUVEL by kind); empty when SelectedCable names no cable.
    std::string CableInUseText() const;
    static int32_t KindOf(int32_t ProgrammerId) { return (static_cast<uint32_t>(ProgrammerId) >> 24) & 0xFF; }

    // Opens the data file and checks it whole (its player's CheckFile)
    // before any cable is looked for; false after the error's line, or
    // with nothing said when the stop ended the check. The player is
    // kept for the OpenAndStart of the same file.
    bool PrepareFile(const std::string& FileName);
    // Lets a prepared file go when no start follows.
    void ReleasePreparedFile() { Admission.Release(); }
    // Plays FileName on the selected (or first found) cable; true while it
    // plays, CurrentFile then holds the player. The file is prepared first
    // unless PrepareFile has done so: a file that cannot be played touches
    // no cable, nor one changed since its check, nor one whose waits the
    // settings cannot play on the cable chosen. A start that fails keeps
    // no player and no file open.
    bool OpenAndStart(const std::string& FileName);
    // Parks the pins of the open cable by its kind and closes it. False
    // when the closing bytes could not be written, after the line that says
    // what may be left as the run set it: the run has then failed.
    bool CloseCable(bool Failed);
    // The same without a word; false when the closing bytes did not go.
    bool ReleaseCable(bool Failed);
    // The first usable cable: Varnel, Mirrow, Druvel (no Varnel when a
    // Mirrow is preferred, only a Druvel when a Druvel is). False leaves
    // SelectedCable as it was.
    bool AutoSelectCable();
    bool OpenCable();

    // ---- output buffer and receive ring

    // Queues one byte; flushes when the buffer is full. False when the
    // flush failed, or when the buffer is still full from a failed flush.
    // Here, for the encoders call it for every byte they write.
    bool PutByte(uint8_t Value)
    {
        if (OutCount >= OutBufferSize)
            return false;
        OutBuffer[OutCount++] = Value;
        return OutCount < OutBufferSize || Flush();
    }
    // Queues Value Times times; false at the first byte that cannot be queued.
    // A few bytes that leave room in the buffer (a clock's half periods)
    // are queued here, with no call and no flush.
    bool PutRepeated(uint8_t Value, int64_t Times)
    {
        if (Times >= 0 && Times <= 16 && OutCount + 16 <= OutBufferSize && OutCount + Times < OutBufferSize) {
            StoreSixteen(OutBuffer.data() + OutCount, Value);
            OutCount += static_cast<uint32_t>(Times);
            return true;
        }
        return PutRepeatedRun(Value, Times);
    }
    bool PutRepeatedRun(uint8_t Value, int64_t Times);
    // Sixteen copies of Value at Out, in two stores: a repeat of up to 16
    // queues this many and counts only its own (the rest is not queued).
    static void StoreSixteen(uint8_t* Out, uint8_t Value)
    {
        const uint64_t pattern = 0x0101010101010101ull * Value;
        std::memcpy(Out, &pattern, 8);
        std::memcpy(Out + 8, &pattern, 8);
    }
    // By the kind in use: Varnel VarnelFlush, the others PlainFlush. A
    // flush that fails marks the cable failed; a failed cable is not
    // written again.
    bool Flush();
    bool PlainFlush();
    // Moves every byte waiting in the driver into the ring.
    bool ReadPending();
    // ReadPending, then the bytes held; -1 when ReadPending failed.
    int32_t RxAvailable();
    // The bytes held, with a look at the driver only when fewer than N are.
    int32_t RxAvailableFor(int32_t N);
    // -1 USB error; 0 fewer than N available, nothing taken; 1 taken.
    int32_t RxTake(uint8_t* Dest, int32_t N);
    void RxReset();
    void RxGrow();
    void RxPut(const uint8_t* Source, int32_t N);
    bool RxGet(uint8_t* Dest, int32_t N);
    int32_t RxCount() const;

    // ---- reply watch, shared by the cable kinds: when the last reply came
    // and by when the device can have executed everything written.

    uint32_t LastRxTick = 0;
    uint32_t DeviceIdleTick = 0;
    // What rounding up to whole milliseconds added to DeviceIdleTick beyond
    // the device time written, in ns: a long wait written in slices is not
    // given a millisecond more for every slice.
    uint64_t DeviceNsAhead = 0;
    // Adds the device time of a block just written.
    void NoteDeviceTime(uint64_t Nanoseconds);

    // ---- pacing: the host never runs far ahead of the device

    // Device time of the bytes queued since the last write, as the cable
    // routines count it while they queue.
    uint64_t QueuedNs = 0;
    // After bytes that last Ns were queued: once a slice is queued it is
    // written. False ends the routine: a stop (CutByStop then, and the
    // routine returns true for the player to end the run), or a write
    // that failed. Outside a run (an open) nothing is written early.
    bool QueueDeviceTime(uint64_t Ns)
    {
        QueuedNs += Ns;
        return QueuedNs < WaitSliceNs || QueueSliceFull();
    }
    bool QueueSliceFull();
    // One TCK period at the clock in force, as QueueDeviceTime takes it;
    // false only when a write failed.
    bool QueueClockPeriod()
    {
        // Worked out again only when the clock changed: a clock is queued
        // for every TMS step.
        if (PeriodFrequency != CurrentFrequency) {
            PeriodFrequency = CurrentFrequency;
            PeriodNs = 1000000000 / static_cast<uint64_t>(std::max(CurrentFrequency, 1));
        }
        return QueueDeviceTime(PeriodNs) || CutByStop;
    }
    int32_t PeriodFrequency = 0;
    uint64_t PeriodNs = 1000000000;
    // How many parts of Ns each are queued before the slice under way is
    // full (at least one): a routine that fills the buffer in bulk stops there.
    uint64_t SliceFit(uint64_t Ns) const;
    // Waits until the device is within a slice of done with what was
    // written; false when a stop came first.
    bool AwaitDevice();
    // A run plays on the open cable, from its start to the cable's close:
    // only then does the stop cut the cable routines short, so that an
    // open's bytes all go whatever the stop says.
    bool Playing = false;
    // The run playing has been asked to stop.
    bool StopAsked() const { return Playing && Stopping(); }
    // No reply for ReplyTimeoutMs after both the last reply and the end of
    // the device's work.
    bool RepliesOverdue() const;
    // The N replies of one read-back, all or none: Ready when taken (and
    // no longer owed), NotYet while they may still come, CommError on a
    // USB error or once the replies owed are overdue.
    ReadResult TakeReplies(uint8_t* Dest, int32_t N);
    // The same without the copy: when Ready the N replies are the ring's
    // next bytes, for the caller to take with RxGet.
    ReadResult ClaimReplies(int32_t N);
    // Gives the pages of ring bytes From..To, just taken, back to the system.
    void ReleaseTaken(int32_t From, int32_t To);
    static constexpr size_t RxReleaseFrom = size_t{1} << 20;

    // ---- Varnel (jtag_varnel.cpp)

    bool OpenVarnel();
    // Writes the buffer, first waiting until few enough replies are in flight.
    bool VarnelFlush();
    bool VarnelSync();
    bool VarnelShift(const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms);
    ReadResult VarnelReadTdo(uint8_t* Tdo, const uint8_t* Capture, int32_t Count);
    bool VarnelTmsClock(bool Tdi, bool Tms);
    int32_t VarnelSetFrequency(int32_t Hz, bool Apply);
    bool VarnelTrst(bool Level, bool Driven);
    // The RUNTEST policy (jtag_runtest.h) with the Varnel's bytes
    // (jtag_varnel_runtest.cpp); Progress gets the texts and notes.
    bool VarnelRuntestTime(bool Sck, uint32_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress);
    bool VarnelRuntestClocks(bool Sck, uint32_t Count, bool HoldTms, const TJtagMessageEvent& Progress);

    class TRingReader;

    // Native (true) or repeated mode of every queued Varnel shift whose
    // replies are still to be read, oldest first: the read-back decodes
    // them as they were sent, whatever the clock in force by then.
    struct TVarnelShiftMode {
        bool Native;
        int32_t Replies;
    };
    std::deque<TVarnelShiftMode> VarnelShiftModes;
    // The Varnel's native clock byte last written, for its device time.
    uint8_t VarnelDeviceClock = 0xA8;

    // The clock a frequency request of Hz asks of a Mirrow or a Druvel:
    // Hz, or under IgnoreFreqCmd the DefFreq clock (Hz when DefFreq names
    // none), with a note when Apply of what was ignored or forced.
    int32_t RequestedFrequency(int32_t Hz, bool Apply);

    // ---- Mirrow (jtag_mirrow.cpp, its RUNTEST bytes in jtag_mirrow_runtest.cpp)

    bool OpenMirrow();
    // PlainFlush, and the device time and replies of what it wrote.
    bool MirrowFlush();
    bool MirrowSync();
    bool MirrowShift(const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms);
    ReadResult MirrowReadTdo(uint8_t* Tdo, const uint8_t* Capture, int32_t Count);
    bool MirrowTmsClock(bool Tdi, bool Tms);
    bool MirrowTrst(bool Level, bool Driven);
    int32_t MirrowSetFrequency(int32_t Hz, bool Apply);
    // A wait timed by the device in 60 MHz ticks; nothing for 0 or less.
    // Counted, a run's wait goes to the pacing (QueueDeviceTime) and ends
    // at a stop; the open's are not.
    bool MirrowWait(int64_t Nanoseconds, bool Counted = false);
    bool MirrowRuntestTime(bool Sck, uint32_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress);
    bool MirrowRuntestClocks(bool Sck, uint32_t Count, bool HoldTms, const TJtagMessageEvent& Progress);

    // Where the Mirrow's byte stream stood at the end of the last write:
    // the command in force, the operands seen since, the clock index the
    // device runs at. The flush reads what it writes with it.
    struct TMirrowStream {
        uint8_t Command = 0x11;
        uint32_t Operands = 0;
        uint8_t WaitOperand = 0;
        int32_t ClockIndex = 31;
    };
    TMirrowStream MirrowStream;
    // The run's TRST statements, which the Mirrow cannot send, have been
    // warned of.
    bool MirrowTrstWarned = false;

    // ---- Druvel (jtag_druvel.cpp): MPSSE commands on the chip's low byte

    bool OpenDruvel();
    // PlainFlush, then the replies and device time of the commands written
    // go to the reply watch.
    bool DruvelFlush();
    bool DruvelSync();
    bool DruvelShift(const uint8_t* Tdi, const uint8_t* Capture, int32_t Count, bool LastTms);
    ReadResult DruvelReadTdo(uint8_t* Tdo, const uint8_t* Capture, int32_t Count);
    bool DruvelTmsClock(bool Tdi, bool Tms);
    bool DruvelTrst(bool Level, bool Driven);
    int32_t DruvelSetFrequency(int32_t Hz, bool Apply);
    // The RUNTEST policy with the Druvel's bytes (jtag_druvel_runtest.cpp).
    bool DruvelRuntestTime(bool Sck, uint32_t Microseconds, bool HoldTms, const TJtagMessageEvent& Progress);
    bool DruvelRuntestClocks(bool Sck, uint32_t Count, bool HoldTms, const TJtagMessageEvent& Progress);

    // The pin command (TCK low), the clock divisor, and N cycles with TDI 0
    // and TMS as the pins hold it; each false at the first byte that
    // cannot be queued.
    bool DruvelPutPins(bool Tdi, bool Tms);
    bool DruvelPutDivisor(int32_t Divisor);
    bool DruvelPutCycles(uint64_t N, bool Counted = false);

    // Of the commands queued whole and not yet written: the replies they
    // owe and the device time they take (in periods of the 6 MHz base).
    // A command split by a flush counts with the flush that ends it.
    int32_t DruvelQueuedReplies = 0;
    uint64_t DruvelQueuedPeriods = 0;
    // The divisor last queued: the clock the queued cycles run at.
    int32_t DruvelQueuedDivisor = 1;

    // ---- what every kind's open shares

    // CloseCable, then finds the one cable of Id named by SelectedCable and
    // opens it; false after "Fatal error: Cannot find " Name or "Fatal
    // error: FT_Open failed", or after the search lock's refusal.
    bool FindAndOpen(const TCableIdentity& Id, const char* Name);
    // The search and the open of the cable of Id named by SelectedCable,
    // under one taking of the search lock. NotFound has said why; NoSearch
    // (the lock not taken) has said so unless stopped.
    enum class TFindOpen { Opened, NotFound, OpenFailed, NoSearch };
    TFindOpen FindAndOpenSelected(const TCableIdentity& Id);
    // The three searches, under the search lock held by the caller.
    static TAttachedCables AttachedCables();
    // The hooks of every wait for the search lock: the stop, and the
    // waiting line.
    TFtWaitHooks SearchWaitHooks();
    // Notes how Lock's wait went; says so when it was not taken, unless a
    // stop ended it. True when taken.
    bool SearchLockTaken(const TFtSearchLock& Lock);
    // Reads and drops what the device still holds from before; false on a
    // driver error, or when it never stops sending.
    bool DrainStaleBytes();

    // The cable routines of one kind, as OpenAndStart wires them.
    struct TCableEvents {
        bool (TJtagExecuter::*Shift)(const uint8_t*, const uint8_t*, int32_t, bool);
        ReadResult (TJtagExecuter::*ReadTdo)(uint8_t*, const uint8_t*, int32_t);
        bool (TJtagExecuter::*Sync)();
        bool (TJtagExecuter::*TmsClock)(bool, bool);
        bool (TJtagExecuter::*RuntestTime)(bool, uint32_t, bool, const TJtagMessageEvent&);
        bool (TJtagExecuter::*RuntestClocks)(bool, uint32_t, bool, const TJtagMessageEvent&);
        bool (TJtagExecuter::*Trst)(bool, bool);
        int32_t (TJtagExecuter::*SetFrequency)(int32_t, bool);
    };
    // Null for a kind whose routines are not there.
    static const TCableEvents* CableEventsOf(int32_t Kind);
    // Sets the nine events of Player to this executor's routines of Kind;
    // raises Exception "This operation is not implemented." for no kind.
    void WireEvents(TJtagFile& Player, int32_t Kind);

    // PinBits for a run's pin code (low, high, released, TRST: released
    // until the file drives it, SCK: low) and for the after-run code (low,
    // high, released); -1 for a code that keeps PinBits as it is.
    static int PinBitsForActive(uint8_t Code);
    static int PinBitsForInactive(uint8_t Code);

    // The kind that flushing goes by: the open cable's, else SelectedCable's.
    int32_t KindInUse() const { return FtHandle ? OpenedKind : KindOf(SelectedCable); }

private:
    platform::TStopToken FOwnStop;
    platform::TStopToken* FStop = &FOwnStop;
};
