#include <dlfcn.h>

#include <gtest/gtest.h>

#include "dynlib.h"
#include "usb_fixture.h"

namespace {

using usbtest::VariantFolder;

class DriverLoad : public testing::Test {
protected:
    void TearDown() override
    {
        FtUnload();
        FtSetLibraryFolder("");
    }
    // Whether this process has that file loaded now.
    static bool IsLoaded(const std::string& Path)
    {
        void* lib = dlopen(Path.c_str(), RTLD_NOW | RTLD_NOLOAD);
        if (lib)
            dlclose(lib);
        return lib != nullptr;
    }
};

struct TLoadCase {
    const char* Variant;
    bool Accepted;
    bool VidPidBound;
    const char* Why;
};

TEST_F(DriverLoad, AcceptsOrRefusesEachLibraryByItsExports)
{
    const TLoadCase cases[] = {
        {"plain", true, true, "plain names, FT_SetVIDPID bound too"},
        {"novidpid", true, false, "plain names without the optional FT_SetVIDPID"},
        {"lin", true, true, "lin_ names found under the second file name"},
        {"lin_novidpid", true, false, "lin_ names without lin_FT_SetVIDPID"},
        {"nogetbitmode", false, false, "a required entry point missing"},
        {"linopen", false, false, "lin_FT_Open but plain names for the rest"},
        {"no-such-folder", false, false, "neither file present"},
    };
    for (const TLoadCase& c : cases) {
        SCOPED_TRACE(c.Why);
        FtSetLibraryFolder(VariantFolder(c.Variant));
        EXPECT_EQ(FtLoad(), c.Accepted);
        EXPECT_EQ(FtLoaded(), c.Accepted);
        EXPECT_EQ(FtEntries().FT_SetVIDPID != nullptr, c.VidPidBound);
        EXPECT_EQ(FtEntries().FT_GetBitMode != nullptr, c.Accepted);
        if (!c.Accepted) {
            for (const char* file : {"/libftd2xx.so", "/liblin_ftd2xx.so"})
                EXPECT_FALSE(IsLoaded(VariantFolder(c.Variant) + file)) << "a refused library is freed";
        }
        FtUnload();
    }
}

TEST_F(DriverLoad, FirstNameWinsWhenBothArePresent)
{
    FtSetLibraryFolder(VariantFolder("both"));
    ASSERT_TRUE(FtLoad());
    EXPECT_TRUE(IsLoaded(VariantFolder("both") + "/libftd2xx.so"));
    EXPECT_FALSE(IsLoaded(VariantFolder("both") + "/liblin_ftd2xx.so"));
}

TEST_F(DriverLoad, OptionalDriverVersionIsBoundWhenExported)
{
    FtSetLibraryFolder(VariantFolder("plain"));
    ASSERT_TRUE(FtLoad());
    EXPECT_NE(FtEntries().FT_GetDriverVersion, nullptr);
}

TEST_F(DriverLoad, SecondLoadKeepsTheFirstLibrary)
{
    FtSetLibraryFolder(VariantFolder("plain"));
    ASSERT_TRUE(FtLoad());
    FtSetLibraryFolder(VariantFolder("lin_novidpid"));
    EXPECT_TRUE(FtLoad());
    EXPECT_FALSE(IsLoaded(VariantFolder("lin_novidpid") + "/libftd2xx.so"));
    EXPECT_NE(FtEntries().FT_SetVIDPID, nullptr) << "still the plain library's binding";
}

TEST_F(DriverLoad, UnloadThenLoadLoadsAgain)
{
    FtSetLibraryFolder(VariantFolder("plain"));
    ASSERT_TRUE(FtLoad());
    FtUnload();
    EXPECT_FALSE(FtLoaded());
    ASSERT_TRUE(FtLoad());
    EXPECT_TRUE(IsLoaded(VariantFolder("plain") + "/libftd2xx.so"));
    EXPECT_NE(FtEntries().FT_SetVIDPID, nullptr);
}

TEST_F(DriverLoad, UnloadThenLoadBindsAfresh)
{
    FtSetLibraryFolder(VariantFolder("lin"));
    ASSERT_TRUE(FtLoad());
    ASSERT_NE(FtEntries().FT_SetVIDPID, nullptr);
    FtUnload();
    EXPECT_FALSE(FtLoaded());
    EXPECT_EQ(FtEntries().FT_Open, nullptr);

    // FT_SetVIDPID of the earlier load must not survive into this one.
    FtSetLibraryFolder(VariantFolder("lin_novidpid"));
    ASSERT_TRUE(FtLoad());
    EXPECT_EQ(FtEntries().FT_SetVIDPID, nullptr);
    simctl::TSimLibrary sim(VariantFolder("lin_novidpid") + "/libftd2xx.so");
    sim.Load(R"({"devices":[{"vid":"0x0403","pid":"0x6001","serial":"FT1"}]})");
    EXPECT_EQ(FtDeviceCount(), 1);
}

TEST_F(DriverLoad, CallsWithoutALibraryFailInsteadOfCallingNothing)
{
    ASSERT_FALSE(FtLoaded());
    EXPECT_EQ(FtDeviceCount(), 0);
    FT_HANDLE handle = nullptr;
    DWORD n = 0;
    UCHAR mode = 0;
    FT_DEVICE type = 0;
    char serial[FtInfoTextSize] = {};
    char description[FtInfoTextSize] = {};
    uint8_t buffer[4] = {};
    const FT_STATUS results[] = {
        FtOpen(0, handle),
        FtListDevices(&n, nullptr, FT_LIST_NUMBER_ONLY),
        FtClose(handle),
        FtRead(handle, buffer, 4, n),
        FtWrite(handle, buffer, 4, n),
        FtResetDevice(handle),
        FtPurge(handle, 3),
        FtGetQueueStatus(handle, n),
        FtSetLatencyTimer(handle, 16),
        FtGetDeviceInfo(handle, type, n, serial, description, nullptr),
        FtSetTimeouts(handle, 100, 100),
        FtSetBitMode(handle, 0, 2),
        FtGetBitMode(handle, mode),
    };
    for (size_t i = 0; i < std::size(results); ++i)
        EXPECT_NE(results[i], FT_OK) << "call " << i;
}

// The program's own folder comes before the loader's search path; the
// probe library lies only beside this test program.
TEST(DynLib, BareNameIsFoundInTheProgramFolder)
{
    platform::TLibHandle lib = platform::LoadLib("liborbesk_dynlib_probe.so");
    ASSERT_NE(lib, nullptr);
    auto probe = reinterpret_cast<int (*)()>(platform::LibSymbol(lib, "orbesk_dynlib_probe"));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(), 42);
    EXPECT_EQ(platform::LibSymbol(lib, "no_such_symbol"), nullptr);
    platform::FreeLib(lib);
}

TEST(DynLib, BareNameFallsBackToTheLoaderSearchPath)
{
    platform::TLibHandle lib = platform::LoadLib("libm.so.6");
    EXPECT_NE(lib, nullptr);
    platform::FreeLib(lib);
}

TEST(DynLib, MissingLibraryGivesNoHandle)
{
    EXPECT_EQ(platform::LoadLib("liborbesk_no_such_library.so"), nullptr);
    EXPECT_EQ(platform::LoadLib("/nonexistent/liborbesk_dynlib_probe.so"), nullptr);
    EXPECT_EQ(platform::LoadLib(""), nullptr);
}

} // namespace
