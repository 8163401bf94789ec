// Read-back side: collects the captured TDO bits of each scan, compares them
// under the mask and reports a mismatch; keeps the LOOP decision.
#include <vector>

#include "svf/svf.h"

namespace {

// Dumps of longer scans would make lines of millions of characters.
constexpr int64_t DumpLimit = 10000;

bool Bit(const TVarLen& Vector, int32_t Index)
{
    return (Vector.GetByte(Index / 8) >> (Index % 8)) & 1;
}

void AppendGrouped(std::string& Line, int& Group, char c)
{
    Line.push_back(c);
    if (++Group == 4) {
        Line.push_back(' ');
        Group = 0;
    }
}

void FormatExpected(std::string& Line, int& Group, const TVarLen& Mask, const TVarLen& Tdo)
{
    for (int32_t i = 0; i < Mask.BitLength(); ++i)
        AppendGrouped(Line, Group, !Bit(Mask, i) || Tdo.BitLength() == 0 ? 'x' : (Bit(Tdo, i) ? '1' : '0'));
}

void FormatRead(std::string& Line, int& Group, const TVarLen& Mask, const TVarLen& Tdo, const uint8_t* Read,
                int32_t Offset)
{
    for (int32_t i = 0; i < Mask.BitLength(); ++i)
        AppendGrouped(Line, Group, !Bit(Mask, i) || Tdo.BitLength() == 0 ? 'x' : (Read[Offset + i] != 0 ? '1' : '0'));
}

} // namespace

ReadResult TSVFFile::ReadAndCompare(bool IsDr, bool ReportMismatch)
{
    const TScanParts parts = ScanParts(IsDr);
    const auto& tdo = parts.Tdo;
    const auto& mask = parts.Mask;
    const int32_t count = ScanLength(IsDr, true);
    const int32_t offset[3] = {0, mask[0]->BitLength(), mask[0]->BitLength() + mask[1]->BitLength()};

    std::vector<uint8_t> capture(static_cast<size_t>(count));
    std::vector<uint8_t> read(static_cast<size_t>(count));
    for (int p = 0; p < 3; ++p) {
        const bool compared = tdo[p]->BitLength() > 0;
        for (int32_t i = 0; i < mask[p]->BitLength(); ++i)
            capture[static_cast<size_t>(offset[p] + i)] = compared && Bit(*mask[p], i);
    }

    const ReadResult r = OnRead(read.data(), capture.data(), count);
    if (r != ReadResult::Ready)
        return r;

    for (int p = 0; p < 3; ++p) {
        if (tdo[p]->BitLength() == 0)
            continue;
        for (int32_t i = 0; i < mask[p]->BitLength(); ++i) {
            if (!Bit(*mask[p], i))
                continue;
            if ((read[static_cast<size_t>(offset[p] + i)] != 0) == Bit(*tdo[p], i))
                continue;
            if (p != 1 || ReportMismatch) {
                if (OnMessage) {
                    OnMessage(IsDr ? "Error on SDR instruction: " : "Error on SIR instruction: ", MessageKind::Error);
                    const int64_t tdoBits = int64_t{tdo[0]->BitLength()} + tdo[1]->BitLength() + tdo[2]->BitLength();
                    if (tdoBits < DumpLimit && count < DumpLimit) {
                        std::string line = "Expected: ";
                        int group = 0;
                        for (int q = 0; q < 3; ++q)
                            FormatExpected(line, group, *mask[q], *tdo[q]);
                        OnMessage(line, MessageKind::Error);
                        line = "Read:     ";
                        group = 0;
                        for (int q = 0; q < 3; ++q)
                            FormatRead(line, group, *mask[q], *tdo[q], read.data(), offset[q]);
                        OnMessage(line, MessageKind::Error);
                    }
                }
            }
            return ReadResult::Mismatch;
        }
    }
    return ReadResult::Ready;
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
