// The settings file: the INI layer's reads, both programs' readers, and the
// desktop's writer, whose file must read back as the same settings and
// without the obsolete keys the console refuses.
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "executor/jtag_execute.h"
#include "fuzz_common.h"
#include "inifile.h"
#include "settings/settings.h"
#include "settings/settings_check.h"

namespace {

class TQuietExecuter : public TJtagExecuter {
public:
    void Message(const std::string&, MessageKind) override {}
    bool PrepareCable() override { return false; }
};

bool SameSettings(const TJtagExecuter& A, const TJtagExecuter& B)
{
    return A.DefFreq == B.DefFreq && A.DefFreqRuntestTime == B.DefFreqRuntestTime &&
           A.DefFreqRuntestPuls == B.DefFreqRuntestPuls && A.FreqToFast == B.FreqToFast &&
           A.RuntestRecalculate == B.RuntestRecalculate &&
           A.RuntestRecalculateOnly1000TCK == B.RuntestRecalculateOnly1000TCK && A.SecurityTime == B.SecurityTime &&
           A.VarnelVPPActive == B.VarnelVPPActive && A.VarnelVPPInactive == B.VarnelVPPInactive &&
           A.MirrowPActive == B.MirrowPActive && A.MirrowPInactive == B.MirrowPInactive &&
           A.IgnoreFreqCmd == B.IgnoreFreqCmd && A.MirrowVddOut == B.MirrowVddOut &&
           A.MirrowVddVal == B.MirrowVddVal && A.MirrowVddMin == B.MirrowVddMin &&
           A.MirrowVddMax == B.MirrowVddMax && A.MirrowVddDelay == B.MirrowVddDelay &&
           A.SelectedCable == B.SelectedCable;
}

const char* const Keys[] = {"DefFreq", "LastSerial", "WriteComments", "RTwTime", "MirrowVddVal", "SecurityTime"};

std::string Folder()
{
    static const std::string folder = [] {
        std::string pattern = (std::filesystem::temp_directory_path() / "orbesk-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr)
            fuzz::Finding("no temporary folder");
        return pattern;
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size)
{
    const std::string path = Folder() + "/orbesk.ini";
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
    }

    const platform::TIniFile ini(path);
    for (const char* key : Keys) {
        const std::string text = ini.ReadString("Params", key, "");
        int32_t value = 0;
        const bool converts = platform::IniStrToInt(text, value);
        if (ini.ReadInteger("Params", key, 12345) != (converts ? value : 12345))
            fuzz::Finding(std::string("ReadInteger disagrees with the value's text for ") + key);
        if (!text.empty() && !ini.ValueExists("Params", key))
            fuzz::Finding(std::string("a value without its key for ") + key);
    }

    TQuietExecuter console;
    console.SelectedCable = -1;
    uint8_t show = 0;
    LoadConsoleSettings(path, console, show);

    // The console's checked reading leaves every coded key within its codes.
    TQuietExecuter checked;
    checked.SelectedCable = -1;
    std::vector<std::string> warnings;
    if (LoadCheckedConsoleSettings(path, checked, show, warnings) &&
        (DefFreqHz(checked.DefFreq) == 0 || checked.DefFreqRuntestTime > 4 || checked.DefFreqRuntestPuls < 2 ||
         checked.DefFreqRuntestPuls > 4 || checked.FreqToFast > 4 || checked.RuntestRecalculate > 2 ||
         checked.VarnelVPPActive > 4 || checked.VarnelVPPInactive > 3 || checked.MirrowPActive > 3 ||
         checked.MirrowPInactive > 3 || checked.MirrowVddMin > checked.MirrowVddMax || checked.MirrowVddDelay < 0))
        fuzz::Finding("the checked settings hold a value outside its range");

    TQuietExecuter desktop;
    desktop.SelectedCable = -1;
    bool comments = false;
    LoadSettings(path, desktop, comments);
    if (!SaveSettings(path, desktop, comments))
        fuzz::Finding("the settings could not be written");
    TQuietExecuter again;
    again.SelectedCable = -1;
    bool commentsAgain = false;
    LoadSettings(path, again, commentsAgain);
    if (!SameSettings(desktop, again) || comments != commentsAgain)
        fuzz::Finding("the written settings read back differently");
    TQuietExecuter after;
    after.SelectedCable = -1;
    if (!LoadConsoleSettings(path, after, show))
        fuzz::Finding("the written settings still hold obsolete keys");
    return 0;
}
