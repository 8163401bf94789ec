// The longest scan a file's text asks for. The players' own work is linear
// in it, and scans beyond MaxScanBits only slow the search down, so the
// SVF targets leave such inputs out of their corpus (the speed benchmarks
// take them; the refusal of lengths beyond the format's range stays in).
#pragma once

#include <algorithm>
#include <cstdint>
#include <new>
#include <string>

#include "fuzz_common.h"
#include "svf/svf.h"

namespace fuzz {

constexpr int64_t MaxScanBits = int64_t{1} << 20;

// The longest DR or IR scan (header, body and trailer) of the file, read
// statement by statement without LOOP replay or play; what comes after a
// statement the parser refuses does not count, as no player gets there.
inline int64_t LongestScan(const std::string& Path)
{
    int64_t longest = 0;
    int64_t lengths[6] = {}; // HDR, HIR, SDR, SIR, TDR, TIR
    try {
        TSVFFile file(Path);
        TSVFCommand st;
        for (int n = 0; n < 100000; ++n) {
            FreeStatement(st);
            file.ParseStatement(st);
            if (st.Command == SvfCommand::Eof)
                break;
            if (st.Command < SvfCommand::HDR || st.Command > SvfCommand::TIR)
                continue;
            lengths[static_cast<int>(st.Command) - static_cast<int>(SvfCommand::HDR)] =
                ItemInt(st, SvfItemKind::Number);
            longest = std::max({longest, lengths[0] + lengths[2] + lengths[4], lengths[1] + lengths[3] + lengths[5]});
        }
    } catch (const Exception&) {
    } catch (const std::bad_alloc&) {
    }
    return longest;
}

// The input as a file for an SVF target; empty when its scans are too
// long to be worth playing here. The first call caps the process's memory.
inline std::string SvfInputFile(const uint8_t* Data, size_t Size)
{
    static const bool limited = (LimitMemory(uint64_t{1} << 30), true);
    (void)limited;
    std::string path = InputFile(Data, Size);
    return LongestScan(path) > MaxScanBits ? std::string() : path;
}

} // namespace fuzz
