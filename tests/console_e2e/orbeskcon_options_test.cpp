// orbeskcon's refusals before a run, each with its text and exit status,
// and where it finds its settings file.
#include <dlfcn.h>

#include <gmock/gmock.h>

#include "e2e_fixture.h"

namespace {

using namespace e2e;
using testing::ElementsAre;
using testing::ElementsAreArray;

// "{dir}" in an argument or a line stands for the test's folder.
std::string Expand(std::string Text, const std::string& Folder)
{
    for (size_t at; (at = Text.find("{dir}")) != std::string::npos;)
        Text.replace(at, 5, Folder);
    return Text;
}

std::vector<std::string> Expand(const std::vector<std::string>& Texts, const std::string& Folder)
{
    std::vector<std::string> expanded;
    for (const std::string& t : Texts)
        expanded.push_back(Expand(t, Folder));
    return expanded;
}

class OrbeskconRefuses : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        Write("x.svf", "STATE RESET;\n");
        Write("x.txt", "STATE RESET;\n");
        Write("x.svf.bak", "STATE RESET;\n");
        Write("noext", "STATE RESET;\n");
        std::filesystem::create_directories(Folder + "/dir.svf");
        Write("old.ini", "[Params]\nDefFreq=1\nRTwTime=\n");
        Write("count.ini", "[params]\nrtwcount=2\n");
        // A cable is there: a refusal must come before anything looks at it.
        ScenarioText = Scenario({Varnel("A6010001")});
    }
};

TEST_F(OrbeskconRefuses, EachRefusalPrintsItsTextAndEndsWithItsStatus)
{
    struct TCase {
        std::vector<std::string> Args;
        std::vector<std::string> Out;
        int Status;
    };
    const std::string missing = "Error, the selected data file does not exist:";
    const std::string badType = "Error, only .SVF and .XSVF data file types are supported.";
    const TCase cases[] = {
        {{}, {"no given file name to program"}, 3},
        // Version and usage come before the command line is checked.
        {{"-version", "file.svf"}, {VersionLine}, 3},
        {{"-VERSION", "-zzz"}, {VersionLine}, 3},
        {{"-version", "-h"}, {VersionLine}, 3},
        {{"-h"}, UsageLines, 3},
        {{"/HELP", "-zzz"}, UsageLines, 3},
        {{"x.svf", "-Help"}, UsageLines, 3},
        // The GNU forms mean the same.
        {{"--help"}, UsageLines, 3},
        {{"--HELP", "-zzz", "x.svf"}, UsageLines, 3},
        {{"--version"}, {VersionLine}, 3},
        {{"--version", "--help"}, {VersionLine}, 3},
        // An option's missing value is not read as the GNU form.
        {{"-s", "--help", "x.svf"}, {"After -s expected string, but --help found."}, 3},
        {{"-f", "--version"}, {"After -f expected string, but --version found."}, 3},
        // Command-line errors: the parser's text.
        {{"-q", "x.svf"}, {"Unknown parameter \"Q\" in -q"}, 3},
        {{"x.svf", "-sx"}, {"Unknown parameter \"SX\" in -sx"}, 3},
        {{"x.svf", "-s"}, {"After -s expected string, but this is last parameter."}, 3},
        {{"-s", "-f", "x.svf"}, {"After -s expected string, but -f found."}, 3},
        {{"--verbose"}, {"Illegal combination of parameter initialization characters in --verbose"}, 3},
        {{"---help"}, {"Illegal combination of parameter initialization characters in ---help"}, 3},
        // One data file a run: a second one is a command-line error.
        {{"x.svf", "x.txt"}, {"Error, only one data file can be given: x.svf and x.txt were."}, 3},
        {{"-f", "x.svf", "x.svf", "absent.svf"},
         {"Error, only one data file can be given: x.svf and absent.svf were."},
         3},
        {{"-/x", "x.svf"}, {"Illegal combination of parameter initialization characters in -/x"}, 3},
        // A path needs a '/' after its first to be no option.
        {{"/x.svf"}, {"Unknown parameter \"X.SVF\" in /x.svf"}, 3},
        // The data file: named, present, of a known type (existence first).
        {{"-s", "1234"}, {"no given file name to program"}, 3},
        {{"absent.svf"}, {missing, "absent.svf"}, 3},
        {{"absent.txt"}, {missing, "absent.txt"}, 3},
        {{"{dir}/absent.svf"}, {missing, "{dir}/absent.svf"}, 3},
        {{"dir.svf"}, {"Error, the selected data file is a directory:", "dir.svf"}, 3},
        {{"x.txt"}, {badType}, 3},
        {{"{dir}/x.txt"}, {badType}, 3},
        {{"-f", "{dir}/x.txt"}, {badType}, 3},
        {{"x.svf.bak"}, {badType}, 3},
        {{"noext"}, {badType}, 3},
        // A free argument wins over -f.
        {{"-f", "x.svf", "x.txt"}, {badType}, 3},
        {{"-f", "x.txt", "absent.svf"}, {missing, "absent.svf"}, 3},
        // -i: its file must exist, and is tested before the data file.
        {{"-i", "missing.ini", "nofile.svf"}, {"inifile: missing.ini", "Error: Specified inifile does not exist!"}, 2},
        {{"-i", "missing.ini"}, {"inifile: missing.ini", "Error: Specified inifile does not exist!"}, 2},
        {{"-I", "{dir}/dir.svf", "x.svf"},
         {"inifile: {dir}/dir.svf", "Error: Specified inifile is a directory!"},
         2},
        // The settings are read last: the data file's refusals come first.
        {{"-i", "old.ini", "x.txt"}, {badType}, 3},
        {{"-i", "old.ini", "absent.svf"}, {missing, "absent.svf"}, 3},
    };
    for (const TCase& c : cases) {
        const std::vector<std::string> args = Expand(c.Args, Folder);
        SCOPED_TRACE(testing::PrintToString(args));
        const TRunResult r = Run(args);
        EXPECT_THAT(r.OutLines(), ElementsAreArray(Expand(c.Out, Folder)));
        EXPECT_EQ(r.Err, "");
        EXPECT_EQ(r.Status, c.Status);
    }
    EXPECT_TRUE(VarnelsSetUp().empty()) << "a refusal touched the cable";
}

TEST_F(OrbeskconRefuses, ASerialThatIsNoHexadecimalNumberIsRefusedBeforeAnyCableIsOpened)
{
    // A typo must not send the file to the remembered or the first cable.
    Write("last.ini", "[Params]\nLastSerial=65537\n");
    struct TCase {
        std::vector<std::string> Args;
        std::string Serial;
    };
    const TCase cases[] = {
        {{"-s", "A601000G", "x.svf"}, "A601000G"},
        {{"-s", "zz", "x.svf"}, "zz"},
        {{"-s", "", "x.svf"}, ""},
        {{"x.svf", "-S", "0x10001"}, "0x10001"},
        {{"-s", " 10001", "x.svf"}, " 10001"},
        {{"-s", "10001 ", "x.svf"}, "10001 "},
        {{"-s", "1FFFFFFFFFFFFFFFF", "x.svf"}, "1FFFFFFFFFFFFFFFF"}, // more than 64 bits
        {{"-mirrow", "-s", "12g", "x.svf"}, "12g"},
        {{"-i", "last.ini", "-s", "A6O10001", "x.svf"}, "A6O10001"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        const TRunResult r = Run(c.Args);
        EXPECT_THAT(r.OutLines(),
                    ElementsAre("Error, the serial \"" + c.Serial + "\" is not a hexadecimal number of at most 64 bits."));
        EXPECT_EQ(r.Err, "");
        EXPECT_EQ(r.Status, 3);
    }
    EXPECT_THAT(TraceWith("d2xx open"), testing::IsEmpty()) << "a refused serial opened a cable";
    // The data file is examined first, as before.
    const TRunResult r = Run({"-s", "zz", "absent.svf"});
    EXPECT_THAT(r.OutLines(), ElementsAre("Error, the selected data file does not exist:", "absent.svf"));
    EXPECT_EQ(r.Status, 3);
}

TEST_F(OrbeskconRefuses, ASettingsFileWithTheOldRuntestKeysIsRefusedOnStandardError)
{
    for (const char* ini : {"old.ini", "count.ini"}) {
        SCOPED_TRACE(ini);
        const TRunResult r = Run({"-i", ini, "x.svf"});
        EXPECT_EQ(r.Out, "");
        EXPECT_THAT(r.ErrLines(), ElementsAre(ObsoleteLine));
        EXPECT_EQ(r.Status, 4);
    }
    // The reader takes regular files only: a pipe is refused, not read as
    // an empty file whose obsolete keys nobody sees.
    const TRunResult r =
        Run({"-c", "exec \"$0\" -i <(printf '[Params]\\nRTwTime=1\\n') x.svf", SharedProgram()}, "/bin/bash");
    ASSERT_FALSE(r.OutLines().empty());
    EXPECT_EQ(r.OutLines().back(), "Error: Specified inifile cannot be read: it is not a regular file");
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(VarnelsSetUp().empty());
}

// Root reads a file whatever its mode: the refusal is then seen by a run
// as another user.
TEST_F(OrbeskconRefuses, ASettingsFileThatCannotBeReadIsRefusedLikeAMissingOne)
{
    const std::string ini = Write("noread.ini", "[Params]\nWriteComments=0\n");
    std::filesystem::permissions(ini, std::filesystem::perms::none);
    std::vector<std::string> args = {"-i", "noread.ini", "x.svf"};
    std::string program;
    if (geteuid() == 0) {
        const char* setpriv = "/usr/bin/setpriv";
        if (access(setpriv, X_OK) != 0)
            GTEST_SKIP() << "running as root, where a file without read permission is still read, and without "
                         << setpriv << " to run as another user";
        args.insert(args.begin(), {"--reuid=65534", "--regid=65534", "--clear-groups", PrivateProgram()});
        program = setpriv;
    }
    const TRunResult r = Run(args, program);
    EXPECT_THAT(r.OutLines(),
                ElementsAre("inifile: noread.ini", "Error: Specified inifile cannot be read: Permission denied"));
    EXPECT_EQ(r.Err, "");
    EXPECT_EQ(r.Status, 2);
    EXPECT_TRUE(VarnelsSetUp().empty());
}

TEST_F(OrbeskconRefuses, WithoutTheDriverLibraryNothingIsPlayed)
{
    if (void* lib = dlopen("libftd2xx.so", RTLD_NOW | RTLD_LOCAL)) {
        dlclose(lib);
        GTEST_SKIP() << "this machine has a driver library of its own";
    }
    const TRunResult r = Run({"x.svf"}, PrivateProgram(false));
    EXPECT_THAT(r.OutLines(), ElementsAre("USB drivers not found or bad version."));
    EXPECT_EQ(r.Status, 2);
}

// Settings files beside the program, told apart by WriteComments: with it
// on the log names the cable, with it off a good run prints nothing.
class OrbeskconSettingsFile : public TOrbeskconTest {
protected:
    void SetUp() override
    {
        TOrbeskconTest::SetUp();
        ScenarioText = Scenario({Varnel("A6010001", TwoDevices)});
        Svf = Write("run.svf", IdcodeSvf(true));
        Program = PrivateProgram();
        ProgramFolder = std::filesystem::path(Program).parent_path().string();
    }

    std::string Svf;
    std::string Program;
    std::string ProgramFolder;
};

TEST_F(OrbeskconSettingsFile, ItsOwnFileBesideItElseTheDesktopsElseDefaults)
{
    struct TCase {
        const char* Own;     // orbeskcon.ini, null for none
        const char* Desktop; // orbesk.ini, null for none
        bool Quiet;
    };
    const TCase cases[] = {
        {nullptr, nullptr, false},
        {"[Params]\nWriteComments=0\n", nullptr, true},
        {nullptr, "[Params]\nWriteComments=0\n", true},
        {"[Params]\nWriteComments=1\n", "[Params]\nWriteComments=0\n", false},
        {"[Params]\nDefFreq=1\n", "[Params]\nWriteComments=0\n", false},
        {"[Params]\nWriteComments=256\n", nullptr, true},
        {"[Params]\nWriteComments=$10\n", nullptr, false},
        {"[Params]\nwritecomments=0x0\n", nullptr, true},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(std::string(c.Own ? c.Own : "-") + " / " + (c.Desktop ? c.Desktop : "-"));
        std::filesystem::remove(ProgramFolder + "/orbeskcon.ini");
        std::filesystem::remove(ProgramFolder + "/orbesk.ini");
        if (c.Own)
            std::ofstream(ProgramFolder + "/orbeskcon.ini") << c.Own;
        if (c.Desktop)
            std::ofstream(ProgramFolder + "/orbesk.ini") << c.Desktop;
        const TRunResult r = Run({Svf}, Program);
        EXPECT_EQ(r.Status, 0);
        if (c.Quiet)
            EXPECT_EQ(r.Out, "");
        else
            EXPECT_THAT(r.OutLines(), testing::Contains("Using VARNEL S/N A6010001"));
    }
}

TEST_F(OrbeskconSettingsFile, TheFileNamedByIReplacesTheOneBesideIt)
{
    std::ofstream(ProgramFolder + "/orbeskcon.ini") << "[Params]\nWriteComments=0\n";
    const std::string loud = Write("loud.ini", "[Params]\nWriteComments=1\n");
    const TRunResult r = Run({"-i", loud, Svf}, Program);
    EXPECT_EQ(r.Status, 0);
    EXPECT_THAT(r.OutLines(), testing::Contains("Using VARNEL S/N A6010001"));
}

TEST_F(OrbeskconSettingsFile, TheDesktopsFileWithTheOldKeysIsRefusedToo)
{
    std::ofstream(ProgramFolder + "/orbesk.ini") << "[Params]\nRTwTime=1\nRTwCount=2\n";
    const TRunResult r = Run({Svf}, Program);
    EXPECT_EQ(r.Out, "");
    EXPECT_THAT(r.ErrLines(), ElementsAre(ObsoleteLine));
    EXPECT_EQ(r.Status, 4);
    EXPECT_TRUE(VarnelsSetUp().empty());
}

// What a settings file holds that would be read as if it were fine: one
// warning line each, naming the key, its value and what is used instead;
// the run goes on.
TEST_F(OrbeskconSettingsFile, OddSettingsAreWarnedAboutEachOnItsLine)
{
    struct TCase {
        std::string Ini;
        std::vector<std::string> Warnings;
    };
    const std::string ini = Folder + "/odd.ini";
    const TCase cases[] = {
        {"[Params]\nDefFreq=99\n",
         {"Warning: the setting DefFreq=99 names no TCK frequency (0, 1, 2, 5, 10 or 15); 0 (3 MHz) is used "
          "instead."}},
        {"[Params]\nVarnelVPPActive=42\n",
         {"Warning: the setting VarnelVPPActive=42 is outside 0..4; 2 is used instead."}},
        {"[Params]\nMirrowVddMin=50\nMirrowVddMax=30\n",
         {"Warning: the setting MirrowVddMin=50 is above MirrowVddMax=30; both are used as they are, and a Mirrow "
          "accepts no target voltage with them."}},
        // Safety settings the options dialog would not take: volts where
        // tenths are meant, a supply beyond the dialog's top, a delay past
        // 32 bits, a supply switch that is no check mark.
        {"[Params]\nMirrowVddMax=3.6\n",
         {"Warning: the setting MirrowVddMax=3.6 is outside 18..55 (tenths of a volt); 55 is used instead."}},
        {"[Params]\nMirrowVddVal=200\nMirrowVddMin=10\n",
         {"Warning: the setting MirrowVddVal=200 is outside 18..55 (tenths of a volt); 33 is used instead.",
          "Warning: the setting MirrowVddMin=10 is outside 18..55 (tenths of a volt); 18 is used instead."}},
        {"[Params]\nSecurityTime=99999999999\n",
         {"Warning: the setting SecurityTime=99999999999 is no 32-bit number; 0 is used instead."}},
        {"[Params]\nMirrowVddOut=2\n",
         {"Warning: the setting MirrowVddOut=2 is outside 0..1; 0 (the target is not powered) is used instead."}},
        {"[params]\ndeffreqruntestpuls=$7\nMirrowPInactive=-1\nMirrowVddDelay=2000000\n",
         {"Warning: the setting DefFreqRuntestPuls=$7 is outside 2..4; 3 is used instead.",
          "Warning: the setting MirrowPInactive=-1 is outside 0..3; 3 is used instead.",
          "Warning: the setting MirrowVddDelay=2000000 is outside 0..1000000; 10000 is used instead."}},
        {"WriteComments=0\n[Other]\nDefFreq=5\nSomethingElse=1\n[Params]\nDefFreq=1\n[PARAMS]\nFreqToFast=2\n",
         {"Warning: the setting WriteComments=0 stands before any section, outside [Params], and is not read; the "
          "value in [Params] or the default is used instead.",
          "Warning: the setting DefFreq=5 stands in [Other], outside [Params], and is not read; the value in "
          "[Params] or the default is used instead.",
          "Warning: the setting FreqToFast=2 stands in a second [PARAMS], outside [Params], and is not read; the "
          "value in [Params] or the default is used instead."}},
        {std::string("[Params]\0WriteComments=0\n\x01\x02", 27),
         {"Warning: the settings file " + ini + " is not a text file; the defaults are used instead."}},
        // Within range, or so as a byte (266 is 10): nothing to say.
        {"[Params]\nDefFreq=266\nVarnelVPPActive=4\nMirrowVddMin=55\nMirrowVddMax=55\nMirrowVddOut=1\n", {}},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Ini);
        std::ofstream(ini, std::ios::binary | std::ios::trunc) << c.Ini;
        const TRunResult r = Run({"-i", ini, Svf}, Program);
        std::vector<std::string> warnings;
        for (const std::string& line : r.OutLines())
            if (line.starts_with("Warning: the setting"))
                warnings.push_back(line);
        EXPECT_THAT(warnings, ElementsAreArray(c.Warnings));
        EXPECT_EQ(r.Status, 0) << r.Out;
        EXPECT_THAT(r.OutLines(), testing::Contains(SuccessLine)) << "WriteComments is read only from [Params]";
    }
}

} // namespace
