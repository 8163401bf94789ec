// The SVF player. One object reads, parses and plays one SVF file; a run
// uses three: the master that the registry creates and the front end polls,
// the write-ahead parser that Start gives the worker and the read-back side
// that compares what the cable captured with what that parser hands it.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/jtagfile.h"
#include "filereader.h"
#include "svf/svf_command.h"
#include "svf/svf_error.h"
#include "svf/svf_lexer.h"
#include "base/varlenu.h"

class TReadWriteThread;

// Loop decision of the read-back parser at an in-loop ENDLOOP.
enum class TLoopControl : uint8_t { Wait = 0, Break = 1, GoOn = 2 };

class TSVFFile : public TJtagFile {
public:
    // Opens the file; raises Exception "Cannot open file <name> for read."
    // when it cannot be opened or is not a regular file.
    explicit TSVFFile(const std::string& FileName);
    // Waits for a started worker thread (without asking it to stop).
    ~TSVFFile() override;

    static std::string FileTypeName() { return "SVF"; }

    // Creates the worker and its two parsers, makes the first
    // OnSetFrequency(FrequencyHz, true) on this thread and resumes the
    // worker. False when that call failed (the worker is then asked to stop
    // first and ends at once with status 1) or when the player was started
    // before (a second Start changes nothing).
    bool Start(int32_t FrequencyHz) override;
    FileStatus GetStatus() override;
    // Bytes consumed (the write-ahead parser's while the worker exists) and
    // the file size, clamped to the 32-bit interface.
    int32_t GetPosition() override;
    int32_t GetSize() override;
    void Stop() override;
    // A parser of its own on the file (the Check side) takes and executes
    // every statement with no cable, as the write-ahead parser would.
    void CheckFile(const platform::TStopToken& Stop) override;

    // Character reader. Lines end at CR, at LF, or at CR LF counted once.
    // After the file's content the reader supplies CR LF "__EOF;" for ever.
    // A read error raises Exception "Cannot read file <name>.".
    uint8_t ReadChar();
    // The next byte without consuming it.
    uint8_t PeekChar();
    // Text of the 0-based line, without line ends; rewinds the reader, so
    // it is used only to build the message of an error that ends the run.
    // A line longer than MaxLength is cut there and ends with "...".
    std::string GetLineText(int64_t LineIndex, size_t MaxLength = std::string::npos - 1);
    // What an error shows of its line: a statement of millions of
    // characters is not copied into the message.
    static constexpr size_t ShownLineText = 1000;
    // Bytes read from the file at a time: every read is a call into the
    // system and a look at the file's identity.
    static constexpr size_t ReadBlock = 65536;

    // One statement's normalised text, without its ';'. Comments go to
    // OnMessage as kind Comment when CopyComments is set.
    std::string ReadStatementText();
    // The same into Text, whose memory is reused.
    void ReadStatementInto(std::string& Text);

    // The next statement of the file into Statement. Every error about it,
    // a number that does not read among them, is a line error.
    void ParseStatement(TSVFCommand& Statement);
    // The next statement to handle: a LOOP body's replay, else the next
    // parsed one; a parsed LOOP records its body up to ENDLOOP.
    void NextStatement(TSVFCommand& Statement);

    // Keeps the SVF state between statements; false when a FREQUENCY test
    // answers -1.
    bool ApplyStatement(const TSVFCommand& Statement);
    // The same, moving the statement's vectors into the kept ones instead of
    // copying them; the statement keeps everything else.
    bool TakeStatement(TSVFCommand& Statement);
    // Plays the statement on the cable; false after a cable failure, which
    // has been reported as "USB communication error".
    bool ExecuteStatement(const TSVFCommand& Statement);
    bool GotoState(TapState Target);
    // Gives a statement's MASK item, when it has one, the bits of the kept
    // mask of its set (which the statement set when it was taken).
    void CopyMaskInto(TSVFCommand& Statement);
    // Header, body and trailer of the DR (IsDr) or IR set as one shift.
    bool ShiftBits(bool IsDr);

    // Read-back side: collects and compares the captured bits of SDR and
    // SIR and keeps the LOOP decision.
    ReadResult CheckStatement(const TSVFCommand& Statement);
    ReadResult ReadAndCompare(bool IsDr, bool ReportMismatch);

    // ELineException at the line the reader has reached, or at a given one.
    [[noreturn]] void RaiseLineError(const std::string& Message);
    void ParseStatementText(TSVFCommand& Statement);
    [[noreturn]] void RaiseLineErrorAt(const std::string& Message, int64_t LineIndex);

    const std::string& FileName() const { return FFileName; }
    int64_t BytesRead() const { return FBytesRead.load(std::memory_order_relaxed); }
    int64_t FileSize() const { return FFileSize; }
    bool EofReached() const { return FEofReached; }

    // 0-based index of the line being read.
    int64_t LineCount = 0;
    // The state the walk believes the chain to be in.
    TapState CurrentState = TapState::RESET;

    TVarLen HdrTdi, HirTdi, SdrTdi, SirTdi, TdrTdi, TirTdi;
    TVarLen HdrTdo, HirTdo, SdrTdo, SirTdo, TdrTdo, TirTdo;
    TVarLen HdrMask, HirMask, SdrMask, SirMask, TdrMask, TirMask;

    TapState EndIrState = TapState::IDLE;
    TapState EndDrState = TapState::IDLE;
    TapState RunState = TapState::IDLE;
    // Asked for by a FREQUENCY statement without HZ; Start sets it.
    int32_t DefaultFrequency = 0;

    // Which side of a run this parser plays: the write-ahead one parses the
    // file and keeps no TDO bits once it has handed them to the read-back
    // side, which parses nothing and keeps no TDI bits; each keeps the
    // other's lengths. Both: a parser that does everything. Check: a parser
    // that follows lengths and states only, keeps no vector's bits and
    // shifts nothing (CheckFile).
    enum class TSide : uint8_t { Both, Write, Read, Check };
    TSide Side = TSide::Both;

    // LOOP recording and replay; the worker reads and sets these too.
    std::vector<TSVFCommand> LoopRecording;
    int32_t ReplayIndex = 0;
    int32_t PassesLeft = 0;
    // Read-back parser: the last in-loop SDR of the pass matched.
    bool LoopMatched = false;
    TLoopControl LoopControl = TLoopControl::Wait;

private:
    // Header, body and trailer vectors of the DR (IsDr) or IR set.
    struct TScanParts {
        const TVarLen* Tdi[3];
        const TVarLen* Tdo[3];
        const TVarLen* Mask[3];
    };
    TScanParts ScanParts(bool IsDr) const;
    // The kept TDI, TDO and MASK a scan command sets; null for another.
    struct TKept {
        TVarLen* Tdi = nullptr;
        TVarLen* Tdo = nullptr;
        TVarLen* Mask = nullptr;
    };
    TKept KeptOf(SvfCommand Command);

    void FillBuffer();
    // Takes Count bytes of the read buffer, as that many ReadChar calls
    // would; the lexer has counted their line ends.
    void ConsumeRun(int32_t Count, bool EndsWithCR);
    void SendNote(const std::string& Text, MessageKind Kind);
    bool Apply(const TSVFCommand& Statement, TSVFCommand* Donor);
    bool ExecuteScan(bool IsDr);
    // Bits of the DR or IR set's header, body and trailer, by their TDI or MASK
    // lengths; above 2^31-1 an ELineException.
    int32_t ScanLength(bool IsDr, bool ByMask);
    bool ExecuteRuntest(const TSVFCommand& Statement);

    // Memory of a scan: refused with an ELineException naming the scan's
    // bits and the memory it would need, before its buffers are allocated
    // when it cannot fit, and when an allocation fails all the same.
    void CheckScanMemory(SvfCommand Command, int32_t Length);
    [[noreturn]] void RaiseScanMemory(int64_t Bits);
    TVarLen NewScanVector(int32_t Bits);
    // Keeps the storage of a small vector for NewScanVector; empties Vector.
    void RecycleVector(TVarLen& Vector);
    // Sizes a byte-per-bit buffer of a scan; a large one is given back after
    // use (ReleaseLarge) so that it does not stay while the other side runs.
    void SizeScanBuffer(TBigBytes& Buffer, int64_t Bits);
    static void ReleaseLarge(TBigBytes& Buffer);
    void CheckStates(const TSVFCommand& Statement);
    void CheckStableState(SvfItemKind Kind);

    std::string FFileName;
    platform::TFileReader FFile;
    int64_t FFileSize = 0;
    std::atomic<int64_t> FBytesRead{0};
    std::vector<uint8_t> FReadBuffer = std::vector<uint8_t>(ReadBlock);
    int32_t FBufferFill = 0;
    int32_t FBufferPos = 0;
    bool FEofReached = false;
    // The last byte consumed was a CR: an LF right after it ends no line.
    bool FAfterCR = false;
    // The next block read is the file's first: a UTF-8 byte-order mark
    // at its start is no text of the file.
    bool FAtFileStart = true;
    std::unique_ptr<TReadWriteThread> FThread;
    // The statement being parsed, kept for the next one's memory.
    TSvfTokens FTokens;
    // Storage of small vectors that applied statements replaced, for the
    // next statements' vectors: short scans then cost no allocation.
    std::vector<TVarLen> FSpareVectors;

    // The shift's bytes on the write side; the read-back's on the other. The
    // capture pattern of a read-back that answered "not yet" stays built
    // until the scan vectors change (FScanGeneration).
    TBigBytes FShiftTdi, FShiftCapture;
    TBigBytes FReadCapture, FReadTdo;
    uint64_t FScanGeneration = 0;
    uint64_t FReadBuiltFor = 0; // generation * 2 + IsDr, plus 1; 0: none
};

// Registers the SVF player under "SVF"; each program calls it at start-up,
// before the XSVF player's registration.
void RegisterSvfPlayer();

// The desktop's "Write SVF file comments into console" switch, asked by
// Start: false keeps the file's comment lines out of the log. Empty (the
// console program, or no main window) means comments are passed on.
using TSvfCommentSwitch = std::function<bool()>;
void SetSvfCommentSwitch(TSvfCommentSwitch Switch);
TSvfCommentSwitch GetSvfCommentSwitch();
