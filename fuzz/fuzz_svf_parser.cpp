// The SVF reader, lexer and parser on one parser object, as the read-back
// side drives it (statements applied, LOOP bodies recorded and replayed),
// with the invariants the player relies on checked for every statement.
#include <cstdint>
#include <new>
#include <string>

#include "fuzz_common.h"
#include "svf_scan_limit.h"
#include "svf/svf.h"

namespace {

// Replayed LOOP passes may be many, and scans legally long: this many
// statements and scan bits are plenty to reach every path of the parser.
constexpr int StatementBudget = 20000;
constexpr int64_t BitBudget = int64_t{1} << 24;

bool IsScan(SvfCommand Command)
{
    return Command >= SvfCommand::HDR && Command <= SvfCommand::TIR;
}

void CheckStatement(const TSVFCommand& St)
{
    if (St.Command > SvfCommand::Eof)
        fuzz::Finding("parsed a statement without a command");
    if (IsScan(St.Command)) {
        if (St.Items.empty() || St.Items[0].Kind != SvfItemKind::Number || St.Items[0].Value < 0)
            fuzz::Finding("scan without its length first");
        for (const SvfItem& item : St.Items)
            if (item.Kind >= SvfItemKind::TDI && item.Kind <= SvfItemKind::SMASK &&
                item.Vector.BitLength() != St.Items[0].Value)
                fuzz::Finding("vector not of the scan's length");
    }
    if (St.Command == SvfCommand::LOOP && ItemInt(St, SvfItemKind::Number) < 1)
        fuzz::Finding("LOOP of no pass accepted");
}

void CheckScanSet(const TVarLen& Tdi, const TVarLen& Mask)
{
    // The read-back side rebuilds each shift from the masks: they must
    // stay as long as the data they mask.
    if (Tdi.BitLength() != Mask.BitLength())
        fuzz::Finding("TDI and MASK lengths differ");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string path = fuzz::SvfInputFile(Data, Size);
    if (path.empty())
        return -1; // kept out of the corpus
    TSVFFile file(path);
    file.LoopControl = TLoopControl::GoOn;
    TSVFCommand st;
    int64_t bits = 0;
    try {
        for (int n = 0; n < StatementBudget && bits < BitBudget; ++n) {
            FreeStatement(st);
            file.NextStatement(st);
            CheckStatement(st);
            if (IsScan(st.Command))
                bits += ItemInt(st, SvfItemKind::Number);
            if (st.InLoop && file.LoopRecording.empty())
                fuzz::Finding("in-loop statement outside a loop");
            file.ApplyStatement(st);
            CheckScanSet(file.SdrTdi, file.SdrMask);
            CheckScanSet(file.SirTdi, file.SirMask);
            CheckScanSet(file.HdrTdi, file.HdrMask);
            CheckScanSet(file.TdrTdi, file.TdrMask);
            if (st.Command == SvfCommand::Eof)
                break;
        }
    } catch (const ELineException& e) {
        if (e.LineNumber < 1)
            fuzz::Finding("line error before the first line");
        if (e.LineText.find_first_of("\r\n") != std::string::npos)
            fuzz::Finding("line text with a line end");
    } catch (const Exception&) {
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
