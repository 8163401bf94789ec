// The XSVF player. Several objects work on one file, each with its own
// handle, read position and format state: the master that the registry
// creates (it pre-scans the file and owns the worker) and the instances
// that Start gives the worker: a write-ahead and a read-back one in
// pipelined play, a single one in the XC9500 method.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/jtagfile.h"
#include "base/sysutils.h"
#include "base/varlenu.h"
#include "filereader.h"

// Opcodes of the binary format that the player accepts.
enum XsvfOpcode : uint8_t {
    XCOMPLETE = 0x00,
    XTDOMASK = 0x01,
    XSIR = 0x02,
    XSDR = 0x03,
    XRUNTEST = 0x04,
    XREPEAT = 0x07,
    XSDRSIZE = 0x08,
    XSDRTDO = 0x09,
    XSDRB = 0x0C,
    XSDRC = 0x0D,
    XSDRE = 0x0E,
    XSDRTDOB = 0x0F,
    XSDRTDOC = 0x10,
    XSDRTDOE = 0x11,
    XSTATE = 0x12,
    XENDIR = 0x13,
    XENDDR = 0x14,
    XCOMMENT = 0x16,
};

// One command as it stands in the file: the opcode, then its operand bytes
// in file order. Empty: no command held.
using TXSVFCommand = std::vector<uint8_t>;

class TXSVFReadWriteThread;

class TXSVFFile : public TJtagFile {
public:
    // The registry's constructor: opens the file. Raises Exception "Cannot
    // open file <name> for read.".
    explicit TXSVFFile(const std::string& FileName);
    // Waits for a started worker thread (without asking it to stop).
    ~TXSVFFile() override;

    // The worker's instances and the pre-scan's: the file opened, no scan.
    static std::unique_ptr<TXSVFFile> CreateReader(const std::string& FileName);
    static std::unique_ptr<TXSVFFile> CreateScanner(const std::string& FileName);

    static std::string FileTypeName() { return "XSVF"; }

    // Creates the play instances, then the worker; makes the first
    // OnSetFrequency(FrequencyHz, true) on this thread and resumes the
    // worker. False when that call failed (the worker ends at once with
    // status Failed) or when the player was started before. An instance
    // whose file cannot be opened any more raises, and no worker is left.
    bool Start(int32_t FrequencyHz) override;
    FileStatus GetStatus() override;
    // Commands done (the slower side's while the worker exists) of the
    // commands in the file, XCOMPLETE included.
    int32_t GetPosition() override;
    int32_t GetSize() override;
    void Stop() override;
    // Scans the whole file as the play would, with no cable, so that a file
    // that cannot be played is refused before any cable call: "Unknown
    // command XX", the end-of-file, read and size errors of the reader, and
    // a data size whose vectors the memory cannot hold. Finds the play mode
    // and the command count. A Start without it scans first.
    void CheckFile(const platform::TStopToken& Stop) override;

    // --- reader and decoder
    // The next byte of the file. Raises Exception at the end of the file
    // and on a read error, both naming the file.
    uint8_t ReadByte();
    // Decodes the next command; an opcode outside the format raises
    // "Unknown command XX" with the command holding the opcode alone.
    void ReadCommand(TXSVFCommand& Command);
    static void ClearCommand(TXSVFCommand& Command) { Command.clear(); }
    // Big-endian 32-bit value of Command[Index .. Index + 3].
    static uint32_t GetBE32(const TXSVFCommand& Command, size_t Index);
    // Sets Vector to Bits bits from the operand at Index, whose last byte
    // holds bits 0 to 7.
    static void LoadVector(const TXSVFCommand& Command, size_t Index, int32_t Bits, TVarLen& Vector);
    static int64_t BytesForBits(int64_t Bits) { return (Bits + 7) / 8; }

    // --- execution
    // The state a command sets (mask, sizes, times, repeat, end states);
    // no cable action. An XSDRSIZE of 2^31 bits or more raises.
    void ApplyCommand(const TXSVFCommand& Command);
    // True for XCOMPLETE, which flushes the cable each time it is asked. A
    // flush that fails sends "USB communication error" and sets
    // CompleteFlushFailed.
    bool IsComplete(const TXSVFCommand& Command);
    // An XCOMPLETE's flush failed: what was queued never reached the chain.
    bool CompleteFlushFailed() const { return FCompleteFlushFailed; }
    // Plays the command; false after a cable failure, which has been
    // reported as "USB communication error".
    bool DoCommandWrite(const TXSVFCommand& Command);
    // Reads back and compares what the write side captured for Command.
    ReadResult DoCommandRead(const TXSVFCommand& Command);
    bool GotoState(TapState Target);
    // Raises when the walk is not in Shift-DR, before a command that shifts
    // on in it.
    void RequireShiftDr(const char* Name);
    bool ShiftNoCapture(bool LastTms);
    bool ShiftCaptureMasked(bool LastTms);
    bool ShiftCaptureAll(bool LastTms);
    ReadResult ReadAndCompare();
    ReadResult ReadAndCompareAll();
    // Walks to Run-Test/Idle and waits RunTestTime there.
    bool RunTest();

    // --- the XC9500 method: each data shift verified, and retried
    bool DoCommandReadWrite(const TXSVFCommand& Command);
    // What an attempt (or the attempts) came to: only a mismatch is
    // retried; a cable failure has said its line; a stop says nothing (the
    // run's end says why).
    enum class TShiftOutcome { Verified, Mismatch, CableFailed, Stopped };
    TShiftOutcome ShiftWithRetries();
    TShiftOutcome ShiftAndVerifyOnce();
    // Looked at before every attempt and while an attempt waits for its
    // bits: the run was asked to stop.
    bool StopAsked() const;
    // "Error on SD instruction: " and, below the dump limit, the expected
    // and the read bits where Mask has a 1.
    void ReportShiftError(const std::vector<uint8_t>& BitsRead, const TVarLen& Mask);
    // One report line's bits, bit 0 first, "x" where not compared, in
    // groups of four each followed by a blank.
    static std::string FormatExpected(const TVarLen& Mask, const TVarLen& Expected);
    static std::string FormatRead(const TVarLen& Mask, const std::vector<uint8_t>& BitsRead);

    const std::string& FileName() const { return FFileName; }
    int32_t CommandsDone() const { return FCommandsDone.load(std::memory_order_relaxed); }
    void CountCommandDone() { FCommandsDone.store(CommandsDone() + 1, std::memory_order_relaxed); }

    // The last XSDRSIZE, in bits: the length of the data that XTDOMASK and
    // the data shifts carry. TdoMask takes that length when such data is
    // loaded; until then it may be shorter, its missing bits 0.
    int32_t SdrSize() const { return FSdrSize; }
    TVarLen TdoMask = TVarLen::CreateSized(8);
    TVarLen TdiValue = TVarLen::CreateSized(8);
    TVarLen TdoExpected = TVarLen::CreateSized(8);
    // Microseconds; grows during retries, saturating at 0xFFFFFFFF.
    uint32_t RunTestTime = 0;
    uint8_t RepeatCount = 0;
    TapState EndIrState = TapState::IDLE;
    TapState EndDrState = TapState::IDLE;
    TapState CurrentState = TapState::RESET;
    // Some XREPEAT of 2 or more: played by the XC9500 method.
    bool Xc9500Mode = false;
    // Commands in the file, XCOMPLETE included.
    int32_t CommandCount = 0;

private:
    struct TNoScan {};
    TXSVFFile(const std::string& FileName, TNoScan);

    void FillBuffer();
    void SendNote(const std::string& Text, MessageKind Kind);
    enum class TCapture : uint8_t { None, Masked, All };
    // One shift of TdiValue, capturing as asked.
    bool ShiftBits(bool LastTms, TCapture Capture);
    // Reads back TdiValue's length and compares under the mask, or all bits.
    ReadResult ReadBits(bool All);
    // Loads TdiValue, and for the XSDRTDO family TdoExpected, from Command
    // with the XSDRSIZE length, which the mask then takes too.
    void LoadDataVectors(const TXSVFCommand& Command);

    std::string FFileName;
    platform::TFileReader FFile;
    std::array<uint8_t, 8192> FReadBuffer{};
    int32_t FBufferFill = 0;
    int32_t FBufferPos = 0;
    std::atomic<int32_t> FCommandsDone{0};
    // The XC9500 warning goes out once an instance.
    bool FWarnedXc9500 = false;
    int32_t FSdrSize = 8;
    // The pre-scan's instance follows sizes only and loads no vectors.
    bool FScanOnly = false;
    bool FCompleteFlushFailed = false;
    std::unique_ptr<TXSVFReadWriteThread> FThread;
};

// Registers the XSVF player under "XSVF"; each program calls it at start-up,
// after the SVF player's registration.
void RegisterXsvfPlayer();
