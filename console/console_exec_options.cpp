// The console program's command line and settings: what to play, on which
// cable, with which settings; every refusal before the run.
#include "console_exec.h"
#include "filereader.h"
#include "hexdigit.h"
#include "paramutils.h"
#include "settings/settings.h"
#include "settings/settings_check.h"

const char* const ConsoleVersionText = "orbeskcon version 3.12, 2024-02-07";
const char* const ConsoleUsageText =
    "usage: orbeskcon  [-mirrow | -druvel | -varnel] [-s serial] [-i inifile] [-w] file.svf | file.xsvf\n"
    "       orbeskcon  -version | -h | -help\n"
    "  -mirrow, -druvel, -varnel  the kind of cable -s names (else a Varnel); -mirrow alone: a Mirrow first\n"
    "  -s serial   the cable's serial number, hexadecimal; - for the first cable found\n"
    "  -i inifile  the settings file (else orbeskcon.ini, or orbesk.ini, beside the program)\n"
    "  -w          wait for Enter after a failed run\n"
    "  -f file     the data file, when it is not named on its own\n"
    "  -v          accepted, and does nothing\n"
    "  -version    the version; -h, -help and --help this text";

namespace {

bool Found(const char* Name)
{
    return ParameterSingleton().GetParameter(Name).Found;
}

std::string ValueOf(const char* Name)
{
    return ParameterSingleton().GetParameter(Name).Value;
}

// The GNU forms --help and --version, as their single-dash options.
bool FoundLong(const char* Name)
{
    TParameters& params = ParameterSingleton();
    for (int i = 1; i <= params.GetArgCount(); ++i) {
        std::string arg = params.GetArg(i);
        UpperCaseAscii(arg);
        // The value of -s, -f or -i is that option's, whatever it reads.
        if (arg == "-S" || arg == "-F" || arg == "-I") {
            ++i;
            continue;
        }
        if (arg == std::string("--") + Name)
            return true;
    }
    return false;
}

[[noreturn]] void Refuse(const std::string& Text, int Status)
{
    WriteOutLine(Text);
    throw EConsoleExit(Status);
}

// From the last '.' of the file-name part, upper-cased; empty without one.
std::string UpperExtension(const std::string& Name)
{
    const size_t mark = Name.find_last_of("./");
    if (mark == std::string::npos || Name[mark] != '.')
        return {};
    std::string extension = Name.substr(mark);
    UpperCaseAscii(extension);
    return extension;
}

} // namespace

void DeclareConsoleOptions()
{
    TParameters& params = ParameterSingleton();
    params.CaseSensitive = false;
    params.Combined = false;
    params.GetParameter("S").TakesValue = true;
    params.GetParameter("V");
    params.GetParameter("VERSION");
    params.GetParameter("F").TakesValue = true;
    params.GetParameter("I").TakesValue = true;
    params.GetParameter("H");
    params.GetParameter("HELP");
    params.GetParameter("W");
    params.GetParameter("MIRROW");
    params.GetParameter("DRUVEL");
    params.GetParameter("VARNEL");
}

std::string SerialRefusalText(const std::string& SerialText)
{
    return "Error, the serial \"" + SerialText + "\" is not a hexadecimal number of at most 64 bits.";
}

void ChooseConsoleCable(TJtagExecuter& Executer, const std::string& SerialText, bool Mirrow, bool Druvel)
{
    const int32_t kind = Mirrow ? int32_t{CableKindMirrow} << 24 : Druvel ? int32_t{CableKindDruvel} << 24 : 0;
    ChooseCableFromSerial(Executer, SerialText, kind);
}

bool ConsoleOptions(TConsoleState& State)
{
    TParameters& params = ParameterSingleton();
    State.SerialText.clear();
    State.SettingsPath = ConsoleSettingsPath();

    if (Found("VERSION") || FoundLong("VERSION"))
        Refuse(ConsoleVersionText, ExitUsage);
    if (Found("H") || Found("HELP") || FoundLong("HELP"))
        Refuse(ConsoleUsageText, ExitUsage);
    if (const std::string error = params.Validate(); !error.empty())
        Refuse(error, ExitUsage);
    // A second file would otherwise be silently left unplayed.
    if (params.FreeArgumentCount() > 1)
        Refuse("Error, only one data file can be given: " + params.FreeArgument(0) + " and " + params.FreeArgument(1) +
                   " were.",
               ExitUsage);

    if (Found("F"))
        State.DataFileName = ValueOf("F");
    if (params.FreeArgumentCount() > 0)
        State.DataFileName = params.FreeArgument(0);

    if (Found("I")) {
        State.SettingsPath = ValueOf("I");
        if (const std::string refusal = SettingsFileRefusal(State.SettingsPath); !refusal.empty()) {
            WriteOutLine("inifile: " + State.SettingsPath);
            WriteOutLine(refusal);
            return false;
        }
    }
    if (Found("S"))
        State.SerialText = ValueOf("S");

    if (State.DataFileName.empty())
        Refuse("no given file name to program", ExitUsage);
    if (platform::IsDirectoryPath(State.DataFileName)) {
        WriteOutLine("Error, the selected data file is a directory:");
        Refuse(State.DataFileName, ExitUsage);
    }
    if (!SettingsFileExists(State.DataFileName)) {
        WriteOutLine("Error, the selected data file does not exist:");
        Refuse(State.DataFileName, ExitUsage);
    }
    if (const std::string extension = UpperExtension(State.DataFileName);
        extension != ".SVF" && extension != ".XSVF")
        Refuse("Error, only .SVF and .XSVF data file types are supported.", ExitUsage);

    // A mistyped serial must not send the file to another cable: only "-"
    // and hexadecimal numbers choose one.
    int64_t serial = 0;
    if (Found("S") && State.SerialText != "-" && !SerialTextToInt64(State.SerialText, serial))
        Refuse(SerialRefusalText(State.SerialText), ExitUsage);

    TConsoleExecuter& executer = *State.Executer;
    ChooseConsoleCable(executer, State.SerialText, Found("MIRROW"), Found("DRUVEL"));

    std::vector<std::string> warnings;
    if (!LoadCheckedConsoleSettings(State.SettingsPath, executer, executer.ShowComments, warnings)) {
        WriteErrLine(ObsoleteSettingsText);
        throw EConsoleExit(ExitObsoleteSettings);
    }
    for (const std::string& line : warnings)
        WriteOutLine(line);
    return true;
}
