// XSVF command execution: the state each command sets, the write side that
// drives the cable in pipelined play, the TAP walk, and the read side that
// compares what the cable captured.
#include <limits>
#include <string>
#include <vector>

#include "base/bitcompare.h"
#include "base/tapwalk.h"
#include "base/scanmemory.h"
#include "xsvf/xsvf.h"

namespace {

const char* const UsbError = "USB communication error";

bool IsTdoFamily(uint8_t Opcode)
{
    return Opcode == XSDRTDO || Opcode == XSDRTDOB || Opcode == XSDRTDOC || Opcode == XSDRTDOE;
}

} // namespace

void TXSVFFile::ApplyCommand(const TXSVFCommand& Command)
{
    if (Command.empty())
        return;
    switch (Command[0]) {
    case XTDOMASK:
        if (!FScanOnly)
            LoadVector(Command, 1, FSdrSize, TdoMask);
        break;
    case XRUNTEST:
        RunTestTime = GetBE32(Command, 1);
        break;
    case XREPEAT:
        RepeatCount = Command.size() > 1 ? Command[1] : 0;
        if (RepeatCount >= 2) {
            Xc9500Mode = true;
            if (!FWarnedXc9500) {
                FWarnedXc9500 = true;
                SendNote("Warning: Using XC9500/XL/XV programming method.", MessageKind::Warning);
            }
        }
        break;
    case XSDRSIZE: {
        const uint32_t bits = GetBE32(Command, 1);
        if (bits > static_cast<uint32_t>(std::numeric_limits<int32_t>::max()))
            throw Exception("XSDRSIZE " + std::to_string(bits) + " is out of range (0 to 2147483647)");
        // The check refuses a size whose vectors cannot be had, before
        // the cable; a run of an unchecked file meets it as it loads them.
        if (FScanOnly && !ScanFitsInMemory(bits))
            throw Exception(ScanMemoryText(bits));
        FSdrSize = static_cast<int32_t>(bits);
        // The mask grows when data of the new length comes; a smaller size
        // drops its bits beyond it at once, so growing again adds zeros.
        if (FSdrSize < TdoMask.BitLength())
            TdoMask.SetBitLength(FSdrSize);
        break;
    }
    case XENDIR:
        EndIrState = Command.size() > 1 && Command[1] != 0 ? TapState::IRPAUSE : TapState::IDLE;
        break;
    case XENDDR:
        EndDrState = Command.size() > 1 && Command[1] != 0 ? TapState::DRPAUSE : TapState::IDLE;
        break;
    default:
        break;
    }
}

bool TXSVFFile::IsComplete(const TXSVFCommand& Command)
{
    if (Command.empty() || Command[0] != XCOMPLETE)
        return false;
    // The file's last commands may be ones nobody reads back: their flush
    // failing is the run's only sign that they never reached the chain.
    if (OnFlush && !OnFlush() && !FCompleteFlushFailed) {
        FCompleteFlushFailed = true;
        SendNote(UsbError, MessageKind::Error);
    }
    return true;
}

void TXSVFFile::LoadDataVectors(const TXSVFCommand& Command)
{
    const int32_t bits = FSdrSize;
    if (TdoMask.BitLength() != bits)
        TdoMask.SetBitLength(bits);
    LoadVector(Command, 1, bits, TdiValue);
    if (!Command.empty() && IsTdoFamily(Command[0]))
        LoadVector(Command, 1 + static_cast<size_t>(BytesForBits(bits)), bits, TdoExpected);
}

bool TXSVFFile::DoCommandWrite(const TXSVFCommand& Command)
{
    if (Command.empty())
        return true;
    const uint8_t opcode = Command[0];
    bool ok = true;
    switch (opcode) {
    case XSIR: {
        LoadVector(Command, 2, Command.size() > 1 ? Command[1] : 0, TdiValue);
        // No bits: Shift-IR is not entered (its exit would need one).
        if (TdiValue.BitLength() == 0) {
            ok = RunTestTime == 0 || RunTest();
            break;
        }
        ok = GotoState(TapState::IRSHIFT) && ShiftNoCapture(true);
        if (ok) {
            CurrentState = TapState::IREXIT1;
            ok = RunTestTime != 0 ? RunTest() : GotoState(EndIrState);
        }
        break;
    }
    case XSDR:
    case XSDRTDO:
        LoadDataVectors(Command);
        if (TdiValue.BitLength() == 0) {
            ok = RunTestTime == 0 || RunTest();
            break;
        }
        ok = GotoState(TapState::DRSHIFT) && ShiftCaptureMasked(true);
        if (ok) {
            CurrentState = TapState::DREXIT1;
            ok = RunTestTime != 0 ? RunTest() : GotoState(EndDrState);
        }
        break;
    case XSDRB:
    case XSDRTDOB:
        LoadDataVectors(Command);
        if (TdiValue.BitLength() > 0)
            ok = GotoState(TapState::DRSHIFT) && (opcode == XSDRB ? ShiftNoCapture(false) : ShiftCaptureAll(false));
        break;
    case XSDRC:
    case XSDRTDOC:
        LoadDataVectors(Command);
        if (TdiValue.BitLength() > 0) {
            RequireShiftDr(opcode == XSDRC ? "XSDRC" : "XSDRTDOC");
            ok = opcode == XSDRC ? ShiftNoCapture(false) : ShiftCaptureAll(false);
        }
        break;
    case XSDRE:
    case XSDRTDOE:
        LoadDataVectors(Command);
        if (TdiValue.BitLength() > 0) {
            RequireShiftDr(opcode == XSDRE ? "XSDRE" : "XSDRTDOE");
            ok = opcode == XSDRE ? ShiftNoCapture(true) : ShiftCaptureAll(true);
            if (ok)
                CurrentState = TapState::DREXIT1;
        }
        // With no bits shifted the walk starts where the chain is; a pause
        // it is in already is not left and entered again.
        if (ok && CurrentState != EndDrState)
            ok = GotoState(EndDrState);
        break;
    case XSTATE:
        // Any state but Test-Logic-Reset is taken as Run-Test/Idle.
        ok = GotoState(Command.size() > 1 && Command[1] == 0 ? TapState::RESET : TapState::IDLE);
        break;
    default:
        break;
    }
    if (!ok)
        SendNote(UsbError, MessageKind::Error);
    return ok;
}

void TXSVFFile::RequireShiftDr(const char* Name)
{
    // These go on with a scan that an XSDRB or XSDRTDOB began. Anywhere
    // else their bits would be clocked through whatever state the chain is
    // in, and the walk after them would start from a state it is not in.
    if (CurrentState != TapState::DRSHIFT)
        throw Exception(std::string(Name) + " without a data scan begun by XSDRB or XSDRTDOB");
}

bool TXSVFFile::GotoState(TapState Target)
{
    return GotoTapState(*this, CurrentState, Target, [](const std::string& Message) { throw Exception(Message); });
}

bool TXSVFFile::RunTest()
{
    if (!GotoState(TapState::IDLE))
        return false;
    if (!OnRuntestTime)
        return true;
    return OnRuntestTime(false, RunTestTime, false, TJtagMessageEvent());
}

bool TXSVFFile::ShiftBits(bool LastTms, TCapture Capture)
{
    const int32_t count = TdiValue.BitLength();
    std::vector<uint8_t> tdi(static_cast<size_t>(count));
    std::vector<uint8_t> capture(static_cast<size_t>(count), Capture == TCapture::All ? 1 : 0);
    TdiValue.BitsToBytes(tdi.data(), count);
    if (Capture == TCapture::Masked)
        TdoMask.BitsToBytes(capture.data(), count);
    if (!OnShift)
        return true;
    return OnShift(tdi.data(), capture.data(), count, LastTms);
}

bool TXSVFFile::ShiftNoCapture(bool LastTms)
{
    return ShiftBits(LastTms, TCapture::None);
}

bool TXSVFFile::ShiftCaptureMasked(bool LastTms)
{
    return ShiftBits(LastTms, TCapture::Masked);
}

bool TXSVFFile::ShiftCaptureAll(bool LastTms)
{
    return ShiftBits(LastTms, TCapture::All);
}

ReadResult TXSVFFile::ReadBits(bool All)
{
    const int32_t count = TdiValue.BitLength();
    // The write side shifted nothing for this command.
    if (count == 0 || !OnRead)
        return ReadResult::Ready;
    std::vector<uint8_t> tdo(static_cast<size_t>(count));
    std::vector<uint8_t> capture(static_cast<size_t>(count), All ? 1 : 0);
    if (!All)
        TdoMask.BitsToBytes(capture.data(), count);
    const ReadResult result = OnRead(tdo.data(), capture.data(), count);
    if (result != ReadResult::Ready)
        return result;
    if (FirstMismatch(TdoExpected, capture.data(), tdo.data(), count) < 0)
        return ReadResult::Ready;
    // A failed run says why, as the XC9500 method does.
    if (All) {
        TVarLen every = TVarLen::CreateSized(count);
        every.FillOnes();
        ReportShiftError(tdo, every);
    } else {
        ReportShiftError(tdo, TdoMask);
    }
    return ReadResult::Mismatch;
}

ReadResult TXSVFFile::ReadAndCompare()
{
    return ReadBits(false);
}

ReadResult TXSVFFile::ReadAndCompareAll()
{
    return ReadBits(true);
}

ReadResult TXSVFFile::DoCommandRead(const TXSVFCommand& Command)
{
    if (Command.empty())
        return ReadResult::Ready;
    ReadResult result = ReadResult::Ready;
    switch (Command[0]) {
    case XSDR:
    case XSDRTDO:
        LoadDataVectors(Command);
        result = ReadAndCompare();
        break;
    case XSDRTDOB:
    case XSDRTDOC:
    case XSDRTDOE:
        LoadDataVectors(Command);
        result = ReadAndCompareAll();
        break;
    default:
        break;
    }
    if (result == ReadResult::CommError)
        SendNote("USB Communication error", MessageKind::Error);
    return result;
}
