#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "usb_fixture.h"

namespace {

using platform::TLockWait;
using usbtest::THolderProcess;
using usbtest::WaitFromOtherProcess;

struct TKind {
    uint16_t Vid;
    uint16_t Pid;
    const char* Mask;
};
constexpr TKind Varnel{0x0403, 0xF1A0, "A601????"};
constexpr TKind Mirrow{0xA600, 0xA003, "A604????"};
constexpr TKind Druvel{0xA600, 0xDBCA, "A6??????"};

std::string Device(const TKind& Kind, const std::string& Serial, const std::string& Extra = "")
{
    return "{\"vid\":" + std::to_string(Kind.Vid) + ",\"pid\":" + std::to_string(Kind.Pid) + ",\"serial\":\"" +
           Serial + "\"" + (Extra.empty() ? "" : "," + Extra) + "}";
}

std::string OtherFtdi(uint16_t Pid, const std::string& Serial)
{
    return Device(TKind{0x0403, Pid, ""}, Serial);
}

std::string Scenario(const std::vector<std::string>& Devices, const std::string& Extra = "")
{
    std::string list;
    for (const std::string& d : Devices)
        list += (list.empty() ? "" : ",") + d;
    return "{" + (Extra.empty() ? "" : Extra + ",") + "\"devices\":[" + list + "]}";
}

struct TSearch {
    std::vector<int32_t> Serials;
    int32_t Index;
};

class Search : public usbtest::TDriverTest {
protected:
    void SetUp() override
    {
        TDriverTest::SetUp();
        LoadVariant("plain");
    }
    TSearch Find(const TKind& Kind, int32_t Wanted = -1)
    {
        TSearch result{{12345}, 99};
        FindDevices(Kind.Vid, Kind.Pid, Kind.Mask, Wanted, &result.Index, result.Serials);
        return result;
    }
};

struct TSearchCase {
    const char* Why;
    std::vector<std::string> Devices;
    TKind Kind;
    int32_t Wanted;
    std::vector<int32_t> Serials;
    int32_t Index;
};

TEST_F(Search, FindsMatchingDevicesAmongAllAttached)
{
    const std::string fullBuffer = "A6010001" + std::string(56, '0'); // 64 characters, no room for NUL
    const TSearchCase cases[] = {
        {"nothing attached", {}, Varnel, -1, {}, -1},
        {"two Varnels: both serials in index order, no single index",
         {Device(Varnel, "A6010002"), Device(Varnel, "A6010001")},
         Varnel, -1, {0x010002, 0x010001}, -1},
        {"other FTDI devices come first",
         {OtherFtdi(0x6001, "FT4Z1X9A"), OtherFtdi(0x6010, "A6040123"), Device(Mirrow, "A6040123")},
         Mirrow, -1, {0x040123}, 2},
        {"ninth character A is the first channel of a dual chip",
         {Device(Mirrow, "A6040123A")}, Mirrow, -1, {0x040123}, 0},
        {"ninth character B matches no mask", {Device(Mirrow, "A6040123B")}, Mirrow, -1, {}, -1},
        {"ninth character B matches no mask, not even the widest",
         {Device(Druvel, "A6040123B")}, Druvel, -1, {}, -1},
        {"lower-case serial matches an upper-case mask", {Device(Mirrow, "a6040123")}, Mirrow, -1, {0x040123}, 0},
        {"a whole ProgrammerId as wanted serial compares its low 24 bits",
         {Device(Mirrow, "A6040124"), Device(Mirrow, "A6040123")}, Mirrow, 0x02040123, {0x040123}, 1},
        {"wanted serial not attached", {Device(Mirrow, "A6040124")}, Mirrow, 0x02040123, {}, -1},
        {"non-hex serial is listed as -1 when any serial will do",
         {Device(Druvel, "A6XYZ123")}, Druvel, -1, {-1}, 0},
        {"non-hex serial never matches a wanted serial", {Device(Druvel, "A6XYZ123")}, Druvel, 0x7B000123, {}, -1},
        {"serial above the signed range is read unsigned",
         {Device(Druvel, "A6FFFFFF")}, Druvel, 0x7BFFFFFF, {0xFFFFFF}, 0},
        {"right serial, wrong USB ids", {Device(Mirrow, "A6010001")}, Varnel, -1, {}, -1},
        {"mask refuses another kind's serial", {Device(Varnel, "A6040123")}, Varnel, -1, {}, -1},
        {"a device open in another program is skipped",
         {Device(Varnel, "A6010001", "\"busy\":true"), Device(Varnel, "A6010002")}, Varnel, -1, {0x010002}, 1},
        {"a device whose info fails is skipped and the search goes on",
         {Device(Varnel, "A6010001", "\"info_fails\":true"), Device(Varnel, "A6010002")},
         Varnel, -1, {0x010002}, 1},
        {"a serial filling its whole buffer is read no further",
         {Device(Varnel, fullBuffer), Device(Varnel, "A6010003")}, Varnel, -1, {0x010003}, 1},
    };
    for (const TSearchCase& c : cases) {
        SCOPED_TRACE(c.Why);
        Sim->Load(Scenario(c.Devices));
        const TSearch found = Find(c.Kind, c.Wanted);
        EXPECT_EQ(found.Serials, c.Serials);
        EXPECT_EQ(found.Index, c.Index);
        EXPECT_EQ(Sim->Counter("open_handles"), 0u) << "every device opened is closed again";
        EXPECT_EQ(Sim->Counter("protocol_errors"), 0u);
    }
}

TEST_F(Search, WithoutAnIndexOnlyTheSerialsAreGiven)
{
    Sim->Load(Scenario({Device(Varnel, "A6010001"), Device(Varnel, "A6010002")}));
    std::vector<int32_t> serials{7, 8, 9};
    FindDevices(Varnel.Vid, Varnel.Pid, Varnel.Mask, -1, nullptr, serials);
    EXPECT_EQ(serials, (std::vector<int32_t>{0x010001, 0x010002}));
}

TEST_F(Search, LeavesTheLockFree)
{
    Sim->Load(Scenario({Device(Varnel, "A6010001"), Device(Varnel, "A6010002")}));
    Find(Varnel);
    EXPECT_EQ(WaitFromOtherProcess(FtLockSettings().Name, 0, FtSearchLockFolder()), TLockWait::Acquired);
}

TEST_F(Search, SetsTheUsbIdsFirstSoTheDriverListsOtherIds)
{
    // Like FTDI's Linux driver: only its own ids are listed until
    // FT_SetVIDPID names another pair.
    const std::string scenario =
        Scenario({OtherFtdi(0x6001, "FT000001"), Device(Mirrow, "A6040123")}, "\"vidpid_filter\":true");
    Sim->Load(scenario);
    EXPECT_EQ(Find(Mirrow).Serials, std::vector<int32_t>{0x040123});
    EXPECT_EQ(Sim->Counter("FT_SetVIDPID"), 1u);

    // A driver without the call: the search does without it.
    LoadVariant("lin_novidpid");
    Sim->Load(scenario);
    const TSearch found = Find(Mirrow);
    EXPECT_TRUE(found.Serials.empty());
    EXPECT_EQ(found.Index, -1);
    EXPECT_EQ(Sim->Counter("FT_Open"), 1u) << "only the FTDI device was listed";
}

TEST_F(Search, GivesUpUntouchedWhileAnotherProcessHoldsTheLock)
{
    Sim->Load(Scenario({Device(Varnel, "A6010001")}));
    THolderProcess holder(FtLockSettings().Name, FtSearchLockFolder());
    ASSERT_TRUE(holder.Held);
    const TSearch found = Find(Varnel);
    EXPECT_EQ(found.Serials, std::vector<int32_t>{12345});
    EXPECT_EQ(found.Index, 99);
    EXPECT_EQ(Sim->Counter("FT_ListDevices"), 0u);
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u);
}

TEST_F(Search, GivesUpUntouchedWhenTheLockCannotBeMade)
{
    Sim->Load(Scenario({Device(Varnel, "A6010001")}));
    FtLockSettings().Folder = "/nonexistent-orbesk-folder";
    const TSearch found = Find(Varnel);
    EXPECT_EQ(found.Serials, std::vector<int32_t>{12345});
    EXPECT_EQ(found.Index, 99);
}

TEST(SerialMask, MatchesByPositionWithWildcards)
{
    struct {
        const char* Mask;
        const char* Serial;
        bool Matches;
    } cases[] = {
        {"A601????", "A6010123", true},  {"A601????", "a601abcd", true}, {"a604????", "A604FFFF", true},
        {"A601????", "A6040123", false}, {"A601????", "A601012", false}, {"A601????", "A60101234", false},
        {"A6010123", "A601?1?3", true},  {"", "", true},                 {"A6??????", "A6XYZ123", true},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SerialMatchesMask(c.Mask, c.Serial), c.Matches) << c.Mask << " / " << c.Serial;
}

class Open : public usbtest::TDriverTest {
protected:
    void SetUp() override
    {
        TDriverTest::SetUp();
        LoadVariant("plain");
        Sim->Load(Scenario({Device(Varnel, "A6010001", "\"kind\":\"loopback\"")}));
    }
};

TEST_F(Open, OpensReadsWritesAndClosesADevice)
{
    FT_HANDLE handle = nullptr;
    ASSERT_EQ(FtOpen(0, handle), FT_OK);
    const uint8_t out[] = {0xA3, 0x5C, 0x00};
    DWORD written = 0;
    EXPECT_EQ(FtWrite(handle, out, 3, written), FT_OK);
    EXPECT_EQ(written, 3u);
    DWORD queued = 0;
    EXPECT_EQ(FtGetQueueStatus(handle, queued), FT_OK);
    EXPECT_EQ(queued, 3u);
    uint8_t in[8] = {};
    DWORD read = 0;
    EXPECT_EQ(FtRead(handle, in, 8, read), FT_OK) << "returns what there is";
    ASSERT_EQ(read, 3u);
    EXPECT_EQ(std::vector<uint8_t>(in, in + 3), std::vector<uint8_t>(out, out + 3));
    EXPECT_EQ(FtSetBitMode(handle, 0, 0x40), FT_OK);
    UCHAR mode = 0;
    EXPECT_EQ(FtGetBitMode(handle, mode), FT_OK);
    EXPECT_EQ(mode, 0x40);
    EXPECT_EQ(FtClose(handle), FT_OK);
    EXPECT_EQ(Sim->Counter("protocol_errors"), 0u);
    EXPECT_EQ(WaitFromOtherProcess(FtLockSettings().Name, 0, FtSearchLockFolder()), TLockWait::Acquired)
        << "the open released its lock";
}

TEST_F(Open, GoesAheadAfterTheWaitWhileAnotherProcessHoldsTheLock)
{
    THolderProcess holder(FtLockSettings().Name, FtSearchLockFolder());
    ASSERT_TRUE(holder.Held);
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FtOpen(0, handle), FT_OK);
    EXPECT_EQ(FtClose(handle), FT_OK);
}

TEST_F(Open, AfterATimedOutWaitReleasesNothing)
{
    platform::TNamedLock held(FtLockSettings().Name, FtSearchLockFolder());
    ASSERT_EQ(held.Wait(0), TLockWait::Acquired);
    FT_STATUS status = FT_IO_ERROR;
    std::thread([&] {
        FT_HANDLE handle = nullptr;
        status = FtOpen(0, handle);
        FtClose(handle);
    }).join();
    EXPECT_EQ(status, FT_OK);
    EXPECT_EQ(WaitFromOtherProcess(FtLockSettings().Name, 0, FtSearchLockFolder()), TLockWait::TimedOut)
        << "the other thread's lock is still held";
    EXPECT_TRUE(held.Release());
}

TEST_F(Open, FailsWithDeviceNotOpenedWhenTheLockCannotBeMade)
{
    FtLockSettings().Folder = "/nonexistent-orbesk-folder";
    FT_HANDLE handle = nullptr;
    EXPECT_EQ(FtOpen(0, handle), FT_DEVICE_NOT_OPENED);
    EXPECT_EQ(Sim->Counter("FT_Open"), 0u) << "the driver is not asked";
}

TEST_F(Open, TraceHookHearsEveryWrapperAndItsThread)
{
    std::vector<std::pair<std::string, bool>> heard;
    FtSetTraceHook([&](const char* Text, bool MainThread) { heard.emplace_back(Text, MainThread); });
    FT_HANDLE handle = nullptr;
    FtOpen(0, handle);
    std::thread([&] {
        DWORD queued = 0;
        FtGetQueueStatus(handle, queued);
    }).join();
    FtClose(handle);
    FtSetTraceHook(nullptr);
    const std::vector<std::pair<std::string, bool>> expected{
        {"FT_Open", true}, {"FT_GetQueueStatus", false}, {"FT_Close", true}};
    EXPECT_EQ(heard, expected);
}

} // namespace
