// What a scenario can make an emulated cable do wrong, and the USB side that
// every cable kind shares: it takes the host's writes, holds its replies back
// as the faults say, and hands the rest to the kind's byte decoder.
//
// Scenario keys, inside one device's object (all optional):
//   "faults": {
//     "write_fail_after": N    the FT_Write that would take the device past
//                              N bytes fails and takes nothing, and so does
//                              every write after it
//     "read_fail_after": N     once the host has read N bytes, reads fail
//                              (ReadFails(): FT_GetQueueStatus and FT_Read
//                              report an I/O error); the device stays present
//     "unplug_after": N        the device takes N bytes and is gone: a write
//                              that passes N fails, and so does every later call
//     "replies_stop_after": N  the device sends its first N replies, then
//                              none; writes still succeed
//     "reply_delay": P         a reply shows only after P further polls
//                              (calls of Available, i.e. FT_GetQueueStatus)
//     "trickle": K             at most K held replies come out per poll
//     "reply_interval_ms": M   replies come out one at a time, at least M
//                              ms of real time apart (a slow link whose
//                              run lasts a known real time)
//     "probe": "silent" | "wrong"
//                              the open's probe goes unanswered, or is answered
//                              with bits the host must refuse (the kind's
//                              decoder knows which bytes are its probe)
//     "stale_bytes": N | [b, ...]
//                              bytes waiting at every FT_Open: N bytes 0xFF,
//                              or the values listed
//     "wrong_tdo": K | {"scan": K, "register": "any" | "ir" | "dr", "bit": B}
//                              TDO inverted during the K-th scan (from 1,
//                              counting scans of the register named, default
//                              any), at bit B of that scan only or, without
//                              "bit", at every bit
//     "close_fails": true      the cable's closing write fails and takes
//                              nothing (a Varnel's and a Mirrow's park
//                              bytes; a Druvel's bit-mode reset out of
//                              MPSSE mode): the pins stay as the run left them
//   }
// Numbers are JSON integers or strings of hex digits ("0x" optional; "0b"
// for binary). Unknown keys are refused, so a misspelt fault cannot pass
// unseen.
//
// Trace lines, prefixed with Who():
//   open stale=2 unread=0
//   close written=5123 unread=0 maxunread=812 bytes=4 last=A3 A8 EE C8
//                              (bytes: size of the last write; last: its
//                              final 16 bytes at most)
//   fault write-failed written=N count=N, fault unplugged written=N,
//   fault close-failed,
//   fault reads-fail read=N, fault replies-stopped after=N, and the
//   decoder's own (fault probe silent byte=D1, ...)
//
// Fast mode, beside "faults" in the device's object:
//   "fast": true               no chain is simulated and no device time
//                              kept: every command gets the reply bytes the
//                              kind's protocol gives it, every captured bit
//                              reads 1, and the decoder leaves no trace of
//                              its own; so a run's CPU time is the host's.
//                              The link's faults still apply.
//   "paced": true              the device runs the host's bytes at its own
//                              pace, as a real chip: a write returns once
//                              the bytes the device has not yet run fit into
//                              its input buffer, and each reply shows when
//                              the device has run the command that makes it.
//                              Not with "fast", which keeps no time.
//   "device_buffer": N         paced: the chip's input buffer, bytes (4096,
//                              as the FTDI chip's; 0: a write returns only
//                              once the device has run all of it)
// Paced, once the open has written, a line of its own before the close line:
//   paced busy_ms=812.4 idle_ms=35.1
//                              from the open's first write to its close:
//                              the device time run, and the real time the
//                              device had run everything written and waited
//                              for the host (how busy the host kept it)
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "cables/protocol.h"

namespace sim {

// A scenario entry this model cannot build.
class ConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A non-negative integer: a JSON number or a hex string ("1F", "0x1F"),
// binary with "0b". What names the value in the error text.
uint64_t ConfigUnsigned(const nlohmann::json& Value, const std::string& What);
// The digits of such a string without its "0x" or "0b"; Radix becomes 16 or 2.
std::string ConfigDigits(const nlohmann::json& Value, const std::string& What, unsigned& Radix);
// The value of one digit in Radix; a bad digit is a ConfigError naming Value.
unsigned ConfigDigit(char C, unsigned Radix, const nlohmann::json& Value, const std::string& What);
// Refuses keys of Object other than those listed.
void ConfigKeys(const nlohmann::json& Object, const std::vector<std::string>& Known, const std::string& What);

enum class TdoFaultRegister : uint8_t { Any, Ir, Dr };

struct TdoFault {
    uint64_t Scan = 0; // 0: none
    TdoFaultRegister Register = TdoFaultRegister::Any;
    std::optional<uint64_t> Bit; // none: every bit of the scan
};

enum class ProbeFault : uint8_t { None, Silent, Wrong };

struct Faults {
    std::optional<uint64_t> WriteFailAfter;
    std::optional<uint64_t> ReadFailAfter;
    std::optional<uint64_t> UnplugAfter;
    std::optional<uint64_t> RepliesStopAfter;
    uint64_t ReplyDelay = 0;
    uint64_t Trickle = 0; // 0: no limit
    uint64_t ReplyIntervalMs = 0;
    ProbeFault Probe = ProbeFault::None;
    std::vector<uint8_t> StaleBytes;
    TdoFault WrongTdo;
    bool CloseFails = false;

    // From Device["faults"]; none there is no fault.
    static Faults FromJson(const nlohmann::json& Device);
};

// The USB side of an emulated cable: faults on the link, reply hold-back,
// and the trace lines for open and close. A kind's decoder implements
// Execute and calls Reply for every byte its device sends back.
class CableProtocol : public Protocol {
public:
    // Kind names the decoder in trace lines ("varnel"), with the device's
    // "serial" when it has one: "varnel:A6010001".
    CableProtocol(const std::string& Kind, const nlohmann::json& Device);

    void Opened() override;
    void Closed() override;
    bool HostWrite(const uint8_t* Data, size_t Count) override;
    size_t Available() override;
    size_t Read(uint8_t* Buffer, size_t Count) override;
    void Purge() override;
    bool Present() const override { return !FUnplugged; }
    bool ReadFails() const override;
    std::chrono::steady_clock::time_point BusyUntil() const override { return FBusyUntil; }
    std::chrono::steady_clock::time_point WriteReturnsAt() override;

    const std::string& Who() const { return FWho; }
    bool Fast() const { return FFast; }
    const Faults& FaultConfig() const { return FFaults; }
    // Bytes the device has taken from the host, over its whole life.
    uint64_t Written() const { return FWritten; }
    // Replies made and not yet read, held back or not; and the most there
    // ever were (a host that paces its replies keeps this bounded).
    size_t Unread() const { return Rx.size() + FHeld.size() + FTimed.size(); }
    size_t MaxUnread() const { return FMaxUnread; }

protected:
    virtual void Execute(const uint8_t* Data, size_t Count) = 0;
    // Fast mode: the reply a command byte gets when every captured bit
    // reads 1, or -1 for a byte that gets none. One byte in, at most one
    // reply out, by the byte alone (FastExecute asks once a byte value and
    // answers from a table); a kind whose commands span bytes overrides
    // FastExecute.
    virtual int FastReply(uint8_t) const { return -1; }
    virtual void FastExecute(const uint8_t* Data, size_t Count);
    // The write holds the kind's closing bytes (for the close_fails fault).
    virtual bool IsClosingWrite(const uint8_t*, size_t) const { return false; }
    // The decoder's share of open and close (its own trace lines).
    virtual void SessionOpened() {}
    virtual void SessionClosed() {}

    void Reply(uint8_t Byte);
    // Many replies at once, as Reply would queue them one by one.
    void ReplyBytes(const uint8_t* Bytes, size_t Count);
    // Replies gathered a block at a time for ReplyBytes: a fast run's
    // decoders answer millions of bytes. Send before any Reply of another
    // path, so that the order stays.
    class TReplyBatch {
    public:
        explicit TReplyBatch(CableProtocol& Owner) : FOwner(Owner) {}
        ~TReplyBatch() { Send(); }
        void Add(uint8_t Byte)
        {
            FBytes[FCount++] = Byte;
            if (FCount == sizeof FBytes)
                Send();
        }
        void Send()
        {
            if (FCount == 0)
                return;
            FOwner.ReplyBytes(FBytes, FCount);
            FCount = 0;
        }

    private:
        CableProtocol& FOwner;
        uint8_t FBytes[4096];
        size_t FCount = 0;
    };
    // One trace line, prefixed with Who().
    void TraceEvent(std::string_view Text) const;

private:
    // FastReply of every byte value, made at the first fast write.
    std::array<int16_t, 256> FFastReplies{};
    bool FFastRepliesMade = false;
    struct Held {
        uint8_t Byte;
        uint64_t ReadyAtPoll;
    };

    void Unplug();

    std::string FWho;
    Faults FFaults;
    uint64_t FWritten = 0;
    uint64_t FRead = 0;
    uint64_t FReplies = 0;
    uint64_t FPolls = 0;
    std::chrono::steady_clock::time_point FLastRelease{};
    std::deque<Held> FHeld;
    size_t FMaxUnread = 0;
    bool FFast = false;
    bool FPaced = false;
    // Paced: when the device will have executed everything written.
    std::chrono::steady_clock::time_point FBusyUntil{};
    size_t FDeviceBuffer = DefaultDeviceBuffer;
    static constexpr size_t DefaultDeviceBuffer = 4096;
    // Paced: by when the device has run the bytes up to End (of Written()),
    // oldest first; and the replies it has made but not yet sent.
    struct TRunBy {
        uint64_t End;
        std::chrono::steady_clock::time_point At;
    };
    std::deque<TRunBy> FRunBy;
    uint64_t FRunDone = 0;
    struct TTimedReply {
        uint8_t Byte;
        std::chrono::steady_clock::time_point At;
    };
    std::deque<TTimedReply> FTimed;
    // Paced, this open: whether the device has been written yet, and its
    // busy and idle time since.
    bool FRunStarted = false;
    std::chrono::nanoseconds FBusyTime{};
    std::chrono::nanoseconds FIdleTime{};
    // The device waited for the host from FBusyUntil to Now.
    void NoteIdleUntil(std::chrono::steady_clock::time_point Now);
    void ExecutePaced(const uint8_t* Data, size_t Count, Chain& Jtag);
    void ReleaseTimed();
    bool FUnplugged = false;
    bool FWriteFailSeen = false;
    bool FStopSeen = false;
    // The last write's final 16 bytes at most, and its size.
    std::vector<uint8_t> FLastWrite;
    size_t FLastWriteSize = 0;
};

} // namespace sim
