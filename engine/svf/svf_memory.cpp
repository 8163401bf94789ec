// What a scan costs in memory, checked before its buffers exist: a file may
// ask for a scan of 2^31 - 1 bits, and a run must end with an error, not be
// killed by the system.
#include <algorithm>
#include <limits>
#include <malloc.h>
#include <new>
#include <stdexcept>
#include <string>

#include "base/scanmemory.h"
#include "svf/svf.h"

namespace {

// Spare vectors kept for reuse: a few, of short scans only.
constexpr size_t SpareVectors = 8;
constexpr int32_t SpareVectorBytes = 4096;

// Blocks of a megabyte and more are mapped on their own and given back to
// the system when freed. The C library's default raises that bound after
// the first large block is freed, and the buffers of one long scan would
// then stay in its heap while the next are made.
[[maybe_unused]] const int LargeBlocksMapped = mallopt(M_MMAP_THRESHOLD, 1 << 20);

} // namespace

void TSVFFile::RaiseScanMemory(int64_t Bits)
{
    RaiseLineError(ScanMemoryText(Bits));
}

void TSVFFile::CheckScanMemory(SvfCommand Command, int32_t Length)
{
    // The whole scan the statement makes: its length with the other two
    // pieces of its set as they stand.
    const bool isDr = Command == SvfCommand::HDR || Command == SvfCommand::SDR || Command == SvfCommand::TDR;
    const int piece = Command == SvfCommand::HDR || Command == SvfCommand::HIR ? 0
                      : Command == SvfCommand::SDR || Command == SvfCommand::SIR ? 1
                                                                                 : 2;
    const TScanParts parts = ScanParts(isDr);
    int64_t bits = Length;
    for (int p = 0; p < 3; ++p)
        if (p != piece)
            bits += parts.Tdi[p]->BitLength();
    if (!ScanFitsInMemory(bits))
        RaiseScanMemory(bits);
}

void TSVFFile::RecycleVector(TVarLen& Vector)
{
    if (Vector.ByteLength() > 0 && Vector.ByteLength() <= SpareVectorBytes && FSpareVectors.size() < SpareVectors)
        FSpareVectors.push_back(std::move(Vector));
    Vector = TVarLen();
}

TVarLen TSVFFile::NewScanVector(int32_t Bits)
{
    if (!FSpareVectors.empty() && Bits / 8 <= SpareVectorBytes) {
        TVarLen vector = std::move(FSpareVectors.back());
        FSpareVectors.pop_back();
        vector.SetBitLength(Bits);
        vector.FillZeros();
        return vector;
    }
    try {
        TVarLen vector = TVarLen::CreateSized(Bits);
        return vector;
    } catch (const std::bad_alloc&) {
        RaiseScanMemory(Bits);
    }
}

void TSVFFile::SizeScanBuffer(TBigBytes& Buffer, int64_t Bits)
{
    try {
        // Not zeroed: the shift's buffers are written whole, and of the
        // read-back's only the captured bits are ever looked at, which the
        // cable fills.
        Buffer.resize(static_cast<size_t>(Bits));
    } catch (const std::bad_alloc&) {
        Buffer = TBigBytes();
        RaiseScanMemory(Bits);
    } catch (const std::length_error&) {
        Buffer = TBigBytes();
        RaiseScanMemory(Bits);
    }
}

void TSVFFile::ReleaseLarge(TBigBytes& Buffer)
{
    if (Buffer.capacity() > (1u << 20))
        Buffer = TBigBytes();
}
