#include "settings/settings.h"
#include "settings/settings_check.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <ostream>
#include <string>

#include "support/ini_folder_fixture.h"
#include "inifile.h"
#include "executor/jtag_execute.h"

namespace {

class TSettingsExecuter : public TJtagExecuter {
public:
    void Message(const std::string&, MessageKind) override {}
    bool PrepareCable() override { return false; }
};

// Every field the settings fill, for whole comparisons.
struct TFields {
    int DefFreq, DefFreqRuntestTime, DefFreqRuntestPuls, FreqToFast, RuntestRecalculate;
    bool RuntestRecalculateOnly1000TCK;
    int32_t SecurityTime;
    int VarnelVPPActive, VarnelVPPInactive, MirrowPActive, MirrowPInactive;
    bool IgnoreFreqCmd, MirrowVddOut;
    int32_t MirrowVddVal, MirrowVddMin, MirrowVddMax, MirrowVddDelay, SelectedCable;
    bool operator==(const TFields&) const = default;
};

std::ostream& operator<<(std::ostream& Out, const TFields& F)
{
    return Out << "{DefFreq " << F.DefFreq << ", RT time " << F.DefFreqRuntestTime << ", RT puls "
               << F.DefFreqRuntestPuls << ", FreqToFast " << F.FreqToFast << ", Recalc " << F.RuntestRecalculate
               << ", Only1000 " << F.RuntestRecalculateOnly1000TCK << ", Security " << F.SecurityTime << ", VPP "
               << F.VarnelVPPActive << "/" << F.VarnelVPPInactive << ", P " << F.MirrowPActive << "/"
               << F.MirrowPInactive << ", IgnoreFreq " << F.IgnoreFreqCmd << ", VddOut " << F.MirrowVddOut
               << ", Vdd " << F.MirrowVddVal << " " << F.MirrowVddMin << " " << F.MirrowVddMax << " "
               << F.MirrowVddDelay << ", Selected " << F.SelectedCable << "}";
}

TFields FieldsOf(const TJtagExecuter& E)
{
    return {E.DefFreq,
            E.DefFreqRuntestTime,
            E.DefFreqRuntestPuls,
            E.FreqToFast,
            E.RuntestRecalculate,
            E.RuntestRecalculateOnly1000TCK,
            E.SecurityTime,
            E.VarnelVPPActive,
            E.VarnelVPPInactive,
            E.MirrowPActive,
            E.MirrowPInactive,
            E.IgnoreFreqCmd,
            E.MirrowVddOut,
            E.MirrowVddVal,
            E.MirrowVddMin,
            E.MirrowVddMax,
            E.MirrowVddDelay,
            E.SelectedCable};
}

// The defaults of both programs, with no serial on the command line.
const TFields Defaults{0, 2, 3, 1, 1, false, 0, 2, 3, 2, 3, false, false, 33, 18, 55, 10000, -1};

class SettingsFile : public TIniFolderTest {
protected:
    void PutParams(const std::string& Keys) const { Put(Path, "[Params]\n" + Keys); }

    // Both readers over the same file, each with a fresh executer whose
    // SelectedCable the command line left as given.
    struct TRead {
        TFields Console;
        bool ConsoleLoaded;
        uint8_t ShowComments;
        TFields Desktop;
        bool WriteComments;
    };
    TRead ReadBoth(int32_t Selected = -1) const
    {
        TRead r{};
        TSettingsExecuter console;
        console.SelectedCable = Selected;
        r.ShowComments = 0xEE;
        r.ConsoleLoaded = LoadConsoleSettings(Path, console, r.ShowComments);
        r.Console = FieldsOf(console);
        TSettingsExecuter desktop;
        desktop.SelectedCable = Selected;
        LoadSettings(Path, desktop, r.WriteComments);
        r.Desktop = FieldsOf(desktop);
        return r;
    }

};

TEST_F(SettingsFile, MissingOrEmptyFileGivesTheDefaults)
{
    for (const bool exists : {false, true}) {
        if (exists)
            Put(Path, "");
        const TRead r = ReadBoth();
        EXPECT_TRUE(r.ConsoleLoaded);
        EXPECT_EQ(r.Console, Defaults) << exists;
        EXPECT_EQ(r.ShowComments, 1) << exists;
        EXPECT_EQ(r.Desktop, Defaults) << exists;
        EXPECT_TRUE(r.WriteComments) << exists;
    }
}

// Keys in other sections and unknown keys play no part; names match in
// any letter case.
TEST_F(SettingsFile, ReadsOnlyTheParamsSection)
{
    Put(Path, "[Other]\nDefFreq=5\n[params]\ndeffreq=1\nUnknown=3\n");
    const TRead r = ReadBoth();
    TFields expected = Defaults;
    expected.DefFreq = 1;
    EXPECT_EQ(r.Console, expected);
    EXPECT_EQ(r.Desktop, expected);
}

// The console's checked reading: each value outside its key's range gives
// way to the key's default, and nothing else changes. A file the settings
// writer wrote is read without a word.
TEST_F(SettingsFile, ConsoleReplacesValuesOutsideTheirRangeWithTheDefaults)
{
    PutParams("DefFreq=99\nDefFreqRuntestTime=5\nDefFreqRuntestPuls=1\nFreqToFast=5\nRuntestRecalculate=3\n"
              "VarnelVPPActive=42\nVarnelVPPInactive=4\nMirrowPActive=4\nMirrowPInactive=-1\n"
              "MirrowVddVal=50\nMirrowVddMin=50\nMirrowVddMax=30\nMirrowVddDelay=-1\nSecurityTime=25\n");
    TSettingsExecuter e;
    e.SelectedCable = -1;
    uint8_t show = 0;
    std::vector<std::string> warnings;
    EXPECT_TRUE(LoadCheckedConsoleSettings(Path, e, show, warnings));
    TFields expected = Defaults;
    expected.MirrowVddVal = 50;
    expected.SecurityTime = 25;
    // Limits that contradict each other are kept: the Mirrow then refuses
    // the target, as the desktop does.
    expected.MirrowVddMin = 50;
    expected.MirrowVddMax = 30;
    EXPECT_EQ(FieldsOf(e), expected);
    EXPECT_EQ(warnings.size(), 11u) << testing::PrintToString(warnings);

    // Within range: read as the plain reader reads it, without a word.
    PutParams("DefFreq=15\nDefFreqRuntestTime=4\nDefFreqRuntestPuls=2\nVarnelVPPActive=4\nMirrowVddMin=30\n"
              "MirrowVddMax=30\nMirrowVddDelay=1000000\n");
    TSettingsExecuter plain;
    TSettingsExecuter checked;
    warnings.clear();
    ASSERT_TRUE(LoadConsoleSettings(Path, plain, show));
    ASSERT_TRUE(LoadCheckedConsoleSettings(Path, checked, show, warnings));
    EXPECT_EQ(FieldsOf(checked), FieldsOf(plain));
    EXPECT_TRUE(warnings.empty()) << testing::PrintToString(warnings);

    // What the writer writes, defaults or the top of each range.
    for (const bool tops : {false, true}) {
        TSettingsExecuter written;
        bool comments = true;
        LoadSettings(Path + ".absent", written, comments);
        if (tops) {
            written.FreqToFast = 4;
            written.RuntestRecalculate = 2;
            written.MirrowPActive = 3;
            written.VarnelVPPInactive = 3;
            written.MirrowVddDelay = 0;
        }
        ASSERT_TRUE(SaveSettings(Path, written, comments));
        TSettingsExecuter read;
        warnings.clear();
        ASSERT_TRUE(LoadCheckedConsoleSettings(Path, read, show, warnings));
        EXPECT_TRUE(warnings.empty()) << tops << testing::PrintToString(warnings);
    }

    // The obsolete keys are still refused first.
    PutParams("DefFreq=99\nRTwTime=1\n");
    EXPECT_FALSE(LoadCheckedConsoleSettings(Path, checked, show, warnings));
}

TEST_F(SettingsFile, RefusalOfAFileNamedOnTheCommandLine)
{
    Put(Path, "[Params]\n");
    EXPECT_EQ(SettingsFileRefusal(Path), "");
    EXPECT_EQ(SettingsFileRefusal(Path + ".absent"), "Error: Specified inifile does not exist!");
    EXPECT_EQ(SettingsFileRefusal(""), "Error: Specified inifile does not exist!");
    EXPECT_EQ(SettingsFileRefusal(Folder), "Error: Specified inifile is a directory!");
    EXPECT_EQ(SettingsFileRefusal("/dev/null"), "Error: Specified inifile cannot be read: it is not a regular file");
}

using TField = std::function<int64_t(const TFields&)>;

TEST_F(SettingsFile, ValuesReachFieldsByFieldWidth)
{
    const TField defFreq = [](const TFields& f) { return f.DefFreq; };
    const TField vppActive = [](const TFields& f) { return f.VarnelVPPActive; };
    const TField pActive = [](const TFields& f) { return f.MirrowPActive; };
    const TField vppInactive = [](const TFields& f) { return f.VarnelVPPInactive; };
    const TField pInactive = [](const TFields& f) { return f.MirrowPInactive; };
    const TField vddOut = [](const TFields& f) { return f.MirrowVddOut; };
    const TField only1000 = [](const TFields& f) { return f.RuntestRecalculateOnly1000TCK; };
    const TField ignoreFreq = [](const TFields& f) { return f.IgnoreFreqCmd; };
    const TField security = [](const TFields& f) { return f.SecurityTime; };
    const TField vddVal = [](const TFields& f) { return f.MirrowVddVal; };
    const TField vddDelay = [](const TFields& f) { return f.MirrowVddDelay; };
    const TField freqToFast = [](const TFields& f) { return f.FreqToFast; };
    const struct {
        const char* keys;
        TField field;
        int64_t console;
        int64_t desktop;
    } cases[] = {
        {"DefFreq=0x0F\n", defFreq, 15, 15},
        {"DefFreq=$0F\n", defFreq, 15, 15},
        {"DefFreq=266\n", defFreq, 10, 10},
        {"DefFreq=256\n", defFreq, 0, 0},
        {"DefFreq=-1\n", defFreq, 255, 255},
        {"DefFreq=abc\n", defFreq, 0, 0},
        {"FreqToFast=\n", freqToFast, 1, 1},
        {"VarnelVPPActive=260\n", vppActive, 4, 4},
        {"MirrowVddOut=2\n", vddOut, 1, 1},
        {"MirrowVddOut=256\n", vddOut, 1, 1}, // Booleans take the whole value
        {"RuntestRecalculateOnly1000TCK=-1\n", only1000, 1, 1},
        {"IgnoreFreqCmd=0x0\n", ignoreFreq, 0, 0},
        {"SecurityTime=-20\n", security, -20, -20},
        {"SecurityTime=0x10000\n", security, 65536, 65536},
        {"MirrowVddVal=300\n", vddVal, 300, 300},
        {"MirrowVddDelay=$FFFFFFFF\n", vddDelay, -1, -1},
        // The obsolete pin and frequency keys are defaults in the desktop
        // program only.
        {"PActive=0\n", vppActive, 2, 0},
        {"PActive=0\n", pActive, 2, 0},
        {"PActive=258\n", pActive, 2, 2},
        {"PActive=0\nVarnelVPPActive=1\n", vppActive, 1, 1},
        {"PActive=0\nVarnelVPPActive=1\n", pActive, 2, 0},
        {"PInactive=1\n", vppInactive, 3, 1},
        {"PInactive=1\n", pInactive, 3, 1},
        {"PInactive=x\n", pInactive, 3, 3},
        {"IgnoreFreq=1\n", ignoreFreq, 0, 1},
        {"IgnoreFreq=1\nIgnoreFreqCmd=0\n", ignoreFreq, 0, 0},
    };
    for (const auto& c : cases) {
        PutParams(c.keys);
        const TRead r = ReadBoth();
        EXPECT_EQ(c.field(r.Console), c.console) << "console: " << c.keys;
        EXPECT_EQ(c.field(r.Desktop), c.desktop) << "desktop: " << c.keys;
    }
}

TEST_F(SettingsFile, WriteCommentsCountsByItsLowByte)
{
    const struct {
        const char* keys;
        uint8_t showComments;
        bool writeComments;
    } cases[] = {
        {"", 1, true},
        {"WriteComments=0\n", 0, false},
        {"WriteComments=256\n", 0, false},
        {"WriteComments=257\n", 1, true},
        {"WriteComments=2\n", 2, true},
        {"WriteComments=-1\n", 255, true},
        {"WriteComments=no\n", 1, true},
    };
    for (const auto& c : cases) {
        PutParams(c.keys);
        const TRead r = ReadBoth();
        EXPECT_EQ(r.ShowComments, c.showComments) << c.keys;
        EXPECT_EQ(r.WriteComments, c.writeComments) << c.keys;
    }
}

TEST_F(SettingsFile, DesktopMigratesTheOldRuntestPair)
{
    const struct {
        const char* keys;
        int time, puls, recalculate;
    } cases[] = {
        {"RTwTime=1\nRTwCount=2\n", 1, 2, 2},
        {"RTwTime=0\nRTwCount=1\n", 4, 4, 1},
        {"RTwTime=7\nRTwCount=1\n", 4, 4, 1},
        {"RTwTime=0\nRTwCount=0\n", 0, 4, 0},
        {"RTwTime=5\nRTwCount=0\n", 2, 4, 0},
        {"RTwTime=1\nRTwCount=9\n", 1, 3, 1},
        {"RTwTime=$1\nRTwCount=0x2\n", 1, 2, 2},
        {"RTwTime=\nRTwCount=\n", 2, 3, 1},
        {"RTwTime=1\n", 2, 3, 1},
        {"RTwCount=2\n", 2, 3, 1},
        {"RTwTime=1\nRTwCount=2\nDefFreqRuntestPuls=3\n", 1, 3, 2},
        {"RTwTime=1\nRTwCount=2\nDefFreqRuntestTime=0\nRuntestRecalculate=1\n", 0, 2, 1},
    };
    for (const auto& c : cases) {
        PutParams(c.keys);
        TSettingsExecuter e;
        e.SelectedCable = -1;
        bool comments = false;
        LoadSettings(Path, e, comments);
        EXPECT_EQ(e.DefFreqRuntestTime, c.time) << c.keys;
        EXPECT_EQ(e.DefFreqRuntestPuls, c.puls) << c.keys;
        EXPECT_EQ(e.RuntestRecalculate, c.recalculate) << c.keys;
    }
}

TEST_F(SettingsFile, ConsoleRefusesTheOldRuntestKeysWithoutReading)
{
    const struct {
        std::string text;
        bool refused;
    } cases[] = {
        {"[Params]\nRTwTime=1\nRTwCount=2\nDefFreq=5\n", true},
        {"[Params]\nRTwTime=\nDefFreq=5\n", true},
        {"[Params]\nrtwcount=5\nDefFreq=5\n", true},
        {"[Params]\nRTwTime\nDefFreq=5\n", true},
        {"[Other]\nRTwTime=1\n[Params]\nDefFreq=5\n", false},
        {"[Params]\n;RTwTime=1\nDefFreq=5\n", false},
    };
    for (const auto& c : cases) {
        Put(Path, c.text);
        TSettingsExecuter e;
        e.SelectedCable = -1;
        e.DefFreq = 99;
        uint8_t show = 0xEE;
        EXPECT_EQ(LoadConsoleSettings(Path, e, show), !c.refused) << c.text;
        EXPECT_EQ(e.DefFreq, c.refused ? 99 : 5) << c.text;
        EXPECT_EQ(show, c.refused ? 0xEE : 1) << c.text;
    }
    EXPECT_EQ(std::string(ObsoleteSettingsText),
              "Fatal: ini files includes obsolete options. Please create new ini file using orbesk.");
}

// A serial from the command line wins over LastSerial; "-" (-2) asks for
// an automatic choice without it.
TEST_F(SettingsFile, RememberedCableOnlyWhenTheCommandLineGaveNone)
{
    const struct {
        int32_t selected;
        const char* keys;
        int32_t expected;
    } cases[] = {
        {-1, "LastSerial=33559092\n", 0x02001234},
        {-1, "LastSerial=$7B01ABCD\n", 0x7B01ABCD},
        {-1, "LastSerial=-1\n", -1},
        {-1, "", -1},
        {-1, "LastSerial=junk\n", -1},
        {-2, "LastSerial=5\n", -1},
        {-2, "", -1},
        {0x00011234, "LastSerial=5\n", 0x00011234},
        {0x02041234, "", 0x02041234},
    };
    for (const auto& c : cases) {
        PutParams(c.keys);
        const TRead r = ReadBoth(c.selected);
        EXPECT_EQ(r.Console.SelectedCable, c.expected) << c.selected << " " << c.keys;
        EXPECT_EQ(r.Desktop.SelectedCable, c.expected) << c.selected << " " << c.keys;
    }
}

TEST_F(SettingsFile, PreferredKindIsLeftAlone)
{
    PutParams("LastSerial=5\n");
    TSettingsExecuter e;
    e.SelectedCable = -1;
    e.PreferredKind = PreferMirrow;
    uint8_t show = 0;
    ASSERT_TRUE(LoadConsoleSettings(Path, e, show));
    EXPECT_EQ(e.PreferredKind, PreferMirrow);
    EXPECT_EQ(e.SelectedCable, 5);
}

TEST_F(SettingsFile, WriterWritesAllNineteenKeysInOrder)
{
    TSettingsExecuter e;
    e.DefFreq = 15;
    e.DefFreqRuntestTime = 4;
    e.DefFreqRuntestPuls = 2;
    e.FreqToFast = 3;
    e.RuntestRecalculate = 2;
    e.RuntestRecalculateOnly1000TCK = true;
    e.SecurityTime = -5;
    e.VarnelVPPActive = 255;
    e.VarnelVPPInactive = 1;
    e.MirrowPActive = 0;
    e.MirrowPInactive = 2;
    e.IgnoreFreqCmd = true;
    e.SelectedCable = 0x7B01ABCD;
    e.MirrowVddOut = true;
    e.MirrowVddVal = 25;
    e.MirrowVddMin = 20;
    e.MirrowVddMax = 30;
    e.MirrowVddDelay = 123456;
    ASSERT_TRUE(SaveSettings(Path, e, false));
    EXPECT_EQ(Get(Path), "[Params]\n"
                         "DefFreq=15\n"
                         "DefFreqRuntestTime=4\n"
                         "DefFreqRuntestPuls=2\n"
                         "FreqToFast=3\n"
                         "RuntestRecalculate=2\n"
                         "RuntestRecalculateOnly1000TCK=1\n"
                         "SecurityTime=-5\n"
                         "VarnelVPPActive=255\n"
                         "VarnelVPPInactive=1\n"
                         "MirrowPActive=0\n"
                         "MirrowPInactive=2\n"
                         "IgnoreFreqCmd=1\n"
                         "LastSerial=2063707085\n"
                         "WriteComments=0\n"
                         "MirrowVddOut=1\n"
                         "MirrowVddVal=25\n"
                         "MirrowVddMin=20\n"
                         "MirrowVddMax=30\n"
                         "MirrowVddDelay=123456\n");

    TSettingsExecuter back;
    back.SelectedCable = -1;
    bool comments = true;
    LoadSettings(Path, back, comments);
    EXPECT_EQ(FieldsOf(back), FieldsOf(e));
    EXPECT_FALSE(comments);
}

// The desktop's close after its start: migrated values and the low byte of
// an oversized one are written, the obsolete keys go, the rest stays.
TEST_F(SettingsFile, WriterKeepsOtherKeysAndSectionsAndDropsObsoleteOnes)
{
    Put(Path, "; settings\n"
              "[Other]\n"
              "RTwTime=1\n"
              "[Params]\n"
              "RTwTime=1\n"
              "RTwCount=2\n"
              "UserKey=7\n"
              "IgnoreFreq=1\n"
              "PActive=0\n"
              "PInactive=1\n"
              "DefFreq=266\n"
              "LastSerial=-1\n"
              "\n"
              "[Tail]\n"
              "z=1\n");
    TSettingsExecuter e;
    e.SelectedCable = -1;
    bool comments = false;
    LoadSettings(Path, e, comments);
    ASSERT_TRUE(SaveSettings(Path, e, comments));
    EXPECT_EQ(Get(Path), "; settings\n"
                         "[Other]\n"
                         "RTwTime=1\n"
                         "[Params]\n"
                         "UserKey=7\n"
                         "DefFreq=10\n"
                         "LastSerial=-1\n"
                         "DefFreqRuntestTime=1\n"
                         "DefFreqRuntestPuls=2\n"
                         "FreqToFast=1\n"
                         "RuntestRecalculate=2\n"
                         "RuntestRecalculateOnly1000TCK=0\n"
                         "SecurityTime=0\n"
                         "VarnelVPPActive=0\n"
                         "VarnelVPPInactive=1\n"
                         "MirrowPActive=0\n"
                         "MirrowPInactive=1\n"
                         "IgnoreFreqCmd=1\n"
                         "WriteComments=1\n"
                         "MirrowVddOut=0\n"
                         "MirrowVddVal=33\n"
                         "MirrowVddMin=18\n"
                         "MirrowVddMax=55\n"
                         "MirrowVddDelay=10000\n"
                         "\n"
                         "[Tail]\n"
                         "z=1\n");

    // The next start reads the same settings from the new keys alone.
    TSettingsExecuter again;
    again.SelectedCable = -1;
    bool commentsAgain = false;
    LoadSettings(Path, again, commentsAgain);
    EXPECT_EQ(FieldsOf(again), FieldsOf(e));
    EXPECT_TRUE(commentsAgain);
    uint8_t show = 0;
    TSettingsExecuter console;
    console.SelectedCable = -1;
    EXPECT_TRUE(LoadConsoleSettings(Path, console, show));
}

TEST_F(SettingsFile, FailedSaveLeavesTheOldFileWhole)
{
    const std::string old = "[Other]\nkeep=1\n[Params]\nDefFreq=1\nRTwTime=1\n";
    Put(Path, old);
    TSettingsExecuter e;
    e.DefFreq = 5;
    for (const int64_t limit : {0, 40, 200}) {
        platform::SetIniWriteLimitForTest(limit);
        EXPECT_FALSE(SaveSettings(Path, e, true)) << limit;
        EXPECT_EQ(Get(Path), old) << limit;
    }
    platform::SetIniWriteLimitForTest(-1);
    EXPECT_FALSE(SaveSettings(Folder + "/missing/orbesk.ini", e, true));
}

TEST_F(SettingsFile, SettingsFileBesideTheProgram)
{
    EXPECT_EQ(SettingsPathBeside("/opt/orbesk/orbesk.exe"), "/opt/orbesk/orbesk.ini");
    EXPECT_EQ(SettingsPathBeside("/opt/v1.2/orbeskcon"), "/opt/v1.2/orbeskcon.ini");
    EXPECT_EQ(SettingsPathBeside("/a/x.tar.gz"), "/a/x.tar.ini");
    EXPECT_EQ(SettingsPathBeside("orbeskcon"), "orbeskcon.ini");
    EXPECT_EQ(DesktopSettingsPath("/opt/orbesk/orbesk"), "/opt/orbesk/orbesk.ini");

    const std::string program = Folder + "/orbeskcon";
    const std::string own = Folder + "/orbeskcon.ini";
    const std::string desktop = Folder + "/orbesk.ini";
    EXPECT_EQ(ConsoleSettingsPath(program), own) << "neither exists";
    Put(desktop, "[Params]\nDefFreq=5\n");
    EXPECT_EQ(ConsoleSettingsPath(program), desktop) << "only the desktop's";
    ASSERT_EQ(::mkdir(own.c_str(), 0755), 0);
    EXPECT_EQ(ConsoleSettingsPath(program), desktop) << "a folder is no file";
    ASSERT_EQ(::rmdir(own.c_str()), 0);
    Put(own, "");
    EXPECT_EQ(ConsoleSettingsPath(program), own) << "both";

    EXPECT_TRUE(SettingsFileExists(own));
    EXPECT_FALSE(SettingsFileExists(Folder));
    EXPECT_FALSE(SettingsFileExists(Folder + "/none.ini"));
    EXPECT_FALSE(SettingsFileExists(""));

    // For the running program: this test's own file with ".ini".
    const std::string mine = DesktopSettingsPath();
    ASSERT_NE(mine.rfind('/'), std::string::npos);
    EXPECT_EQ(mine.substr(mine.rfind('/')), "/settings_test.ini");
    const std::string beside = mine.substr(0, mine.rfind('/') + 1) + "orbesk.ini";
    EXPECT_EQ(ConsoleSettingsPath(), SettingsFileExists(beside) ? beside : mine);
}

} // namespace
