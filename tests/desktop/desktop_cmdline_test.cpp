// The desktop's start-up: the command-line table, the cable it chooses
// with and without a remembered one, the echo, the caption, the open
// dialog's filter, and the 8-bit texts the log shows.
#include <gmock/gmock.h>

#include <unistd.h>

#include <algorithm>
#include <iostream>

#include "cmdline.h"
#include "cp1252.h"
#include "desktop_fixture.h"
#include "inifile.h"
#include "settings/settings.h"

namespace {

using namespace desktoptest;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

TEST(DesktopCommandLine, OptionsAnyCaseTheirValuesAndTheLastOccurrence)
{
    struct TCase {
        std::vector<std::string> Args;
        bool C, CC, P;
        std::optional<std::string> Ini, Data;
        std::string Serial;
        int32_t Kind;
    };
    const TCase cases[] = {
        {{}, false, false, false, {}, {}, "", 0},
        {{"-c", "-Cc", "-p"}, true, true, true, {}, {}, "", 0},
        {{"-F", "a.svf", "-I", "x.ini", "-S", "1234"}, false, false, false, "x.ini", "a.svf", "1234", 0},
        // The value is looked at as an option too.
        {{"-F", "-C"}, true, false, false, {}, "-C", "", 0},
        {{"-F", "a.svf", "-F", "b.svf"}, false, false, false, {}, "b.svf", "", 0},
        // A value past the end reads as empty.
        {{"-I"}, false, false, false, "", {}, "", 0},
        {{"-s"}, false, false, false, {}, {}, "", 0},
        {{"-mirrow"}, false, false, false, {}, {}, "", 0x02000000},
        {{"-MIRROW", "-druvel"}, false, false, false, {}, {}, "", 0x7B000000},
        {{"-DRUVEL", "-Mirrow"}, false, false, false, {}, {}, "", 0x02000000},
        // No "/" prefix, no text after a name, nothing unknown.
        {{"/P", "-Pfile", "-X", "file.svf"}, false, false, false, {}, {}, "", 0},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        const TDesktopCommandLine line = ParseDesktopCommandLine(c.Args);
        EXPECT_EQ(line.CloseOnSuccess, c.C);
        EXPECT_EQ(line.CloseOnFailure, c.CC);
        EXPECT_EQ(line.ProcessAtStart, c.P);
        EXPECT_EQ(line.SettingsPath, c.Ini);
        EXPECT_EQ(line.DataFile, c.Data);
        EXPECT_EQ(line.SerialText, c.Serial);
        EXPECT_EQ(line.CableKind, c.Kind);
    }
}

TEST(DesktopCommandLine, EveryArgumentIsEchoedFramedOnlyWhenThereAreSeveral)
{
    const std::string rule = "--------------";
    EXPECT_THAT(ParseDesktopCommandLine({}).Echo, IsEmpty());
    EXPECT_THAT(ParseDesktopCommandLine({"-P"}).Echo, ElementsAre("-P"));
    EXPECT_THAT(ParseDesktopCommandLine({"-f", "My File.svf", "-zz"}).Echo,
                ElementsAre(rule, "Parameters:", rule, "-f", "My File.svf", "-zz", rule));
}

TEST(DesktopOpenFilter, OneEntryATypeInRegistrationOrderAndTheCombinedOneForSeveral)
{
    struct TCase {
        std::vector<std::string> Types;
        std::string Filter;
        int Index;
    };
    const TCase cases[] = {
        {{}, "", 1},
        {{"SVF"}, "SVF files (*.svf)|*.SVF", 1},
        {{"SVF", "XSVF"}, "SVF files (*.svf)|*.SVF|XSVF files (*.xsvf)|*.XSVF|All supported files|*.SVF;*.XSVF", 3},
        {{"XSVF", "SVF", "BIT"},
         "XSVF files (*.xsvf)|*.XSVF|SVF files (*.svf)|*.SVF|BIT files (*.bit)|*.BIT|All supported files|"
         "*.XSVF;*.SVF;*.BIT",
         4},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Types));
        TJtagFilesList registry;
        for (const std::string& type : c.Types)
            registry.RegisterFileClass(type, TJtagFileClass{});
        const TOpenFilter filter = BuildOpenFilter(c.Types.empty() ? nullptr : &registry);
        EXPECT_EQ(filter.Filter, c.Filter);
        EXPECT_EQ(filter.FilterIndex, c.Index);
        EXPECT_EQ(SplitOpenFilter(filter.Filter).size(), c.Types.size() + (c.Types.size() > 1 ? 1 : 0));
    }
}

TEST(DesktopText, Windows1252BytesBecomeTheirCharacters)
{
    struct TCase {
        std::string Bytes;
        std::u16string Text;
    };
    const TCase cases[] = {
        {"plain ascii", u"plain ascii"},
        {"10 \xB5s", u"10 \u00B5s"},
        {"\x80\x8A\x9F", u"\u20AC\u0160\u0178"},
        {"\xE4\xF6\xFC\xDF\xFF", u"\u00E4\u00F6\u00FC\u00DF\u00FF"},
        // Bytes the code page leaves out keep their value.
        {"\x81\x8D\x8F\x90\x9D", u"\u0081\u008D\u008F\u0090\u009D"},
        {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Bytes);
        EXPECT_EQ(FromWindows1252(c.Bytes).toStdU16String(), c.Text);
    }
}

class DesktopStartUp : public TFormTest {};

TEST_F(DesktopStartUp, TheCableChosenFromTheCommandLineAndTheRememberedOne)
{
    struct TCase {
        std::vector<std::string> Args;
        std::string Settings;
        int32_t Selected;
        int32_t Preferred;
    };
    const std::string remembered = "[Params]\nLastSerial=$02041234\n";
    const TCase cases[] = {
        {{}, "", -1, 0},
        {{}, remembered, 0x02041234, 0},
        {{"-S", "1234"}, remembered, 0x00011234, 0},
        {{"-S", "A6045678"}, remembered, 0x00045678, 0},
        {{"-S", "045678"}, "", 0x00045678, 0},
        {{"-S", "A6045678", "-MIRROW"}, "", 0x02045678, 0},
        {{"-S", "A6045678", "-DRUVEL"}, "", 0x7B045678, 0},
        {{"-S", "A6045678", "-DRUVEL", "-MIRROW"}, "", 0x02045678, 0},
        // A lone hyphen: automatic, the remembered cable ignored.
        {{"-S", "-"}, remembered, -1, 0},
        {{"-S", "-", "-MIRROW"}, remembered, -1, 0x02000000},
        // No usable serial: the kind becomes a preference.
        {{"-MIRROW"}, "", -1, 0x02000000},
        {{"-MIRROW"}, remembered, 0x02041234, 0x02000000},
        {{"-DRUVEL"}, "", -1, 0x7B000000},
        {{"-S", "xyz", "-MIRROW"}, "", -1, 0x02000000},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args) + " " + c.Settings);
        std::filesystem::remove(Ini);
        if (!c.Settings.empty())
            Write("orbesk.ini", c.Settings);
        TJtagMainForm& form = Create(c.Args);
        EXPECT_EQ(form.Executer->SelectedCable, c.Selected);
        EXPECT_EQ(form.Executer->PreferredKind, c.Preferred);
    }
}

TEST_F(DesktopStartUp, TheEchoTheFlagsTheDataFileAndTheSettingsPath)
{
    struct TCase {
        std::vector<std::string> Args;
        std::vector<std::string> Echo;
        bool P, C, CC;
        std::string DataFile;
    };
    const std::string rule = "--------------";
    const TCase cases[] = {
        {{}, {}, false, false, false, ""},
        {{"-p"}, {"-p"}, true, false, false, ""},
        {{"-F", "a.svf", "-P", "-C", "-CC"},
         {rule, "Parameters:", rule, "-F", "a.svf", "-P", "-C", "-CC", rule},
         true, true, true, "a.svf"},
        {{"-F", "-C"}, {rule, "Parameters:", rule, "-F", "-C", rule}, false, true, false, "-C"},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Args));
        TJtagMainForm& form = Create(c.Args, false);
        EXPECT_EQ(MemoTexts(form), c.Echo);
        for (const TMemoLine& line : MemoLines(form))
            EXPECT_EQ(line.Colour, QColor(0, 0, 0));
        EXPECT_EQ(form.ProcessAtStart, c.P);
        EXPECT_EQ(form.CloseOnSuccess, c.C);
        EXPECT_EQ(form.CloseOnFailure, c.CC);
        EXPECT_EQ(form.OpenDialogFileName, c.DataFile);
        // Without -I: the program's own path with ".ini".
        EXPECT_EQ(form.SettingsPath, DesktopSettingsPath());
        EXPECT_THAT(form.SettingsPath, testing::EndsWith("/desktop_cmdline_test.ini"));
        EXPECT_EQ(ExitStatus, 0);
    }
    TJtagMainForm& form = Create({"-I", Folder + "/other.ini"}, false);
    EXPECT_EQ(form.SettingsPath, Folder + "/other.ini");
}

TEST_F(DesktopStartUp, CaptionFilterAndTheSettingsRead)
{
    Write("orbesk.ini", "[Params]\nDefFreq=266\nWriteComments=256\nPActive=0\nMirrowVddVal=$21\n");
    TJtagMainForm& form = Create();
    EXPECT_EQ(form.windowTitle().toStdString(), "orbesk " + form.ProgramVersion);
    EXPECT_THAT(form.ProgramVersion, testing::MatchesRegex("[0-9]+\\.[0-9]+\\.[0-9]+"));
    // The players the program registers, in their order.
    EXPECT_EQ(form.OpenDialogFilter,
              "SVF files (*.svf)|*.SVF|XSVF files (*.xsvf)|*.XSVF|All supported files|*.SVF;*.XSVF");
    EXPECT_EQ(form.OpenDialogFilterIndex, 3);
    EXPECT_EQ(form.Executer->DefFreq, 10);
    EXPECT_EQ(form.Executer->VarnelVPPActive, 0);
    EXPECT_EQ(form.Executer->MirrowPActive, 0);
    EXPECT_EQ(form.Executer->MirrowVddVal, 33);
    EXPECT_FALSE(form.WriteComments());
    // The number format the engine's texts rely on.
    EXPECT_EQ(FormatSettings.DecimalSeparator, '.');
    EXPECT_EQ(FormatSettings.ThousandSeparator, ' ');
}

TEST_F(DesktopStartUp, AMissingSettingsFileIsCreatedAtCloseWithAllKeys)
{
    TJtagMainForm& form = Create();
    EXPECT_FALSE(std::filesystem::exists(Ini));
    form.Close1Click();
    ASSERT_TRUE(form.Closed());
    const std::vector<std::string> lines = e2e::SplitLines(e2e::ReadText(Ini));
    EXPECT_EQ(lines.size(), 20u); // the section and nineteen keys
    EXPECT_THAT(lines, testing::Contains("LastSerial=-1"));
    EXPECT_THAT(lines, testing::Contains("WriteComments=1"));
}

TEST_F(DesktopStartUp, ASettingsFileThatCannotBeWrittenIsReportedAtStartAndAtCloseAndNothingElseChanges)
{
    const QColor brown(0x60, 0x40, 0x00);
    const std::string plain = Write("plain.txt", "x");
    std::filesystem::create_directories(Folder + "/taken.ini");
    struct TCase {
        const char* Why;
        std::string Path;
        std::string Reason;
        bool SaidAtStart;
        int64_t WriteLimit = -1;
    };
    // Places that refuse root too; a folder without write permission only
    // refuses others.
    std::vector<TCase> cases = {
        {"below a file", plain + "/orbesk.ini", "Not a directory", true},
        {"a folder by the file's name", Folder + "/taken.ini", "Is a directory", true},
        {"a full disk, found only at close", Ini, "No space left on device", false, 0},
    };
    if (geteuid() != 0) {
        std::filesystem::create_directories(Folder + "/locked");
        std::filesystem::permissions(Folder + "/locked", std::filesystem::perms::owner_write,
                                     std::filesystem::perm_options::remove);
        cases.push_back({"a folder without write permission", Folder + "/locked/orbesk.ini", "Permission denied",
                         true});
    } else {
        std::cout << "Run as root: a folder without write permission is not tried.\n";
    }
    const auto entries = [this] {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::recursive_directory_iterator(Folder))
            names.push_back(e.path().string());
        std::sort(names.begin(), names.end());
        return names;
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(c.Why);
        const std::vector<std::string> before = entries();
        ExitStatus = 0;
        TJtagMainForm& form = Create({"-I", c.Path}, false);
        const std::string line = "The settings file " + c.Path + " cannot be written: " + c.Reason + ".";
        const auto said = [&] {
            std::vector<size_t> at;
            const std::vector<TMemoLine> lines = MemoLines(form);
            for (size_t i = 0; i < lines.size(); ++i)
                if (lines[i].Text == line) {
                    EXPECT_EQ(lines[i].Colour, brown);
                    at.push_back(i);
                }
            return at;
        };
        EXPECT_EQ(said().size(), c.SaidAtStart ? 1u : 0u);
        // Later ticks do not say it again.
        form.TimerTimer();
        form.TimerTimer();
        EXPECT_EQ(said().size(), c.SaidAtStart ? 1u : 0u);
        platform::SetIniWriteLimitForTest(c.WriteLimit);
        {
            // At close the log is about to go: a box says it, before the
            // window has closed.
            form.show();
            TModalAnswerer answerer;
            bool shownUnderTheBox = false;
            QTimer::singleShot(0, [&] { shownUnderTheBox = form.isVisible(); });
            form.Close1Click();
            ASSERT_EQ(answerer.Seen.size(), 1u);
            EXPECT_EQ(answerer.Seen[0].Caption, "Warning");
            EXPECT_EQ(answerer.Seen[0].Text, line);
            EXPECT_TRUE(shownUnderTheBox);
            EXPECT_FALSE(form.isVisible());
        }
        platform::SetIniWriteLimitForTest(-1);
        EXPECT_TRUE(form.Closed());
        const std::vector<size_t> at = said();
        ASSERT_EQ(at.size(), c.SaidAtStart ? 2u : 1u);
        EXPECT_EQ(at.back(), MemoLines(form).size() - 1);
        EXPECT_EQ(ExitStatus, 0);
        EXPECT_EQ(entries(), before) << "written elsewhere";
    }

    // A file that can be written: not a word, no box.
    TJtagMainForm& form = Create();
    TModalAnswerer answerer;
    form.Close1Click();
    for (const std::string& text : MemoTexts(form))
        EXPECT_EQ(text.find("cannot be written"), std::string::npos) << text;
    EXPECT_THAT(answerer.Seen, IsEmpty());
    EXPECT_TRUE(std::filesystem::exists(Ini));
}

TEST_F(DesktopStartUp, SettingsNotWrittenAtCloseAreABoxOnlyWhenSomebodyIsThereAndStandardErrorOtherwise)
{
    const std::string plain = Write("plain.txt", "x");
    const std::string path = plain + "/orbesk.ini";
    const std::string line = "The settings file " + path + " cannot be written: Not a directory.";
    const std::string good = Write("good.svf", e2e::IdcodeSvf(true));
    struct TCase {
        std::vector<std::string> Flags;
        bool Signal; // the close a stop signal asks for
        bool Box;
    };
    // No cable attached: every -P start fails, and -CC closes on it.
    const TCase cases[] = {
        {{}, false, true},
        {{"-P"}, false, true},
        {{"-C"}, false, true},
        {{"-CC"}, false, true},
        {{"-P", "-C"}, false, false},
        {{"-P", "-CC"}, false, false},
        {{"-P", "-C", "-CC"}, false, false},
        {{}, true, false},
    };
    for (const TCase& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.Flags) + (c.Signal ? " signal" : ""));
        std::vector<std::string> args = {"-I", path, "-F", good};
        args.insert(args.end(), c.Flags.begin(), c.Flags.end());
        TModalAnswerer answerer;
        testing::internal::CaptureStderr();
        TJtagMainForm& form = Create(args, false);
        RunUntil([&] { return form.Closed() || (!form.ProcessAtStart && !form.Starting()); }, 5000);
        if (!form.Closed()) {
            if (c.Signal)
                form.EndOnSignal();
            else
                form.Close1Click();
        }
        const std::string err = testing::internal::GetCapturedStderr();
        ASSERT_TRUE(form.Closed());
        std::vector<std::string> boxes;
        for (const TModalAnswerer::TSeen& seen : answerer.Seen)
            boxes.push_back(seen.Text);
        if (c.Box) {
            EXPECT_THAT(boxes, ElementsAre(line));
            EXPECT_EQ(err.find(line), std::string::npos) << err;
        } else {
            EXPECT_THAT(boxes, IsEmpty());
            EXPECT_EQ(err, line + "\n");
        }
        EXPECT_THAT(MemoTexts(form), testing::Contains(line));
    }
}

} // namespace
