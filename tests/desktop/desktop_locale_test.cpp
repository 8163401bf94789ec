// The toolkit sets the C library's locale from the environment; under a
// locale with a decimal comma the engine still reads "1.5E6" as one and a
// half million (and 0.000125 s as 125 us), writes its numbers with a blank
// between groups, and the log shows its micro sign.
#include <gmock/gmock.h>

#include <clocale>
#include <cstdlib>

#include "desktop_fixture.h"

namespace {

using namespace desktoptest;
using testing::Contains;
using testing::HasSubstr;

class DesktopLocale : public TFormTest {
protected:
    void SetUp() override
    {
        // Before the application object exists: it reads the environment.
        LocaleFolder = std::filesystem::temp_directory_path() / ("orbesk_locale_" + std::to_string(getpid()));
        std::filesystem::create_directories(LocaleFolder);
        const std::string make = "localedef -i de_DE -f UTF-8 " + (LocaleFolder / "de_DE.UTF-8").string() +
                                 " >/dev/null 2>&1";
        if (std::system(make.c_str()) != 0)
            GTEST_SKIP() << "localedef cannot build de_DE.UTF-8 here";
        setenv("LOCPATH", LocaleFolder.c_str(), 1);
        setenv("LC_ALL", "de_DE.UTF-8", 1);
        TFormTest::SetUp();
    }
    void TearDown() override
    {
        TFormTest::TearDown();
        std::filesystem::remove_all(LocaleFolder);
    }
    std::filesystem::path LocaleFolder;
};

TEST_F(DesktopLocale, NumbersInFilesAndInTheLogDoNotFollowTheLocale)
{
    ASSERT_STREQ(std::localeconv()->decimal_point, ",") << "the application object did not take the locale";
    OneVarnel();
    Write("orbesk.ini", "[Params]\nSecurityTime=10\n");
    const std::string file = Write("fractions.svf", "FREQUENCY 4.5E6 HZ;\nSTATE RESET;\nSTATE IDLE;\n"
                                                    "RUNTEST 2.5E-3 SEC;\nRUNTEST 0.000125 SEC;\n"
                                                    "SIR 12 TDI (101) TDO (101) MASK (FFF);\nSTATE RESET;\n");
    TJtagMainForm& form = Create({"-F", file});
    form.MenuProcessClick();
    ASSERT_TRUE(RunToEnd());
    RunFor(150);
    const std::vector<std::string> log = MemoTexts(form);
    EXPECT_EQ(log.back(), "File processing completed successfully") << testing::PrintToString(log);
    EXPECT_THAT(log, Contains(HasSubstr(" 4 500 000 Hz,"))) << testing::PrintToString(log);
    EXPECT_THAT(log, Contains(HasSubstr(" from 2 500 \u00B5s to 2 750 \u00B5s"))) << testing::PrintToString(log);
    EXPECT_THAT(log, Contains(HasSubstr(" from 125 \u00B5s to "))) << testing::PrintToString(log);
}

} // namespace
