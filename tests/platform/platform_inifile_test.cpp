#include "inifile.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "support/ini_folder_fixture.h"

namespace {

using platform::TIniFile;

// The folder's entries show what a write left behind.
class IniFolder : public TIniFolderTest {
protected:
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        DIR* dir = ::opendir(Folder.c_str());
        while (dirent* e = dir ? ::readdir(dir) : nullptr)
            if (std::string(e->d_name) != "." && std::string(e->d_name) != "..")
                names.push_back(e->d_name);
        if (dir)
            ::closedir(dir);
        return names;
    }
};

TEST_F(IniFolder, ReadsKeysOfTheOneSectionInEveryValueForm)
{
    const int32_t none = 77;
    const struct {
        const char* text;
        bool exists;
        int32_t value;
    } cases[] = {
        {"[Params]\nDefFreq=5\n", true, 5},
        {"[PARAMS]\ndeffreq=5\n", true, 5},
        {"[ Params ]\r\nDefFreq=5\r\n", true, 5},
        {"[Params]\n  DefFreq = 0x0F  \n", true, 15},
        {"[Params]\nDefFreq=0X1a\n", true, 26},
        {"[Params]\nDefFreq=$0F\n", true, 15},
        {"[Params]\nDefFreq=$ff\n", true, 255},
        {"[Params]\nDefFreq=$FFFFFFFF\n", true, -1},
        {"[Params]\nDefFreq=0x80000000\n", true, INT32_MIN},
        {"[Params]\nDefFreq=$000000010\n", true, 16},
        {"[Params]\nDefFreq=-12\n", true, -12},
        {"[Params]\nDefFreq=+7\n", true, 7},
        {"[Params]\nDefFreq=2147483647\n", true, INT32_MAX},
        {"[Params]\nDefFreq=-2147483648\n", true, INT32_MIN},
        {"[Params]\nDefFreq=\"42\"\n", true, 42},
        {"[Params]\nDefFreq=6", true, 6},
        {"\xEF\xBB\xBF[Params]\nDefFreq=3\n", true, 3},
        {"[Params\nDefFreq=4\n", true, 4},
        {"[Params]\nDefFreq=1\nDefFreq=2\n", true, 1},
        // Present but not converting: the default.
        {"[Params]\nDefFreq=\n", true, none},
        {"[Params]\nDefFreq\n", true, none},
        {"[Params]\nDefFreq=0x100000000\n", true, none},
        {"[Params]\nDefFreq=2147483648\n", true, none},
        {"[Params]\nDefFreq=-2147483649\n", true, none},
        {"[Params]\nDefFreq=$\n", true, none},
        {"[Params]\nDefFreq=0x\n", true, none},
        {"[Params]\nDefFreq=x10\n", true, none},
        {"[Params]\nDefFreq=-$10\n", true, none},
        {"[Params]\nDefFreq=+0x10\n", true, none},
        {"[Params]\nDefFreq=12a\n", true, none},
        {"[Params]\nDefFreq=1 2\n", true, none},
        {"[Params]\nDefFreq=1.0\n", true, none},
        // Not there.
        {"", false, none},
        {"[Other]\nDefFreq=5\n", false, none},
        {"DefFreq=5\n[Params]\n", false, none},
        {"[Params]\n;DefFreq=5\n", false, none},
        {"[Params]\nDefFreqX=5\n", false, none},
        {"[Params]\n[Next]\nDefFreq=5\n", false, none},
        {"[Params]\nA=1\n[Params]\nDefFreq=2\n", false, none},
    };
    for (const auto& c : cases) {
        Put(Path, c.text);
        const TIniFile ini(Path);
        EXPECT_EQ(ini.ValueExists("Params", "DefFreq"), c.exists) << c.text;
        EXPECT_EQ(ini.ReadInteger("Params", "DefFreq", none), c.value) << c.text;
    }
}

TEST_F(IniFolder, MissingFileReadsEmpty)
{
    TIniFile ini(Folder + "/none.ini");
    EXPECT_FALSE(ini.ValueExists("Params", "DefFreq"));
    EXPECT_EQ(ini.ReadInteger("Params", "DefFreq", -5), -5);
    EXPECT_EQ(ini.ReadString("Params", "DefFreq", "d"), "d");
}

TEST_F(IniFolder, WritesKeepEverythingElse)
{
    using TEdit = std::function<void(TIniFile&)>;
    const struct {
        const char* name;
        const char* before;
        TEdit edit;
        const char* after;
    } cases[] = {
        {"value replaced in place, key spelling kept", "; c\n[Other]\nDefFreq=1\n[Params]\n deffreq = 1 \nB=2\n\n[Z]\nq\n",
         [](TIniFile& i) { i.WriteInteger("Params", "DefFreq", 10); },
         "; c\n[Other]\nDefFreq=1\n[Params]\ndeffreq=10\nB=2\n\n[Z]\nq\n"},
        {"new key after the section's last line", "[Params]\nA=1\n\n[Z]\nq=1\n",
         [](TIniFile& i) { i.WriteInteger("Params", "New", -1); }, "[Params]\nA=1\nNew=-1\n\n[Z]\nq=1\n"},
        {"new key in an empty section", "[Params]\n[Next]\n", [](TIniFile& i) { i.WriteInteger("Params", "A", 1); },
         "[Params]\nA=1\n[Next]\n"},
        {"new section at the end", "[Other]\nx=1", [](TIniFile& i) { i.WriteInteger("Params", "A", 1); },
         "[Other]\nx=1\n\n[Params]\nA=1\n"},
        {"empty file", "", [](TIniFile& i) { i.WriteInteger("Params", "A", 1); }, "[Params]\nA=1\n"},
        {"CR LF kept", "[Params]\r\nA=1\r\n", [](TIniFile& i) { i.WriteInteger("Params", "B", 2); },
         "[Params]\r\nA=1\r\nB=2\r\n"},
        {"byte order mark kept", "\xEF\xBB\xBF[Params]\nA=1\n", [](TIniFile& i) { i.WriteInteger("Params", "A", 3); },
         "\xEF\xBB\xBF[Params]\nA=3\n"},
        {"delete takes every line of the key in its section only",
         "[Params]\nRTwTime=1\nx=2\nrtwtime\n[O]\nRTwTime=3\n",
         [](TIniFile& i) { i.DeleteKey("params", "RTWTIME"); }, "[Params]\nx=2\n[O]\nRTwTime=3\n"},
        {"delete of nothing", "[O]\nA=1\n",
         [](TIniFile& i) {
             i.DeleteKey("Params", "A");
             i.DeleteKey("O", "B");
         },
         "[O]\nA=1\n"},
    };
    for (const auto& c : cases) {
        Put(Path, c.before);
        TIniFile ini(Path);
        c.edit(ini);
        EXPECT_TRUE(ini.UpdateFile()) << c.name;
        EXPECT_EQ(Get(Path), c.after) << c.name;
    }
}

TEST_F(IniFolder, WrittenValuesReadBack)
{
    TIniFile ini(Folder + "/new.ini");
    ini.WriteInteger("Params", "LastSerial", -1);
    ini.WriteInteger("Params", "DefFreq", 15);
    ini.WriteString("Params", "Name", "x=y");
    EXPECT_EQ(ini.ReadInteger("Params", "LastSerial", 0), -1);
    ASSERT_TRUE(ini.UpdateFile());
    const TIniFile again(Folder + "/new.ini");
    EXPECT_EQ(again.ReadInteger("Params", "lastserial", 0), -1);
    EXPECT_EQ(again.ReadInteger("Params", "DefFreq", 0), 15);
    EXPECT_EQ(again.ReadString("Params", "Name", ""), "x=y");
}

TEST_F(IniFolder, AWriteThatFailsMidwayLeavesTheOldFileWhole)
{
    const std::string old = "[Other]\nkeep=1\n[Params]\nDefFreq=1\n";
    for (const int64_t limit : {0, 1, 10, 30}) {
        Put(Path, old);
        TIniFile ini(Path);
        ini.WriteInteger("Params", "DefFreq", 10);
        ini.WriteInteger("Params", "MirrowVddVal", 33);
        platform::SetIniWriteLimitForTest(limit);
        EXPECT_FALSE(ini.UpdateFile()) << limit;
        platform::SetIniWriteLimitForTest(-1);
        EXPECT_EQ(Get(Path), old) << limit;
        EXPECT_EQ(Entries(), std::vector<std::string>{"orbesk.ini"}) << "no temporary file left, " << limit;
        EXPECT_TRUE(ini.UpdateFile()) << limit;
        EXPECT_EQ(Get(Path), "[Other]\nkeep=1\n[Params]\nDefFreq=10\nMirrowVddVal=33\n") << limit;
    }
}

TEST_F(IniFolder, FailuresToWriteAreReportedNotRaised)
{
    TIniFile inMissingFolder(Folder + "/none/x.ini");
    inMissingFolder.WriteInteger("Params", "A", 1);
    EXPECT_FALSE(inMissingFolder.UpdateFile());

    // Something at the path that is not a readable file is never replaced.
    ASSERT_EQ(::mkdir(Path.c_str(), 0755), 0);
    TIniFile onFolder(Path);
    EXPECT_FALSE(onFolder.ValueExists("Params", "A"));
    onFolder.WriteInteger("Params", "A", 1);
    EXPECT_FALSE(onFolder.UpdateFile());
    struct stat st {};
    ASSERT_EQ(::stat(Path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(Entries(), std::vector<std::string>{"orbesk.ini"});
}

TEST_F(IniFolder, ARefusedWriteSaysWhyAndTheCheckBeforehandAgreesWithoutWriting)
{
    Put(Folder + "/plain.txt", "x");
    ASSERT_EQ(::mkdir((Folder + "/taken.ini").c_str(), 0755), 0);
    struct TCase {
        const char* Why;
        std::string Path;
        std::string Reason; // empty: the check finds nothing wrong
        std::string WriteReason;
        int64_t WriteLimit = -1;
    };
    std::vector<TCase> cases = {
        {"below a file", Folder + "/plain.txt/orbesk.ini", "Not a directory", "Not a directory"},
        {"in a missing folder", Folder + "/none/orbesk.ini", "No such file or directory",
         "No such file or directory"},
        {"a folder by the file's name", Folder + "/taken.ini", "Is a directory", "Is a directory"},
        {"a full disk, which only the write finds", Path, "", "No space left on device", 0},
    };
    // Root writes into a folder without write permission all the same.
    if (::geteuid() != 0) {
        ASSERT_EQ(::mkdir((Folder + "/locked").c_str(), 0555), 0);
        cases.push_back({"a folder without write permission", Folder + "/locked/orbesk.ini", "Permission denied",
                         "Permission denied"});
    } else {
        std::cout << "Run as root: a folder without write permission is not tried.\n";
    }
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        const std::vector<std::string> before = Entries();
        TIniFile ini(c.Path);
        std::string reason;
        EXPECT_EQ(ini.CanUpdate(reason), c.Reason.empty());
        EXPECT_EQ(reason, c.Reason);
        EXPECT_EQ(Entries(), before);
        ini.WriteInteger("Params", "A", 1);
        platform::SetIniWriteLimitForTest(c.WriteLimit);
        EXPECT_FALSE(ini.UpdateFile());
        platform::SetIniWriteLimitForTest(-1);
        EXPECT_EQ(ini.UpdateError(), c.WriteReason);
        EXPECT_EQ(Entries(), before);
    }
    std::string reason = "unchanged";
    EXPECT_TRUE(TIniFile(Folder + "/new.ini").CanUpdate(reason));
    EXPECT_EQ(reason, "unchanged");
}

TEST_F(IniFolder, ReplacedFileKeepsItsPermissionsAndLinks)
{
    const std::string real = Folder + "/real.ini";
    Put(real, "[Params]\nA=1\n");
    ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("real.ini", Path.c_str()), 0);

    TIniFile ini(Path);
    EXPECT_EQ(ini.ReadInteger("Params", "A", 0), 1);
    ini.WriteInteger("Params", "A", 2);
    ASSERT_TRUE(ini.UpdateFile());

    struct stat st {};
    ASSERT_EQ(::lstat(Path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(Get(real), "[Params]\nA=2\n");
}

TEST(IniValueForms, ConvertsOnlyTheDocumentedForms)
{
    const struct {
        const char* text;
        bool ok;
        int32_t value;
    } cases[] = {
        {"0", true, 0},
        {"-0", true, 0},
        {"010", true, 10}, // decimal, not octal
        {"0x10", true, 16},
        {"$7fffffff", true, INT32_MAX},
        {"$80000000", true, INT32_MIN},
        {"", false, 0},
        {"-", false, 0},
        {"+", false, 0},
        {"$g", false, 0},
        {"0xg", false, 0},
        {"ox10", false, 0},
    };
    for (const auto& c : cases) {
        int32_t v = 12345;
        EXPECT_EQ(platform::IniStrToInt(c.text, v), c.ok) << c.text;
        EXPECT_EQ(v, c.ok ? c.value : 12345) << c.text;
    }
}

} // namespace
