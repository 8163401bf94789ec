// The longest scan an XSVF file sets (XSDRSIZE). As with SVF, the players'
// work and memory are linear in it and larger sizes only slow the search
// down, so the XSVF targets leave such inputs out of their corpus (the
// refusal of sizes beyond the format's range stays in).
#pragma once

#include <cstdint>
#include <new>
#include <string>

#include "fuzz_common.h"
#include "xsvf/xsvf.h"

namespace fuzz {

constexpr uint32_t MaxXsvfScanBits = uint32_t{1} << 20;

// The input as a file for an XSVF target; empty when it sets a scan size
// beyond MaxXsvfScanBits and up to the format's range. The first call caps
// the process's memory.
inline std::string XsvfInputFile(const uint8_t* Data, size_t Size)
{
    static const bool limited = (LimitMemory(uint64_t{1} << 30), true);
    (void)limited;
    std::string path = InputFile(Data, Size);
    try {
        const auto reader = TXSVFFile::CreateReader(path);
        TXSVFCommand command;
        for (int n = 0; n < 100000; ++n) {
            TXSVFFile::ClearCommand(command);
            reader->ReadCommand(command);
            if (command.empty() || command[0] == XCOMPLETE)
                break;
            if (command[0] == XSDRSIZE) {
                const uint32_t bits = TXSVFFile::GetBE32(command, 1);
                if (bits > MaxXsvfScanBits && bits <= uint32_t{0x7FFFFFFF})
                    return {};
            }
            reader->ApplyCommand(command);
        }
    } catch (const Exception&) {
    } catch (const std::bad_alloc&) {
    }
    return path;
}

} // namespace fuzz
