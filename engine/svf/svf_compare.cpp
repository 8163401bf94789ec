// Read-back side: collects the captured TDO bits of each scan, compares them
// under the mask and reports a mismatch; keeps the LOOP decision.
#include <algorithm>
#include <vector>

#include "base/bitcompare.h"
#include "base/bitdump.h"
#include "svf/svf.h"

namespace {

// Dumps of longer scans would make lines of millions of characters.
constexpr int64_t DumpLimit = 10000;

} // namespace

ReadResult TSVFFile::ReadAndCompare(bool IsDr, bool ReportMismatch)
{
    const TScanParts parts = ScanParts(IsDr);
    const auto& tdo = parts.Tdo;
    const auto& mask = parts.Mask;
    const int32_t count = ScanLength(IsDr, true);
    const int32_t offset[3] = {0, mask[0]->BitLength(), mask[0]->BitLength() + mask[1]->BitLength()};

    // A read-back that answered "not yet" is asked again with the same
    // pattern, which stays built until the vectors change.
    const uint64_t key = FScanGeneration * 2 + (IsDr ? 1 : 0) + 1;
    if (FReadBuiltFor != key) {
        SizeScanBuffer(FReadCapture, count);
        SizeScanBuffer(FReadTdo, count);
        for (int p = 0; p < 3; ++p) {
            uint8_t* capture = FReadCapture.data() + offset[p];
            const int32_t n = mask[p]->BitLength();
            const int32_t masked = tdo[p]->BitLength() > 0 ? n : 0;
            mask[p]->BitsToBytes(capture, masked);
            std::fill(capture + masked, capture + n, uint8_t{0});
        }
        FReadBuiltFor = key;
    }
    const uint8_t* read = FReadTdo.data();

    const ReadResult r = OnRead(FReadTdo.data(), FReadCapture.data(), count);
    if (r == ReadResult::NotYet)
        return r;
    FReadBuiltFor = 0;
    const auto done = [this](ReadResult Result) {
        ReleaseLarge(FReadCapture);
        ReleaseLarge(FReadTdo);
        return Result;
    };
    if (r != ReadResult::Ready)
        return done(r);

    for (int p = 0; p < 3; ++p) {
        if (tdo[p]->BitLength() == 0)
            continue;
        const int32_t bad = FirstMismatch(*tdo[p], FReadCapture.data() + offset[p], read + offset[p], mask[p]->BitLength());
        if (bad < 0)
            continue;
        if (p != 1 || ReportMismatch) {
            if (OnMessage) {
                OnMessage(IsDr ? "Error on SDR instruction: " : "Error on SIR instruction: ", MessageKind::Error);
                const int64_t tdoBits = int64_t{tdo[0]->BitLength()} + tdo[1]->BitLength() + tdo[2]->BitLength();
                if (tdoBits < DumpLimit && count < DumpLimit) {
                    std::string line = "Expected: ";
                    int group = 0;
                    for (int q = 0; q < 3; ++q)
                        AppendExpectedBits(line, group, *mask[q], *tdo[q]);
                    OnMessage(line, MessageKind::Error);
                    line = "Read:     ";
                    group = 0;
                    for (int q = 0; q < 3; ++q)
                        AppendReadBits(line, group, *mask[q],
                                       tdo[q]->BitLength() == 0 ? nullptr : read + offset[q]);
                    OnMessage(line, MessageKind::Error);
                }
            }
        }
        return done(ReadResult::Mismatch);
    }
    return done(ReadResult::Ready);
}

ReadResult TSVFFile::CheckStatement(const TSVFCommand& Statement)
{
    switch (Statement.Command) {
    case SvfCommand::SDR: {
        const ReadResult r = ReadAndCompare(true, !Statement.InLoop);
        if (r == ReadResult::CommError)
            SendNote("USB communication error", MessageKind::Error);
        if (!Statement.InLoop)
            return r;
        // In a loop pass a mismatch only means: run the pass again.
        switch (r) {
        case ReadResult::CommError:
            LoopMatched = false;
            return r;
        case ReadResult::Mismatch:
            LoopMatched = false;
            return ReadResult::Ready;
        case ReadResult::Ready:
            LoopMatched = true;
            return r;
        case ReadResult::NotYet:
            return r;
        }
        return r;
    }
    case SvfCommand::SIR: {
        const ReadResult r = ReadAndCompare(false, true);
        if (r == ReadResult::CommError)
            SendNote("USB communication error", MessageKind::Error);
        return r;
    }
    case SvfCommand::LOOP:
        LoopMatched = false;
        return ReadResult::Ready;
    case SvfCommand::ENDLOOP:
        if (Statement.InLoop)
            LoopControl = LoopMatched ? TLoopControl::Break : TLoopControl::GoOn;
        LoopMatched = false;
        return ReadResult::Ready;
    default:
        return ReadResult::Ready;
    }
}
