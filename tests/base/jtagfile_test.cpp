#include "base/jtagfile.h"

#include <gtest/gtest.h>

#include "base/sysutils.h"

namespace {

// Stand-in players: they only remember which class made them.
class TFakePlayer : public TJtagFile {
public:
    explicit TFakePlayer(const std::string& FileName) : TJtagFile(FileName), Name(FileName) {}
    bool Start(int32_t) override { return true; }
    FileStatus GetStatus() override { return FileStatus::Running; }
    int32_t GetPosition() override { return 0; }
    int32_t GetSize() override { return 0; }
    void Stop() override {}
    virtual std::string Kind() const = 0;
    std::string Name;
};

class TFakeSvf : public TFakePlayer {
public:
    using TFakePlayer::TFakePlayer;
    static std::string FileTypeName() { return "SVF"; }
    std::string Kind() const override { return "svf"; }
};

class TFakeXsvf : public TFakePlayer {
public:
    using TFakePlayer::TFakePlayer;
    static std::string FileTypeName() { return "XSVF"; }
    std::string Kind() const override { return "xsvf"; }
};

class TFakeLowerSvf : public TFakePlayer {
public:
    using TFakePlayer::TFakePlayer;
    static std::string FileTypeName() { return "svf"; }
    std::string Kind() const override { return "lower"; }
};

class TThrowingPlayer : public TFakePlayer {
public:
    explicit TThrowingPlayer(const std::string& FileName) : TFakePlayer(FileName)
    {
        throw Exception("Cannot open file " + FileName + " for read.");
    }
    static std::string FileTypeName() { return "BAD"; }
    std::string Kind() const override { return "bad"; }
};

class Registry : public testing::Test {
protected:
    void SetUp() override
    {
        delete JtagFilesList;
        JtagFilesList = nullptr;
        RegisterJtagFileClass(JtagFileClassOf<TFakeSvf>());
        RegisterJtagFileClass(JtagFileClassOf<TFakeXsvf>());
    }
    void TearDown() override
    {
        delete JtagFilesList;
        JtagFilesList = nullptr;
    }

    std::string KindFor(const std::string& ext)
    {
        auto player = JtagFilesList->CreateFileObject(ext, "/tmp/data." + ext);
        return dynamic_cast<TFakePlayer&>(*player).Kind();
    }

    std::string RefusalFor(const std::string& ext)
    {
        try {
            JtagFilesList->CreateFileObject(ext, "x");
        } catch (const Exception& e) {
            return e.Message();
        }
        return "(no exception)";
    }
};

TEST_F(Registry, FirstRegistrationCreatesTheListInOrder)
{
    ASSERT_NE(JtagFilesList, nullptr);
    ASSERT_EQ(JtagFilesList->Count(), 2);
    EXPECT_EQ(JtagFilesList->Items(0).Extension, "SVF");
    EXPECT_EQ(JtagFilesList->Items(1).Extension, "XSVF");
    EXPECT_THROW(JtagFilesList->Items(2), Exception);
}

TEST_F(Registry, FindsTheClassWhateverTheCaseAndLeadingDot)
{
    for (const char* ext : {"svf", ".svf", ".SVF", "Svf"})
        EXPECT_EQ(KindFor(ext), "svf") << ext;
    EXPECT_EQ(KindFor(".xsvf"), "xsvf");
}

TEST_F(Registry, PassesTheFileNameToTheConstructor)
{
    auto player = JtagFilesList->CreateFileObject(".svf", "/data/board.svf");
    EXPECT_EQ(dynamic_cast<TFakePlayer&>(*player).Name, "/data/board.svf");
    EXPECT_TRUE(player->CopyComments);
    EXPECT_FALSE(player->OnMessage || player->OnShift || player->OnRead || player->OnFlush ||
                 player->OnTmsClock || player->OnRuntestTime || player->OnRuntestClocks || player->OnTrst ||
                 player->OnSetFrequency);
}

TEST_F(Registry, RefusesUnregisteredTypesNamingThem)
{
    const struct {
        const char* ext;
        const char* message;
    } cases[] = {
        {".txt", "No registered class for file type \"TXT\""},
        {"..svf", "No registered class for file type \".SVF\""},
        {"xsv", "No registered class for file type \"XSV\""},
        {"", "No registered class for file type \"\""},
        {".", "No registered class for file type \"\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RefusalFor(c.ext), c.message) << c.ext;
}

TEST_F(Registry, FirstOfDuplicateTypesWins)
{
    RegisterJtagFileClass(JtagFileClassOf<TFakeLowerSvf>());
    EXPECT_EQ(JtagFilesList->Count(), 3);
    EXPECT_EQ(JtagFilesList->Items(2).Extension, "svf");
    EXPECT_EQ(KindFor("svf"), "svf");
}

TEST_F(Registry, ConstructorErrorsReachTheCaller)
{
    RegisterJtagFileClass(JtagFileClassOf<TThrowingPlayer>());
    try {
        JtagFilesList->CreateFileObject("bad", "/nowhere/x.bad");
        FAIL() << "no exception";
    } catch (const Exception& e) {
        EXPECT_EQ(e.Message(), "Cannot open file /nowhere/x.bad for read.");
    }
}

} // namespace
