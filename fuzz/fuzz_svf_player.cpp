// The SVF player, worker thread and all, over the recording fake cable of
// the tests, judged as tests/support/svf_playcheck.h says: every input must
// either play, or end with status Failed and a clear error, with the chain
// never out of step; a budget of cable events ends a file that legally asks
// for hours.
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "svf_scan_limit.h"
#include "support/svf_playcheck.h"

namespace {

// Fewer cable events than the tests allow: enough for a few LOOP passes
// and shifts, and many more inputs a second.
constexpr int64_t EventBudget = 20000;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string path = fuzz::SvfInputFile(Data, Size);
    if (path.empty())
        return -1; // kept out of the corpus
    svftest::TFakeCable cable;
    const std::string fault = svftest::JudgePlay(path, cable, EventBudget);
    if (!fault.empty())
        fuzz::Finding(fault);
    return 0;
}
