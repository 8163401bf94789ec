#include "settings/settings_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <initializer_list>

#include "executor/jtag_execute.h"
#include "inifile.h"
#include "settings/settings.h"

namespace {

// A settings file is a few hundred bytes; this much shows what it is.
constexpr size_t SniffBytes = 64 * 1024;

// Control bytes that no text editor writes (a UTF-16 file has NULs).
bool LooksBinary(const std::string& Path)
{
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    std::string bytes(SniffBytes, '\0');
    const ssize_t n = ::read(fd, bytes.data(), bytes.size());
    ::close(fd);
    for (ssize_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(bytes[static_cast<size_t>(i)]);
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != '\f' && c != 0x1A)
            return true;
    }
    return false;
}

struct TByteKey {
    const char* Key;
    uint8_t TJtagExecuter::*Field;
    uint8_t Low;
    uint8_t High;
    uint8_t Default;
};

// The keys whose values are codes from a short list.
const TByteKey ByteKeys[] = {
    {"DefFreqRuntestTime", &TJtagExecuter::DefFreqRuntestTime, 0, 4, 2},
    {"DefFreqRuntestPuls", &TJtagExecuter::DefFreqRuntestPuls, 2, 4, 3},
    {"FreqToFast", &TJtagExecuter::FreqToFast, 0, 4, 1},
    {"RuntestRecalculate", &TJtagExecuter::RuntestRecalculate, 0, 2, 1},
    {"VarnelVPPActive", &TJtagExecuter::VarnelVPPActive, 0, 4, 2},
    {"VarnelVPPInactive", &TJtagExecuter::VarnelVPPInactive, 0, 3, 3},
    {"MirrowPActive", &TJtagExecuter::MirrowPActive, 0, 3, 2},
    {"MirrowPInactive", &TJtagExecuter::MirrowPInactive, 0, 3, 3},
};

struct TVoltsKey {
    const char* Key;
    int32_t TJtagExecuter::*Field;
    int32_t Default;
};

// Tenths of a volt, in the options dialog's range: a target is never
// powered or accepted by a value the dialog would refuse.
const TVoltsKey VoltsKeys[] = {
    {"MirrowVddVal", &TJtagExecuter::MirrowVddVal, 33},
    {"MirrowVddMin", &TJtagExecuter::MirrowVddMin, 18},
    {"MirrowVddMax", &TJtagExecuter::MirrowVddMax, 55},
};
constexpr int32_t LowestVolts = 18;
constexpr int32_t HighestVolts = 55;

// Every key the readers look for in [Params].
const char* const SettingsKeys[] = {
    "DefFreq",       "DefFreqRuntestTime", "DefFreqRuntestPuls", "FreqToFast",     "RuntestRecalculate",
    "RuntestRecalculateOnly1000TCK",       "SecurityTime",       "VarnelVPPActive", "VarnelVPPInactive",
    "MirrowPActive", "MirrowPInactive",    "IgnoreFreqCmd",      "LastSerial",     "WriteComments",
    "MirrowVddOut",  "MirrowVddVal",       "MirrowVddMin",       "MirrowVddMax",   "MirrowVddDelay",
    "RTwTime",       "RTwCount",
};

constexpr uint8_t DefaultDefFreq = 0;
constexpr int32_t DefaultVddDelay = 10000;
// The options dialog's limit; far longer ones overflow the cable's wait.
constexpr int32_t MaxVddDelay = 1000000;

bool SameKey(const std::string& A, const char* B)
{
    const auto same = [](char a, char b) {
        return std::toupper(static_cast<unsigned char>(a)) == std::toupper(static_cast<unsigned char>(b));
    };
    return A.size() == std::strlen(B) && std::equal(A.begin(), A.end(), B, same);
}

std::string Setting(const platform::TIniFile& Ini, const char* Key)
{
    return std::string(Key) + "=" + Ini.ReadString(SettingsSection, Key, "");
}

std::string UsedInstead(const std::string& What)
{
    return "; " + What + " is used instead.";
}

// The key is there and its value reads as no 32-bit number (the readers
// then take the default without a word).
bool NoNumber(const platform::TIniFile& Ini, const char* Key)
{
    return Ini.ValueExists(SettingsSection, Key) &&
           Ini.ReadInteger(SettingsSection, Key, 0) != Ini.ReadInteger(SettingsSection, Key, 1);
}

bool NamesACable(int32_t ProgrammerId)
{
    const int32_t kind = TJtagExecuter::KindOf(ProgrammerId);
    return ProgrammerId == -1 || kind == CableKindVarnel || kind == CableKindMirrow || kind == CableKindDruvel;
}

void CheckRanges(const platform::TIniFile& Ini, TJtagExecuter& Executer, std::vector<std::string>& Warnings)
{
    // Byte fields are checked as they were taken: 266 is a DefFreq of 10.
    if (Ini.ValueExists(SettingsSection, "DefFreq") && DefFreqHz(Executer.DefFreq) == 0) {
        Warnings.push_back("Warning: the setting " + Setting(Ini, "DefFreq") +
                           " names no TCK frequency (0, 1, 2, 5, 10 or 15)" + UsedInstead("0 (3 MHz)"));
        Executer.DefFreq = DefaultDefFreq;
    }
    for (const TByteKey& k : ByteKeys) {
        uint8_t& field = Executer.*k.Field;
        if (!Ini.ValueExists(SettingsSection, k.Key) || (field >= k.Low && field <= k.High))
            continue;
        Warnings.push_back("Warning: the setting " + Setting(Ini, k.Key) + " is outside " + std::to_string(k.Low) +
                           ".." + std::to_string(k.High) + UsedInstead(std::to_string(k.Default)));
        field = k.Default;
    }
    for (const TVoltsKey& k : VoltsKeys) {
        int32_t& field = Executer.*k.Field;
        if (!NoNumber(Ini, k.Key) && (!Ini.ValueExists(SettingsSection, k.Key) ||
                                      (field >= LowestVolts && field <= HighestVolts)))
            continue;
        Warnings.push_back("Warning: the setting " + Setting(Ini, k.Key) + " is outside " +
                           std::to_string(LowestVolts) + ".." + std::to_string(HighestVolts) + " (tenths of a volt)" +
                           UsedInstead(std::to_string(k.Default)));
        field = k.Default;
    }
    if (const int32_t out = Ini.ReadInteger(SettingsSection, "MirrowVddOut", 0);
        NoNumber(Ini, "MirrowVddOut") || (out != 0 && out != 1)) {
        Warnings.push_back("Warning: the setting " + Setting(Ini, "MirrowVddOut") + " is outside 0..1" +
                           UsedInstead("0 (the target is not powered)"));
        Executer.MirrowVddOut = false;
    }
    if (NoNumber(Ini, "SecurityTime")) {
        Warnings.push_back("Warning: the setting " + Setting(Ini, "SecurityTime") + " is no 32-bit number" +
                           UsedInstead("0"));
        Executer.SecurityTime = 0;
    }
    // Kept: no cable is chosen by it, and the start says so.
    if (const int32_t last = Ini.ReadInteger(SettingsSection, "LastSerial", -1);
        NoNumber(Ini, "LastSerial") || !NamesACable(last))
        Warnings.push_back("Warning: the setting " + Setting(Ini, "LastSerial") +
                           " names no cable (-1, or a serial with the kind 0, 2 or 123 in bits 24-31)" +
                           (NoNumber(Ini, "LastSerial") ? UsedInstead("-1 (the first cable found)")
                                                        : "; no cable is chosen by it."));
    // Kept as they are, so that the console refuses the target's voltage
    // as the desktop does with the same file; wider limits put in their
    // place would power a board the user meant to keep out.
    if (Executer.MirrowVddMin > Executer.MirrowVddMax)
        Warnings.push_back("Warning: the setting MirrowVddMin=" + std::to_string(Executer.MirrowVddMin) +
                           " is above MirrowVddMax=" + std::to_string(Executer.MirrowVddMax) +
                           "; both are used as they are, and a Mirrow accepts no target voltage with them.");
    if (Executer.MirrowVddDelay < 0 || Executer.MirrowVddDelay > MaxVddDelay) {
        Warnings.push_back("Warning: the setting " + Setting(Ini, "MirrowVddDelay") + " is outside 0.." +
                           std::to_string(MaxVddDelay) + UsedInstead(std::to_string(DefaultVddDelay)));
        Executer.MirrowVddDelay = DefaultVddDelay;
    }
}

void CheckStrayKeys(const platform::TIniFile& Ini, std::vector<std::string>& Warnings)
{
    for (const platform::TIniFile::TStrayKey& k : Ini.KeysOutside(SettingsSection)) {
        if (std::none_of(std::begin(SettingsKeys), std::end(SettingsKeys),
                         [&k](const char* Key) { return SameKey(k.Key, Key); }))
            continue;
        const std::string where = k.Section.empty() ? "before any section"
                                  : SameKey(k.Section, SettingsSection) ? "in a second [" + k.Section + "]"
                                                                        : "in [" + k.Section + "]";
        Warnings.push_back("Warning: the setting " + k.Key + "=" + k.Value + " stands " + where +
                           ", outside [Params], and is not read" + UsedInstead("the value in [Params] or the default"));
    }
}

} // namespace

std::string SettingsFileRefusal(const std::string& Path)
{
    struct stat st {};
    if (Path.empty() || ::stat(Path.c_str(), &st) != 0)
        return "Error: Specified inifile does not exist!";
    if (S_ISDIR(st.st_mode))
        return "Error: Specified inifile is a directory!";
    // The reader takes regular files only: a pipe or a device would be
    // read as an empty file, every setting its default, without a word.
    if (!S_ISREG(st.st_mode))
        return "Error: Specified inifile cannot be read: it is not a regular file";
    const int fd = ::open(Path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return std::string("Error: Specified inifile cannot be read: ") + std::strerror(errno);
    ::close(fd);
    return {};
}

bool LoadCheckedConsoleSettings(const std::string& Path, TJtagExecuter& Executer, uint8_t& ShowComments,
                                std::vector<std::string>& Warnings)
{
    if (LooksBinary(Path)) {
        Warnings.push_back("Warning: the settings file " + Path +
                           " is not a text file; the defaults are used instead.");
        return LoadConsoleSettings("", Executer, ShowComments);
    }
    if (!LoadConsoleSettings(Path, Executer, ShowComments))
        return false;
    const platform::TIniFile ini(Path);
    CheckStrayKeys(ini, Warnings);
    CheckRanges(ini, Executer, Warnings);
    return true;
}
