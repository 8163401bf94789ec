#include "settings/settings.h"

#include <sys/stat.h>

#include "hexdigit.h"
#include "inifile.h"
#include "executor/jtag_execute.h"
#include "progpath.h"

const char* const SettingsSection = "Params";
const char* const ObsoleteSettingsText =
    "Fatal: ini files includes obsolete options. Please create new ini file using orbesk.";

namespace {

constexpr int32_t AutoSelect = -1;

uint8_t LowByte(int32_t Value)
{
    return static_cast<uint8_t>(static_cast<uint32_t>(Value) & 0xFF);
}

// Reads of the one section, by field width.
class TParams {
public:
    explicit TParams(const std::string& Path) : FIni(Path) {}

    bool Has(const char* Key) const { return FIni.ValueExists(SettingsSection, Key); }
    int32_t Int(const char* Key, int32_t Default) const { return FIni.ReadInteger(SettingsSection, Key, Default); }
    uint8_t Byte(const char* Key, int32_t Default) const { return LowByte(Int(Key, Default)); }
    bool Bool(const char* Key, int32_t Default) const { return Int(Key, Default) != 0; }

private:
    platform::TIniFile FIni;
};

// Both programs: a serial from the command line wins over the file.
void ReadLastSerial(const TParams& Params, TJtagExecuter& Executer)
{
    if (Executer.SelectedCable == AutoIgnoringLastSerial) {
        Executer.SelectedCable = AutoSelect;
    } else if (Executer.SelectedCable == AutoSelect) {
        const int32_t last = Params.Int("LastSerial", AutoSelect);
        // A Druvel asked for takes the remembered cable only when it is one.
        if (Executer.PreferredKind == PreferDruvel && TJtagExecuter::KindOf(last) != CableKindDruvel)
            return;
        Executer.SelectedCable = last;
        // So that a cable not found can be traced to the file.
        Executer.CableFromSettings = Executer.SelectedCable != AutoSelect;
    }
}

std::string FolderOf(const std::string& Path)
{
    const size_t slash = Path.rfind('/');
    return slash == std::string::npos ? std::string() : Path.substr(0, slash + 1);
}

// Defaults of the keys that replaced those of earlier versions; the desktop
// takes them from the old keys when the file still has them.
struct TFieldDefaults {
    int32_t RuntestTime = 2;
    int32_t RuntestPuls = 3;
    int32_t Recalculate = 1;
    int32_t PActive = 2;
    int32_t PInactive = 3;
    int32_t IgnoreFreq = 0;
};

// The executor's fields, alike in both programs but for the defaults.
void ReadFields(const TParams& Params, const TFieldDefaults& Defaults, TJtagExecuter& Executer)
{
    Executer.DefFreq = Params.Byte("DefFreq", 0);
    Executer.DefFreqRuntestTime = Params.Byte("DefFreqRuntestTime", Defaults.RuntestTime);
    Executer.DefFreqRuntestPuls = Params.Byte("DefFreqRuntestPuls", Defaults.RuntestPuls);
    Executer.FreqToFast = Params.Byte("FreqToFast", 1);
    Executer.RuntestRecalculate = Params.Byte("RuntestRecalculate", Defaults.Recalculate);
    Executer.RuntestRecalculateOnly1000TCK = Params.Bool("RuntestRecalculateOnly1000TCK", 0);
    Executer.SecurityTime = Params.Int("SecurityTime", 0);
    Executer.VarnelVPPActive = Params.Byte("VarnelVPPActive", Defaults.PActive);
    Executer.VarnelVPPInactive = Params.Byte("VarnelVPPInactive", Defaults.PInactive);
    Executer.MirrowPActive = Params.Byte("MirrowPActive", Defaults.PActive);
    Executer.MirrowPInactive = Params.Byte("MirrowPInactive", Defaults.PInactive);
    Executer.IgnoreFreqCmd = Params.Bool("IgnoreFreqCmd", Defaults.IgnoreFreq);
    Executer.MirrowVddOut = Params.Bool("MirrowVddOut", 0);
    Executer.MirrowVddVal = Params.Int("MirrowVddVal", 33);
    Executer.MirrowVddMin = Params.Int("MirrowVddMin", 18);
    Executer.MirrowVddMax = Params.Int("MirrowVddMax", 55);
    Executer.MirrowVddDelay = Params.Int("MirrowVddDelay", 10000);
    ReadLastSerial(Params, Executer);
}

} // namespace

std::string SettingsPathBeside(const std::string& ProgramFile)
{
    const size_t mark = ProgramFile.find_last_of("./");
    if (mark != std::string::npos && ProgramFile[mark] == '.')
        return ProgramFile.substr(0, mark) + ".ini";
    return ProgramFile + ".ini";
}

std::string DesktopSettingsPath(const std::string& ProgramFile)
{
    return SettingsPathBeside(ProgramFile);
}

std::string ConsoleSettingsPath(const std::string& ProgramFile)
{
    const std::string own = SettingsPathBeside(ProgramFile);
    if (SettingsFileExists(own))
        return own;
    const std::string desktop = FolderOf(ProgramFile) + "orbesk.ini";
    return SettingsFileExists(desktop) ? desktop : own;
}

std::string DesktopSettingsPath()
{
    return DesktopSettingsPath(platform::ProgramFilePath());
}

std::string ConsoleSettingsPath()
{
    return ConsoleSettingsPath(platform::ProgramFilePath());
}

bool SettingsFileExists(const std::string& Path)
{
    struct stat st {};
    return !Path.empty() && ::stat(Path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool LoadConsoleSettings(const std::string& Path, TJtagExecuter& Executer, uint8_t& ShowComments)
{
    const TParams p(Path);
    if (p.Has("RTwTime") || p.Has("RTwCount"))
        return false;
    ReadFields(p, TFieldDefaults{}, Executer);
    ShowComments = p.Byte("WriteComments", 1);
    return true;
}

void LoadSettings(const std::string& Path, TJtagExecuter& Executer, bool& WriteComments)
{
    const TParams p(Path);

    // The RUNTEST pair of earlier versions gives the defaults of the three
    // keys that replaced it; keys of the new form win where present.
    TFieldDefaults d;
    if (p.Has("RTwTime") && p.Has("RTwCount")) {
        const int32_t t = p.Int("RTwTime", -1);
        const int32_t c = p.Int("RTwCount", -1);
        d.RuntestTime = t == 0 ? 0 : t == 1 ? 1 : 2;
        switch (c) {
        case 0:
            d.RuntestPuls = 4;
            d.Recalculate = 0;
            break;
        case 1:
            d.RuntestTime = 4;
            d.RuntestPuls = 4;
            d.Recalculate = 1;
            break;
        case 2:
            d.RuntestPuls = 2;
            d.Recalculate = 2;
            break;
        default:
            break;
        }
    }
    d.PActive = p.Int("PActive", d.PActive);
    d.PInactive = p.Int("PInactive", d.PInactive);
    d.IgnoreFreq = p.Int("IgnoreFreq", d.IgnoreFreq);

    ReadFields(p, d, Executer);
    WriteComments = p.Byte("WriteComments", 1) != 0;
}

bool SaveSettings(const std::string& Path, const TJtagExecuter& Executer, bool WriteComments, std::string* Reason)
{
    platform::TIniFile ini(Path);
    const auto put = [&ini](const char* Key, int32_t Value) { ini.WriteInteger(SettingsSection, Key, Value); };
    put("DefFreq", Executer.DefFreq);
    put("DefFreqRuntestTime", Executer.DefFreqRuntestTime);
    put("DefFreqRuntestPuls", Executer.DefFreqRuntestPuls);
    put("FreqToFast", Executer.FreqToFast);
    put("RuntestRecalculate", Executer.RuntestRecalculate);
    put("RuntestRecalculateOnly1000TCK", Executer.RuntestRecalculateOnly1000TCK ? 1 : 0);
    put("SecurityTime", Executer.SecurityTime);
    put("VarnelVPPActive", Executer.VarnelVPPActive);
    put("VarnelVPPInactive", Executer.VarnelVPPInactive);
    put("MirrowPActive", Executer.MirrowPActive);
    put("MirrowPInactive", Executer.MirrowPInactive);
    put("IgnoreFreqCmd", Executer.IgnoreFreqCmd ? 1 : 0);
    put("LastSerial", Executer.SelectedCable);
    put("WriteComments", WriteComments ? 1 : 0);
    put("MirrowVddOut", Executer.MirrowVddOut ? 1 : 0);
    put("MirrowVddVal", Executer.MirrowVddVal);
    put("MirrowVddMin", Executer.MirrowVddMin);
    put("MirrowVddMax", Executer.MirrowVddMax);
    put("MirrowVddDelay", Executer.MirrowVddDelay);
    for (const char* obsolete : {"RTwTime", "RTwCount", "IgnoreFreq", "PActive", "PInactive"})
        ini.DeleteKey(SettingsSection, obsolete);
    if (ini.UpdateFile())
        return true;
    if (Reason)
        *Reason = ini.UpdateError();
    return false;
}

bool SettingsCanBeSaved(const std::string& Path, std::string& Reason)
{
    return platform::TIniFile(Path).CanUpdate(Reason);
}

bool SerialTextToInt64(const std::string& Text, int64_t& Value)
{
    uint64_t v = 0;
    if (!HexDigitsToUInt(Text, UINT64_MAX, v))
        return false;
    Value = static_cast<int64_t>(v);
    return true;
}

void ChooseCableFromSerial(TJtagExecuter& Executer, const std::string& SerialText, int32_t CableKind)
{
    constexpr int32_t SerialPartMask = 0xFFFFFF;
    constexpr int32_t SerialDefaultMiddle = 0x010000;
    // Four digits name a cable of the usual A601 range; more are a serial
    // as typed, so that a full one never names another cable.
    constexpr size_t ShortSerialDigits = 4;
    Executer.SelectedCable = -1;
    Executer.CableFromSettings = false;
    int64_t serial = 0;
    if (SerialTextToInt64(SerialText, serial)) {
        int32_t id = static_cast<int32_t>(serial & SerialPartMask);
        if (SerialText.size() <= ShortSerialDigits)
            id |= SerialDefaultMiddle;
        Executer.SelectedCable = id | CableKind;
        return;
    }
    Executer.SelectedCable = SerialText == "-" ? AutoIgnoringLastSerial : -1;
    if (CableKind == PreferMirrow || CableKind == PreferDruvel)
        Executer.PreferredKind = CableKind;
}
