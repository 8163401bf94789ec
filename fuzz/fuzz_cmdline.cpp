// orbeskcon's command line: the parameter parser and the option handling
// that reads the settings and chooses the cable, over arguments cut from
// the input at its line ends. Refusals end with an exit status, never a
// crash; an accepted command line names a data file that exists.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "console_exec.h"
#include "fuzz_common.h"
#include "paramutils.h"
#include "settings/settings.h"

namespace {

constexpr size_t MaxArguments = 24;

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static std::FILE* const none = std::fopen("/dev/null", "w+");
    ConsoleStreams().Out = none;
    ConsoleStreams().Err = none;
    ConsoleStreams().In = none;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    std::vector<std::string> args{"orbeskcon"};
    std::string current;
    for (size_t i = 0; i < Size && args.size() < MaxArguments; ++i) {
        if (Data[i] == '\n') {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(Data[i]));
        }
    }
    if (!current.empty() && args.size() < MaxArguments)
        args.push_back(current);
    std::vector<const char*> argv;
    for (const std::string& a : args)
        argv.push_back(a.c_str());

    SetProcessArguments(static_cast<int>(argv.size()), argv.data());
    FreeParameterSingleton();
    DeclareConsoleOptions();
    TParameters& params = ParameterSingleton();
    for (int n = 0; n < params.FreeArgumentCount(); ++n)
        (void)params.FreeArgument(n);

    TConsoleState state;
    state.Executer = std::make_unique<TConsoleExecuter>();
    try {
        if (ConsoleOptions(state)) {
            if (state.DataFileName.empty() || !SettingsFileExists(state.DataFileName))
                fuzz::Finding("accepted a command line without a data file");
            if (!params.Validate().empty())
                fuzz::Finding("accepted a command line that does not validate");
        }
    } catch (const EConsoleExit& e) {
        if (e.Status != ExitUsage && e.Status != ExitObsoleteSettings)
            fuzz::Finding("refused with exit status " + std::to_string(e.Status));
    }
    FreeParameterSingleton();
    return 0;
}
