// The console program's command line and settings: what to play, on which
// cable, with which settings; every refusal before the run.
#include <sys/stat.h>

#include "console_exec.h"
#include "hexdigit.h"
#include "paramutils.h"
#include "settings/settings.h"

const char* const ConsoleVersionText = "orbeskcon version 3.12, 2024-02-07";
const char* const ConsoleUsageText = "usage: orbeskcon.exe  [-mirrow] [-s serial] [-i inifile] file.svf";

namespace {

bool Found(const char* Name)
{
    return ParameterSingleton().GetParameter(Name).Found;
}

std::string ValueOf(const char* Name)
{
    return ParameterSingleton().GetParameter(Name).Value;
}

bool IsDirectoryPath(const std::string& Path)
{
    struct stat info {};
    return !Path.empty() && ::stat(Path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
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

    if (Found("VERSION"))
        Refuse(ConsoleVersionText, ExitUsage);
    if (Found("H") || Found("HELP"))
        Refuse(ConsoleUsageText, ExitUsage);
    if (const std::string error = params.Validate(); !error.empty())
        Refuse(error, ExitUsage);

    if (Found("F"))
        State.DataFileName = ValueOf("F");
    if (params.FreeArgumentCount() > 0)
        State.DataFileName = params.FreeArgument(0);

    if (Found("I")) {
        State.SettingsPath = ValueOf("I");
        if (!SettingsFileExists(State.SettingsPath)) {
            WriteOutLine("inifile: " + State.SettingsPath);
            WriteOutLine("Error: Specified inifile does not exist!");
            return false;
        }
    }
    if (Found("S"))
        State.SerialText = ValueOf("S");

    if (State.DataFileName.empty())
        Refuse("no given file name to program", ExitUsage);
    if (IsDirectoryPath(State.DataFileName)) {
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

    if (!LoadConsoleSettings(State.SettingsPath, executer, executer.ShowComments)) {
        WriteErrLine(ObsoleteSettingsText);
        throw EConsoleExit(ExitObsoleteSettings);
    }
    return true;
}
