// The XSVF player, pipelined or by the XC9500 method, worker thread and
// all, over the recording fake cable of the tests, judged as
// tests/support/svf_playcheck.h says (an XSVF file may end in any state of
// its own choosing). A file the pre-scan refuses never reaches a cable.
#include <cstdint>
#include <memory>
#include <new>
#include <string>

#include "fuzz_common.h"
#include "xsvf_size_limit.h"
#include "support/svf_playcheck.h"
#include "xsvf/xsvf.h"

namespace {

constexpr int64_t EventBudget = 20000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string path = fuzz::XsvfInputFile(Data, Size);
    if (path.empty())
        return -1; // kept out of the corpus
    std::unique_ptr<TXSVFFile> player;
    try {
        player = std::make_unique<TXSVFFile>(path);
        // As a start does: a file the scan refuses never plays.
        player->CheckFile({});
    } catch (const Exception&) {
        return 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
    svftest::TFakeCable cable;
    const std::string fault = svftest::JudgeStarted(*player, path, cable, EventBudget, false);
    if (!fault.empty())
        fuzz::Finding(fault);
    return 0;
}
