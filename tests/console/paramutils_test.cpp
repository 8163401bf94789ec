#include "paramutils.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using TArgs = std::vector<std::string>;

// A parser over a fixed argument list instead of the process's.
class TListParameters : public TParameters {
public:
    explicit TListParameters(TArgs Args) : FArgs(std::move(Args)) {}
    std::string GetArg(int Index) override
    {
        return Index >= 1 && Index <= GetArgCount() ? FArgs[static_cast<size_t>(Index) - 1] : std::string();
    }
    int GetArgCount() override { return static_cast<int>(FArgs.size()); }

private:
    TArgs FArgs;
};

void Declare(TParameters& P, const char* Name, bool TakesValue = false)
{
    P.GetParameter(Name).TakesValue = TakesValue;
}

// The console program's options, in its order.
void DeclareConsoleOptions(TParameters& P)
{
    Declare(P, "S", true);
    Declare(P, "V");
    Declare(P, "VERSION");
    Declare(P, "F", true);
    Declare(P, "I", true);
    Declare(P, "H");
    Declare(P, "HELP");
    Declare(P, "W");
    Declare(P, "MIRROW");
    Declare(P, "DRUVEL");
    Declare(P, "VARNEL");
}

void DeclareCombinedOptions(TParameters& P)
{
    P.Combined = true;
    Declare(P, "a");
    Declare(P, "b");
    Declare(P, "s", true);
    Declare(P, "help");
    Declare(P, "long", true);
}

std::string Show(const TArgs& Args)
{
    std::string s;
    for (const auto& a : Args)
        s += "[" + a + "]";
    return s;
}

const std::string Illegal = "Illegal combination of parameter initialization characters in ";

TEST(ParameterValidate, ConsoleOptionsGiveTheFirstErrorText)
{
    const struct {
        TArgs args;
        std::string text;
    } cases[] = {
        {{}, ""},
        {{"x.svf"}, ""},
        {{"-s", "1234", "-mirrow", "-w", "x.svf"}, ""},
        {{"/HELP"}, ""},
        {{"/help", "-Version", "-VaRnEl"}, ""},
        {{"-mirrow=1"}, ""},
        {{"-s+", "12"}, ""},
        {{"-s", "-"}, ""}, // a lone switch character is a value
        {{"-q", "x.svf"}, "Unknown parameter \"Q\" in -q"},
        {{"-x", "-q"}, "Unknown parameter \"X\" in -x"},
        {{"-sx"}, "Unknown parameter \"SX\" in -sx"},
        {{"-helpme"}, "Unknown parameter \"HELPME\" in -helpme"},
        {{"-:x"}, "Unknown parameter \"\" in -:x"},
        {{"-\xE9t\xE9"}, "Unknown parameter \"\xE9T\xE9\" in -\xE9t\xE9"},
        {{"x.svf", "-s"}, "After -s expected string, but this is last parameter."},
        {{"-s:A61234"}, "After -s:A61234 expected string, but this is last parameter."},
        {{"-f", "a", "-f"}, "After -f expected string, but this is last parameter."},
        {{"-s", "-f", "x.svf"}, "After -s expected string, but -f found."},
        {{"-i", "/v"}, "After -i expected string, but /v found."},
        {{"--help"}, Illegal + "--help"},
        {{"-/x"}, Illegal + "-/x"},
        {{"/-x"}, Illegal + "/-x"},
        {{"--"}, Illegal + "--"},
        {{"x.svf", "-q", "--help"}, "Unknown parameter \"Q\" in -q"},
    };
    for (const auto& c : cases) {
        TListParameters p(c.args);
        DeclareConsoleOptions(p);
        EXPECT_EQ(p.Validate(), c.text) << Show(c.args);
    }
}

// Absolute paths begin with '/', the other switch character: with a further
// '/' the argument is a path, never an option.
TEST(ParameterValidate, SlashPathsAreNotOptions)
{
    const struct {
        TArgs args;
        std::string text;
    } cases[] = {
        {{"/tmp/a.svf"}, ""},
        {{"-f", "/tmp/a.svf"}, ""},
        {{"-i", "/etc/orbesk.ini", "-s", "/x/", "/home/u/a.svf"}, ""},
        {{"//"}, ""},
        {{"/tmp"}, "Unknown parameter \"TMP\" in /tmp"},
        {{"/s/", "-s"}, "After -s expected string, but this is last parameter."},
        {{"-s", "/x/y", "/q"}, "Unknown parameter \"Q\" in /q"},
    };
    for (const auto& c : cases) {
        TListParameters p(c.args);
        DeclareConsoleOptions(p);
        EXPECT_EQ(p.Validate(), c.text) << Show(c.args);
    }
}

TEST(ParameterValidate, CombinedModeTexts)
{
    const struct {
        TArgs args;
        std::string text;
    } cases[] = {
        {{"-ab"}, ""},
        {{"-ba", "x"}, ""},
        {{"-a:x"}, ""},
        {{"-:x"}, ""}, // no letter before the separator: not checked
        {{"-s", "v"}, ""},
        {{"--help"}, ""},
        {{"--HELP=x"}, ""},
        {{"--long", "v"}, ""},
        {{"-abc"}, "Unknown parameter \"C\" in -abc"},
        {{"-help"}, "Unknown parameter \"H\" in -help"},
        {{"-as"}, "Parameters with string value must be listed alone, in -as"},
        {{"-sa"}, "Parameters with string value must be listed alone, in -sa"},
        {{"-sq"}, "Parameters with string value must be listed alone, in -sq"},
        {{"-qs"}, "Unknown parameter \"Q\" in -qs"},
        {{"-s"}, "After -s expected string, but this is last parameter."},
        {{"--long"}, "After --long expected string, but this is last parameter."},
        {{"--long", "-a"}, "After --long expected string, but -a found."},
        {{"--h"}, "Parameter initiated by -- must contain at least two characters in --h"},
        {{"--"}, "Parameter initiated by -- must contain at least two characters in --"},
        {{"---x"}, "Parameter initiated by -- must contain at least two characters in ---x"},
        {{"--nope"}, "Unknown parameter \"NOPE\" in --nope"},
        {{"-/a"}, Illegal + "-/a"},
    };
    for (const auto& c : cases) {
        TListParameters p(c.args);
        DeclareCombinedOptions(p);
        EXPECT_EQ(p.Validate(), c.text) << Show(c.args);
    }
}

TEST(ParameterValidate, NoArgumentsFindNothing)
{
    TListParameters p({});
    DeclareConsoleOptions(p);
    EXPECT_EQ(p.Validate(), "");
    EXPECT_EQ(p.FreeArgumentCount(), 0);
    EXPECT_EQ(p.FreeArgument(0), "");
    for (const auto& option : p.ParameterList)
        EXPECT_FALSE(p.GetParameter(option->Name).Found) << option->Name;
}

struct TFindCase {
    TArgs args;
    const char* name;
    bool found;
    std::string value;
    std::string attached;
};

void ExpectFinds(const TFindCase& c, bool Combined)
{
    TListParameters p(c.args);
    if (Combined)
        DeclareCombinedOptions(p);
    else
        DeclareConsoleOptions(p);
    const TParameter& option = p.GetParameter(c.name);
    EXPECT_EQ(option.Found, c.found) << c.name << " in " << Show(c.args);
    EXPECT_EQ(option.Value, c.value) << c.name << " in " << Show(c.args);
    EXPECT_EQ(option.Attached, c.attached) << c.name << " in " << Show(c.args);
}

TEST(ParameterFind, FoundValueAndAttachedText)
{
    const TFindCase cases[] = {
        {{"-S"}, "S", true, "", ""},
        {{"/s", "1234"}, "S", true, "1234", ""},
        {{"-s:A61234", "x.svf"}, "S", true, "x.svf", ":A61234"},
        {{"-s-", "v"}, "s", true, "v", "-"},
        {{"-sx", "v"}, "S", false, "", ""},
        {{"x.svf", "-s"}, "S", true, "", ""},
        {{"-s", "-"}, "S", true, "-", ""},
        {{"-i:Q.ini", "cfg"}, "I", true, "cfg", ":Q.ini"},
        {{"-f", "a", "-f", "b"}, "F", true, "a", ""},
        {{"x", "-F", "y"}, "f", true, "y", ""},
        {{"-help=x", "y"}, "HELP", true, "", "=x"},
        {{"/Help"}, "help", true, "", ""},
        {{"--help"}, "HELP", false, "", ""},
        {{"-helpme"}, "HELP", false, "", ""},
        {{"-h"}, "HELP", false, "", ""},
        {{"-help"}, "H", false, "", ""},
        {{"/s/x", "v"}, "S", false, "", ""},
        {{"-q", "-w"}, "W", true, "", ""},
        {{"-"}, "S", false, "", ""},
    };
    for (const auto& c : cases)
        ExpectFinds(c, false);
}

TEST(ParameterFind, CombinedModeFindsGroupedLettersAndDoubledNames)
{
    const TFindCase cases[] = {
        {{"-ab"}, "a", true, "", ""},
        {{"-ab"}, "B", true, "", ""},
        {{"-abs"}, "s", true, "", ""}, // no value form inside a group
        {{"-s", "v"}, "s", true, "v", ""},
        {{"-s:x", "v"}, "s", true, "v", ":x"},
        {{"-a:bs"}, "s", false, "", ""}, // with a separator only the first letter counts
        {{"--help"}, "help", true, "", ""},
        {{"--help=1"}, "help", true, "", "=1"},
        {{"-help"}, "help", false, "", ""},
        {{"--long", "v"}, "long", true, "v", ""},
        {{"-/long"}, "long", false, "", ""},
    };
    for (const auto& c : cases)
        ExpectFinds(c, true);
}

// The first request declares the option before the caller can mark it as
// value-taking; only a later request carries the value.
TEST(ParameterFind, ValueIsFreshOnlyFromTheNextRequest)
{
    TListParameters p({"-s", "12"});
    TParameter& first = p.GetParameter("s");
    EXPECT_TRUE(first.Found);
    EXPECT_EQ(first.Value, "");
    first.TakesValue = true;
    EXPECT_EQ(p.GetParameter("S").Value, "12");
    EXPECT_EQ(&p.GetParameter("S"), &first);
}

TEST(ParameterFind, EmptyNameAndNullParameterAreHarmless)
{
    TListParameters p({"-", "-x"});
    EXPECT_EQ(p.FindArgument(""), -1);
    EXPECT_FALSE(p.HasValueForm(""));
    p.RefreshParameter(nullptr);
    EXPECT_EQ(p.GetArg(3), "");
    EXPECT_EQ(p.GetArg(0), "");
    EXPECT_EQ(p.FindArgument("x"), 2);
}

TEST(ParameterFree, ArgumentsThatAreNeitherOptionsNorValues)
{
    const struct {
        TArgs args;
        TArgs free;
    } cases[] = {
        {{"x.svf"}, {"x.svf"}},
        {{"-f", "a.svf", "b.svf"}, {"b.svf"}},
        {{"-f", "a", "-f", "b"}, {"b"}}, // only the first occurrence counts
        {{"-s:A6", "v", "x"}, {"x"}},
        {{"-s", "-"}, {}},
        {{"-", "x"}, {"-", "x"}},
        {{"-w", "-f"}, {}},
        {{"-q", "x"}, {"x"}}, // undeclared options are not free either
        {{"/tmp"}, {}},
        {{"/tmp/a.svf", "-w"}, {"/tmp/a.svf"}},
        {{"-i", "/etc/o.ini", "/srv/x.svf"}, {"/srv/x.svf"}},
        {{"a", "-w", "b", "c"}, {"a", "b", "c"}},
        {{"-sx", "y"}, {"y"}}, // -sx names nothing, so y is no value
    };
    for (const auto& c : cases) {
        TListParameters p(c.args);
        DeclareConsoleOptions(p);
        TArgs free;
        for (int i = 0; i < p.FreeArgumentCount(); ++i)
            free.push_back(p.FreeArgument(i));
        EXPECT_EQ(free, c.free) << Show(c.args);
        EXPECT_EQ(p.FreeArgument(static_cast<int>(c.free.size())), "") << Show(c.args);
        EXPECT_EQ(p.FreeArgument(-1), "") << Show(c.args);
    }
}

// A name first asked for after Validate is declared then; Validate did not
// know it.
TEST(ParameterFree, OptionsDeclaredLaterChangeTheFreeList)
{
    TListParameters p({"-k", "v", "x"});
    EXPECT_EQ(p.Validate(), "Unknown parameter \"K\" in -k");
    EXPECT_EQ(p.FreeArgumentCount(), 2);
    p.GetParameter("k").TakesValue = true;
    EXPECT_EQ(p.Validate(), "");
    EXPECT_EQ(p.FreeArgumentCount(), 1);
    EXPECT_EQ(p.FreeArgument(0), "x");
}

TEST(ParameterCase, NamesAreUpperCasedUnlessCaseSensitive)
{
    TListParameters p({"-s"});
    p.GetParameter("help");
    p.GetParameter("HELP");
    p.GetParameter("Help");
    ASSERT_EQ(p.ParameterList.size(), 1u);
    EXPECT_EQ(p.ParameterList[0]->Name, "HELP");

    TListParameters sensitive({"-S", "-s"});
    sensitive.CaseSensitive = true;
    EXPECT_EQ(sensitive.GetParameter("s").Found, true);
    EXPECT_EQ(sensitive.FindArgument("s"), 2);
    EXPECT_EQ(sensitive.FindArgument("S"), 1);
    sensitive.GetParameter("help");
    sensitive.GetParameter("HELP");
    EXPECT_EQ(sensitive.ParameterList.size(), 3u);
    EXPECT_EQ(sensitive.Validate(), "Unknown parameter \"S\" in -S");
}

TEST(ParameterCase, OnlyAsciiLettersChange)
{
    std::string text = "az-AZ_09\xE9\xFF{`";
    UpperCaseAscii(text);
    EXPECT_EQ(text, "AZ-AZ_09\xE9\xFF{`");
    TListParameters p({"-\xE9"});
    EXPECT_FALSE(p.GetParameter("\xC9").Found);
}

TEST(ParameterRules, SwitchCharsAndSeparatorsCanChange)
{
    TListParameters p({"+s", "v", "-s", "/t/x"});
    p.SwitchChars = CharSetOf("+");
    p.ValueSeparators = CharSetOf("");
    Declare(p, "S", true);
    EXPECT_EQ(p.FindArgument("S"), 1);
    EXPECT_EQ(p.GetParameter("S").Value, "v");
    EXPECT_EQ(p.Validate(), "");
    EXPECT_EQ(p.FreeArgumentCount(), 2); // "-s" and the path are free here
}

TEST(ParameterText, CopyUpToCharsAndContainsAnyChar)
{
    const TCharSet seps = CharSetOf("+-:=");
    EXPECT_EQ(CopyUpToChars("s:123", seps), "s");
    EXPECT_EQ(CopyUpToChars("help", seps), "help");
    EXPECT_EQ(CopyUpToChars("=x", seps), "");
    EXPECT_EQ(CopyUpToChars("", seps), "");
    EXPECT_EQ(CopyUpToChars("a-b", TCharSet{}), "a-b");
    EXPECT_TRUE(ContainsAnyChar("ab=c", seps));
    EXPECT_FALSE(ContainsAnyChar("abc", seps));
    EXPECT_FALSE(ContainsAnyChar("a-b", TCharSet{}));
    EXPECT_FALSE(ContainsAnyChar("", seps));
}

class ParameterSingletonTest : public testing::Test {
protected:
    void TearDown() override
    {
        FreeParameterSingleton();
        const char* none[] = {"prog"};
        SetProcessArguments(1, none);
    }
};

TEST_F(ParameterSingletonTest, OneParserWithTheDefaultsOverTheProcessArguments)
{
    const char* argv[] = {"prog", "/S", "A6041234", "-mirrow", "/srv/x.svf"};
    SetProcessArguments(5, argv);
    FreeParameterSingleton();
    TParameters& p = ParameterSingleton();
    EXPECT_EQ(&p, &ParameterSingleton());
    EXPECT_FALSE(p.Combined);
    EXPECT_FALSE(p.CaseSensitive);
    EXPECT_EQ(p.SwitchChars, CharSetOf("-/"));
    EXPECT_EQ(p.ValueSeparators, CharSetOf("+-:="));
    EXPECT_EQ(p.GetArgCount(), 4);
    EXPECT_EQ(p.GetArg(0), "");
    DeclareConsoleOptions(p);
    EXPECT_EQ(p.Validate(), "");
    EXPECT_EQ(p.GetParameter("S").Value, "A6041234");
    EXPECT_TRUE(p.GetParameter("MIRROW").Found);
    EXPECT_EQ(p.FreeArgument(0), "/srv/x.svf");

    FreeParameterSingleton();
    EXPECT_TRUE(ParameterSingleton().ParameterList.empty());
}

} // namespace
