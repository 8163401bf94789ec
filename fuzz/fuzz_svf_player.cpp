// The SVF player, worker thread and all, over the recording fake cable of
// the tests: its own TAP model checks that every shift happens in a Shift
// state, that RUNTEST waits in a stable state and that every read asks for
// its shift's capture pattern. Every input must either play, or end with
// status Failed and a clear error; a budget of cable events ends a file
// that legally asks for hours.
#include <cstdint>
#include <string>

#include "fuzz_common.h"
#include "support/svf_testutil.h"
#include "svf/svf.h"

namespace {

constexpr int64_t EventBudget = 200000;

bool IsStable(TapState State)
{
    return State == TapState::RESET || State == TapState::IDLE || State == TapState::DRPAUSE ||
           State == TapState::IRPAUSE;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    fuzz::LimitMemory(uint64_t{2} << 30);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string path = fuzz::InputFile(Data, Size);
    svftest::TFakeCable cable;
    cable.Budget = EventBudget;
    // A 32-bit data register for instruction 0x01 (as after "SIR 8 TDI (01)"),
    // else the one-bit bypass, so that reads both match and mismatch.
    cable.DrCapture = [](uint32_t Ir, int) {
        return Ir == 0x01 ? svftest::BitsOf(0x12345679u, 32) : std::vector<uint8_t>{0};
    };
    FileStatus status;
    {
        TSVFFile player(path);
        cable.Attach(player);
        player.Start(1000000);
        status = svftest::RunToEnd(player);
    }

    if (!cable.Violations.empty())
        fuzz::Finding("the chain saw: " + cable.Violations.front());
    int errors = 0;
    int fatal = 0;
    for (const auto& m : cable.Messages)
        if (m.second == MessageKind::Error) {
            ++errors;
            fatal += m.first.rfind("Fatal error", 0) == 0;
        }
    if (status == FileStatus::Succeeded) {
        if (errors > 0)
            fuzz::Finding("succeeded after an error: " + cable.MessagesOf(MessageKind::Error).front());
        if (cable.BudgetSpent)
            fuzz::Finding("succeeded although the cable failed");
        // Every end state is one the TAP can rest in.
        if (!IsStable(cable.State))
            fuzz::Finding(std::string("run ended with the chain in ") + svftest::StateName(cable.State));
    } else if (status == FileStatus::Failed) {
        if (errors == 0)
            fuzz::Finding("failed without an error");
        if (fatal > 1)
            fuzz::Finding("more than one fatal error");
    } else {
        fuzz::Finding("run still going after the player was freed");
    }
    return 0;
}
