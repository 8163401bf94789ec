// The XSVF reader and decoder: the pre-scan that the registry's constructor
// makes over the whole file, and a reader instance that decodes and applies
// command by command, as the worker's instances do. Every input is either
// accepted or refused with an error, in bounded time and memory.
#include <cstdint>
#include <new>
#include <string>

#include "fuzz_common.h"
#include "xsvf_size_limit.h"
#include "xsvf/xsvf.h"

namespace {

// Commands decoded at most: far more than an input of 8 KB holds.
constexpr int CommandBudget = 100000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string path = fuzz::XsvfInputFile(Data, Size);
    if (path.empty())
        return -1; // kept out of the corpus
    bool accepted = false;
    try {
        TXSVFFile scanned(path);
        scanned.CheckFile({});
        accepted = true;
        if (scanned.CommandCount < 1)
            fuzz::Finding("a file accepted without a command");
    } catch (const Exception&) {
    } catch (const std::bad_alloc&) {
    }
    try {
        const auto reader = TXSVFFile::CreateReader(path);
        TXSVFCommand command;
        for (int n = 0;; ++n) {
            if (n == CommandBudget)
                fuzz::Finding("no end to the commands");
            TXSVFFile::ClearCommand(command);
            reader->ReadCommand(command);
            if (command.empty())
                fuzz::Finding("decoded a command without its opcode");
            reader->ApplyCommand(command);
            if (command[0] == XCOMPLETE)
                break;
        }
    } catch (const Exception&) {
        if (accepted)
            fuzz::Finding("the reader refused a file that the pre-scan accepted");
    } catch (const std::bad_alloc&) {
    }
    return 0;
}
