// The console program's command line and settings: what to play, on which
// cable, with which settings; every refusal before the run.
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

constexpr int32_t SerialPartMask = 0xFFFFFF;
constexpr int32_t SerialMiddleByte = 0xFF0000;
constexpr int32_t SerialDefaultMiddle = 0x010000;

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

bool SerialTextToInt64(const std::string& Text, int64_t& Value)
{
    if (Text.empty())
        return false;
    uint64_t v = 0;
    for (const char c : Text) {
        const int digit = HexDigitValue(c);
        if (digit < 0)
            return false;
        // The limit is the value's, not the digits': leading zeros are fine.
        if (v > 0x0FFFFFFFFFFFFFFFull)
            return false;
        v = v << 4 | static_cast<uint64_t>(digit);
    }
    Value = static_cast<int64_t>(v);
    return true;
}

void ChooseConsoleCable(TJtagExecuter& Executer, const std::string& SerialText, bool Mirrow, bool Druvel)
{
    Executer.SelectedCable = -1;
    int64_t serial = 0;
    if (SerialTextToInt64(SerialText, serial)) {
        int32_t id = static_cast<int32_t>(serial & SerialPartMask);
        // A short serial names the usual A601 range.
        if ((id & SerialMiddleByte) == 0)
            id |= SerialDefaultMiddle;
        if (Mirrow)
            id |= int32_t{CableKindMirrow} << 24;
        else if (Druvel)
            id |= int32_t{CableKindDruvel} << 24;
        Executer.SelectedCable = id;
        return;
    }
    Executer.SelectedCable = SerialText == "-" ? AutoIgnoringLastSerial : -1;
    if (Mirrow)
        Executer.PreferredKind = PreferMirrow;
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
