// The XC9500 method: one instance plays and verifies each command before
// the next; a data shift that does not match is repeated with a longer
// run-test time, as often as the last XREPEAT allows.
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "base/bitdump.h"
#include "ticks.h"
#include "xsvf/xsvf.h"

namespace {

const char* const UsbError = "USB communication error";

// Bit dumps are written only for shifts shorter than this.
constexpr int32_t DumpLimit = 10000;

} // namespace

bool TXSVFFile::DoCommandReadWrite(const TXSVFCommand& Command)
{
    if (Command.empty())
        return true;
    const uint8_t opcode = Command[0];
    switch (opcode) {
    case XSIR:
    case XSDRB:
    case XSDRC:
    case XSDRE:
    case XSTATE:
        return DoCommandWrite(Command);
    case XSDR:
    case XSDRTDO:
        break;
    case XSDRTDOB:
        throw Exception("Internal error DoCommandReadWrite [3]");
    case XSDRTDOC:
        throw Exception("Internal error DoCommandReadWrite [4]");
    case XSDRTDOE:
        throw Exception("Internal error DoCommandReadWrite [5]");
    default:
        return true;
    }
    if (!Xc9500Mode)
        throw Exception(opcode == XSDR ? "Internal error DoCommandReadWrite [1]"
                                       : "Internal error DoCommandReadWrite [2]");
    LoadDataVectors(Command);
    bool result = true;
    if (TdiValue.BitLength() == 0) {
        // Nothing to shift or verify: only the wait.
        if (RunTestTime != 0 && !RunTest()) {
            SendNote(UsbError, MessageKind::Error);
            return false;
        }
        return true;
    }
    if (!GotoState(TapState::DRSHIFT)) {
        SendNote(UsbError, MessageKind::Error);
        return false;
    }
    const TShiftOutcome outcome = ShiftWithRetries();
    if (outcome != TShiftOutcome::Verified) {
        // Bytes of this command, and maybe of earlier ones, may be lost:
        // neither a retry nor the walk out can make that good.
        if (outcome != TShiftOutcome::Mismatch)
            return false;
        result = false;
        SendNote(opcode == XSDR ? "XSDR operation failed after maximum retries"
                                : "XSDRTDO operation failed after maximum retries",
                 MessageKind::Error);
    }
    if (!(RunTestTime != 0 ? RunTest() : GotoState(EndDrState))) {
        SendNote(UsbError, MessageKind::Error);
        return false;
    }
    if (StopAsked())
        return false;
    // The run ends here: the walk out goes to the chain before the cable
    // closes, so the chain rests in a stable state. After a stop the wait
    // before it may be cut short: nothing more goes out.
    if (!result && OnFlush)
        OnFlush();
    return result;
}

TXSVFFile::TShiftOutcome TXSVFFile::ShiftAndVerifyOnce()
{
    const int32_t count = TdiValue.BitLength();
    std::vector<uint8_t> bits(static_cast<size_t>(count));
    std::vector<uint8_t> capture(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        bits[static_cast<size_t>(i)] = TdiValue.GetBit(i);
        capture[static_cast<size_t>(i)] = TdoMask.GetBit(i);
    }
    if ((OnShift && !OnShift(bits.data(), capture.data(), count, true)) || (OnFlush && !OnFlush())) {
        SendNote(UsbError, MessageKind::Error);
        return TShiftOutcome::CableFailed;
    }
    if (OnRead) {
        // The cable's own bound ends a wait for bits that never come.
        ReadResult read;
        while ((read = OnRead(bits.data(), capture.data(), count)) != ReadResult::Ready) {
            if (read != ReadResult::NotYet) {
                SendNote("SD instruction: Communication error", MessageKind::Error);
                SendNote(UsbError, MessageKind::Error);
                return TShiftOutcome::CableFailed;
            }
            // A device still busy with a long wait must not hold a stop.
            if (StopAsked())
                return TShiftOutcome::Stopped;
            platform::Sleep(1);
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        if (capture[static_cast<size_t>(i)] != 0 && (bits[static_cast<size_t>(i)] != 0) != TdoExpected.GetBit(i)) {
            // Retries with a wait to grow say enough by their notes.
            if (RepeatCount < 2 || RunTestTime == 0)
                ReportShiftError(bits, TdoMask);
            return TShiftOutcome::Mismatch;
        }
    }
    return TShiftOutcome::Verified;
}

bool TXSVFFile::StopAsked() const
{
    return StopToken().Asked();
}

TXSVFFile::TShiftOutcome TXSVFFile::ShiftWithRetries()
{
    if (StopAsked())
        return TShiftOutcome::Stopped;
    if (RepeatCount == 0) {
        const TShiftOutcome outcome = ShiftAndVerifyOnce();
        CurrentState = TapState::DREXIT1;
        return outcome;
    }
    for (int attempt = 1; attempt <= RepeatCount; ++attempt) {
        if (attempt > 1 && StopAsked())
            return TShiftOutcome::Stopped;
        const TShiftOutcome outcome = ShiftAndVerifyOnce();
        if (outcome == TShiftOutcome::Verified)
            CurrentState = TapState::DREXIT1;
        if (outcome != TShiftOutcome::Mismatch)
            return outcome;
        // Grows by half, saturating at the largest 32-bit time.
        RunTestTime = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{RunTestTime} + RunTestTime / 2, std::numeric_limits<uint32_t>::max()));
        SendNote("SD instruction: retry #" + std::to_string(attempt) + " with " + std::to_string(RunTestTime) + "us",
                 MessageKind::Info);
        // Update the register and wait, then back into Shift-DR through
        // Capture-DR for the next attempt.
        CurrentState = TapState::DREXIT1;
        const bool walked = GotoState(TapState::DRPAUSE) && GotoState(TapState::DREXIT2) &&
                            GotoState(TapState::DRSHIFT) && GotoState(TapState::DREXIT1) &&
                            GotoState(TapState::DRUPDATE) && RunTest() && GotoState(TapState::DRSHIFT);
        if (!walked) {
            SendNote(UsbError, MessageKind::Error);
            return TShiftOutcome::CableFailed;
        }
    }
    // A stop in the last wait cut it short: the mismatch before it says
    // nothing of the device.
    return StopAsked() ? TShiftOutcome::Stopped : TShiftOutcome::Mismatch;
}

void TXSVFFile::ReportShiftError(const std::vector<uint8_t>& BitsRead, const TVarLen& Mask)
{
    if (!OnMessage)
        return;
    OnMessage("Error on SD instruction: ", MessageKind::Error);
    if (TdiValue.BitLength() >= DumpLimit)
        return;
    OnMessage("Expected: " + FormatExpected(Mask, TdoExpected), MessageKind::Error);
    OnMessage("Read:     " + FormatRead(Mask, BitsRead), MessageKind::Error);
}

std::string TXSVFFile::FormatExpected(const TVarLen& Mask, const TVarLen& Expected)
{
    std::string line;
    int group = 0;
    AppendExpectedBits(line, group, Mask, Expected);
    return line;
}

std::string TXSVFFile::FormatRead(const TVarLen& Mask, const std::vector<uint8_t>& BitsRead)
{
    // Fewer bits read than the mask has: nothing to show.
    std::string line;
    int group = 0;
    AppendReadBits(line, group, Mask,
                   BitsRead.size() < static_cast<size_t>(Mask.BitLength()) ? nullptr : BitsRead.data());
    return line;
}
