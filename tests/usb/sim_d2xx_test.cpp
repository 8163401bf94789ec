// The emulated driver's side of the contract: what the binding and the
// cable code may rely on when it stands in for FTDI's library.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <vector>

#include "cables/protocol.h"
#include "usb_fixture.h"

namespace {

constexpr const char* TwoDevices = R"({"devices":[
    {"vid":"0x0403","pid":"0xF1A0","serial":"A6010001","description":"VARNEL","kind":"loopback","type":8},
    {"vid":"0xA600","pid":"0xA003","serial":"A6040001","busy":true}]})";

class Emulator : public usbtest::TDriverTest {
protected:
    void SetUp() override
    {
        TDriverTest::SetUp();
        LoadVariant("plain");
        Sim->Load(TwoDevices);
    }
    FT_HANDLE OpenFirst()
    {
        FT_HANDLE handle = nullptr;
        EXPECT_EQ(FtOpen(0, handle), FT_OK);
        return handle;
    }
    bool Traced(const std::string& Line)
    {
        const auto lines = Sim->Trace();
        return std::find(lines.begin(), lines.end(), Line) != lines.end();
    }
};

TEST_F(Emulator, ReportsEachDeviceAsTheScenarioDescribesIt)
{
    EXPECT_EQ(FtDeviceCount(), 2);
    FT_HANDLE handle = OpenFirst();
    FT_DEVICE type = 0;
    DWORD id = 0;
    char serial[FtInfoTextSize];
    char description[FtInfoTextSize];
    ASSERT_EQ(FtGetDeviceInfo(handle, type, id, serial, description, nullptr), FT_OK);
    EXPECT_EQ(type, 8u);
    EXPECT_EQ(id, 0x0403F1A0u);
    EXPECT_STREQ(serial, "A6010001");
    EXPECT_STREQ(description, "VARNEL");
    FtClose(handle);
}

TEST_F(Emulator, RefusesToOpenWhatIsInUseOrAbsent)
{
    FT_HANDLE first = OpenFirst();
    FT_HANDLE again = nullptr;
    EXPECT_EQ(FtOpen(0, again), FT_DEVICE_NOT_OPENED) << "already open";
    EXPECT_EQ(FtOpen(1, again), FT_DEVICE_NOT_OPENED) << "busy in another program";
    EXPECT_EQ(FtOpen(2, again), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FtOpen(-1, again), FT_DEVICE_NOT_FOUND);
    EXPECT_TRUE(Traced("d2xx open-refused A6040001 busy"));
    EXPECT_TRUE(Traced("d2xx open-refused A6010001 already open"));
    FtClose(first);
    FT_HANDLE reopened = OpenFirst();
    EXPECT_NE(reopened, first) << "handles are not reused";
    FtClose(reopened);
}

TEST_F(Emulator, CallsOnAClosedOrUnknownHandleAreProtocolErrors)
{
    FT_HANDLE closed = OpenFirst();
    ASSERT_EQ(FtClose(closed), FT_OK);
    FT_HANDLE unknown = reinterpret_cast<FT_HANDLE>(uintptr_t{0x7777});
    const TFtEntryPoints& ft = FtEntries();
    uint8_t buffer[4] = {};
    DWORD n = 0;
    UCHAR mode = 0;
    FT_DEVICE type = 0;
    char serial[FtInfoTextSize];
    char description[FtInfoTextSize];
    for (FT_HANDLE h : {closed, unknown, static_cast<FT_HANDLE>(nullptr)}) {
        const FT_STATUS results[] = {
            FtClose(h),
            FtRead(h, buffer, 4, n),
            FtWrite(h, buffer, 4, n),
            FtResetDevice(h),
            FtPurge(h, 3),
            FtGetQueueStatus(h, n),
            FtSetLatencyTimer(h, 16),
            FtGetDeviceInfo(h, type, n, serial, description, nullptr),
            FtSetTimeouts(h, 100, 100),
            FtSetBitMode(h, 0, 2),
            ft.FT_GetBitMode(h, &mode),
        };
        for (size_t i = 0; i < std::size(results); ++i)
            EXPECT_EQ(results[i], FT_INVALID_HANDLE) << "call " << i;
    }
    EXPECT_EQ(Sim->Counter("protocol_errors"), 33u);
    EXPECT_TRUE(Traced("d2xx protocol-error FT_Write on invalid handle 0x7777"));
}

TEST_F(Emulator, CallsTheSystemNeverMakesSucceedAndAreCounted)
{
    FT_HANDLE handle = OpenFirst();
    const TFtEntryPoints& ft = FtEntries();
    DWORD n = 0;
    EXPECT_EQ(ft.FT_SetUSBParameters(handle, 4096, 4096), FT_OK);
    EXPECT_EQ(ft.FT_CreateDeviceInfoList(&n), FT_OK);
    EXPECT_EQ(ft.FT_GetDeviceInfoList(nullptr, &n), FT_OK);
    EXPECT_EQ(ft.FT_SetBaudRate(handle, 9600), FT_OK);
    EXPECT_EQ(ft.FT_GetDriverVersion(handle, &n), FT_OK);
    EXPECT_EQ(ft.FT_StopInTask(handle), FT_OK);
    EXPECT_EQ(ft.FT_RestartInTask(handle), FT_OK);
    EXPECT_EQ(ft.FT_RestartInTask(handle), FT_OK);
    for (const char* name : {"FT_SetUSBParameters", "FT_CreateDeviceInfoList", "FT_GetDeviceInfoList",
                             "FT_SetBaudRate", "FT_GetDriverVersion", "FT_StopInTask"})
        EXPECT_EQ(Sim->Counter(name), 1u) << name;
    EXPECT_EQ(Sim->Counter("FT_RestartInTask"), 2u);
    FtClose(handle);
}

TEST_F(Emulator, ReadReturnsWhatIsThereWithoutWaiting)
{
    FT_HANDLE handle = OpenFirst();
    uint8_t in[16];
    DWORD read = 99;
    EXPECT_EQ(FtRead(handle, in, 16, read), FT_OK);
    EXPECT_EQ(read, 0u);
    const uint8_t out[] = {1, 2, 3, 4, 5};
    DWORD written = 0;
    FtWrite(handle, out, 5, written);
    EXPECT_EQ(FtRead(handle, in, 2, read), FT_OK);
    EXPECT_EQ(read, 2u);
    DWORD queued = 0;
    FtGetQueueStatus(handle, queued);
    EXPECT_EQ(queued, 3u);
    EXPECT_EQ(FtPurge(handle, 1), FT_OK);
    FtGetQueueStatus(handle, queued);
    EXPECT_EQ(queued, 0u) << "purge of the receive side";
    FtClose(handle);
}

TEST_F(Emulator, DeviceFaultsFailTheCallsWithIoError)
{
    Sim->Load(R"({"devices":[
        {"vid":1027,"pid":61856,"serial":"A6010001","kind":"loopback","fail_writes":true},
        {"vid":1027,"pid":61856,"serial":"A6010002","kind":"loopback","unplug_after_writes":1},
        {"vid":1027,"pid":61856,"serial":"A6010003","kind":"loopback","fail_reads":true}]})");
    FT_HANDLE failing = nullptr;
    FT_HANDLE unplugging = nullptr;
    FT_HANDLE unreadable = nullptr;
    ASSERT_EQ(FtOpen(0, failing), FT_OK);
    ASSERT_EQ(FtOpen(1, unplugging), FT_OK);
    ASSERT_EQ(FtOpen(2, unreadable), FT_OK);
    const uint8_t out[] = {0x55};
    DWORD written = 7;
    EXPECT_EQ(FtWrite(failing, out, 1, written), FT_IO_ERROR);
    EXPECT_EQ(written, 0u);

    EXPECT_EQ(FtWrite(unreadable, out, 1, written), FT_OK);
    DWORD queued = 0;
    uint8_t back[1];
    EXPECT_EQ(FtGetQueueStatus(unreadable, queued), FT_IO_ERROR);
    EXPECT_EQ(FtRead(unreadable, back, 1, queued), FT_IO_ERROR);
    EXPECT_EQ(FtClose(unreadable), FT_OK);

    EXPECT_EQ(FtWrite(unplugging, out, 1, written), FT_OK);
    DWORD n = 0;
    UCHAR mode = 0;
    EXPECT_EQ(FtWrite(unplugging, out, 1, written), FT_IO_ERROR);
    EXPECT_EQ(FtGetQueueStatus(unplugging, n), FT_IO_ERROR);
    uint8_t in[4];
    EXPECT_EQ(FtRead(unplugging, in, 4, n), FT_IO_ERROR);
    EXPECT_EQ(FtSetBitMode(unplugging, 0, 2), FT_IO_ERROR);
    EXPECT_EQ(FtGetBitMode(unplugging, mode), FT_IO_ERROR);
    EXPECT_EQ(FtClose(unplugging), FT_OK) << "an unplugged device can still be let go";
    EXPECT_EQ(FtOpen(1, unplugging), FT_DEVICE_NOT_FOUND);
    EXPECT_EQ(FtClose(failing), FT_OK);
    EXPECT_EQ(Sim->Counter("protocol_errors"), 0u) << "device faults are not the host's errors";
}

TEST_F(Emulator, CountsCallsUnderTheirPlainNamesInEveryVariant)
{
    LoadVariant("lin", "liblin_ftd2xx.so");
    Sim->Load(TwoDevices);
    EXPECT_EQ(FtDeviceCount(), 2);
    std::vector<int32_t> serials;
    FindDevices(0x0403, 0xF1A0, "A601????", -1, nullptr, serials);
    EXPECT_EQ(serials, std::vector<int32_t>{0x010001});
    EXPECT_EQ(Sim->Counter("FT_ListDevices"), 2u);
    EXPECT_EQ(Sim->Counter("FT_SetVIDPID"), 1u);
    EXPECT_EQ(Sim->Counter("FT_Open"), 2u);
    EXPECT_EQ(Sim->Counter("FT_Close"), 1u);
}

TEST_F(Emulator, RefusesAMalformedScenarioWithItsReason)
{
    const struct {
        const char* Json;
        const char* Reason;
    } cases[] = {
        {"{\"devices\":[", "bad JSON"},
        {"{\"devices\":{}}", "devices: must be an array"},
        {"{\"devices\":[{\"pid\":1}]}", "devices[0]: has no \"vid\""},
        {"{\"devices\":[{\"vid\":\"0x10000\",\"pid\":1}]}", "devices[0].vid: out of range"},
        {"{\"devices\":[{\"vid\":\"0xZZ\",\"pid\":1}]}", "devices[0].vid: bad digit"},
        {"{\"devices\":[{\"vid\":-1,\"pid\":1}]}", "devices[0].vid: negative value"},
        {"{\"devices\":[{\"vid\":true,\"pid\":1}]}", "devices[0].vid: a number or a hex string is wanted"},
        {"{\"devices\":[{\"vid\":1,\"pid\":1,\"busy\":\"yes\"}]}", "devices[0].busy: must be true or false"},
        {"{\"devices\":[{\"vid\":1,\"pid\":1,\"serial\":5}]}", "devices[0].serial: must be a text"},
        {"/nonexistent/scenario.json", "cannot read"},
    };
    for (const auto& c : cases) {
        const std::string error = Sim->TryLoad(c.Json);
        EXPECT_NE(error.find(c.Reason), std::string::npos) << c.Json << " -> " << error;
        EXPECT_EQ(FtDeviceCount(), 0) << "a refused scenario leaves no devices";
    }
}

TEST_F(Emulator, GivesTestsTheProtocolOfEachScenarioDevice)
{
    FT_HANDLE handle = OpenFirst();
    const uint8_t out[] = {1, 2};
    DWORD written = 0;
    FtWrite(handle, out, 2, written);
    auto* device = static_cast<sim::Protocol*>(Sim->Protocol(0));
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(device->Available(), 2u);
    EXPECT_NE(Sim->Protocol(1), nullptr) << "busy devices have one too";
    EXPECT_EQ(Sim->Protocol(2), nullptr);
    FtClose(handle);
}

TEST_F(Emulator, ExtraKeysOfADeviceAreLeftToItsProtocol)
{
    EXPECT_EQ(Sim->TryLoad(R"({"devices":[{"vid":1,"pid":2,"serial":"S","chain":[{"idcode":"0x12345678"}],
                              "faults":{"drop":3}}],"comment":"x"})"),
              "");
    EXPECT_EQ(FtDeviceCount(), 1);
}

TEST_F(Emulator, ResetReadsTheScenarioAndTraceFileFromTheEnvironment)
{
    const std::string trace = ::testing::TempDir() + "orbesk_sim_trace_" + std::to_string(getpid());
    std::remove(trace.c_str());
    setenv("ORBESK_SIM_SCENARIO", R"({"devices":[{"vid":1,"pid":2,"serial":"ENV1"}]})", 1);
    setenv("ORBESK_SIM_TRACE", trace.c_str(), 1);
    const auto fileLines = [&trace] {
        std::ifstream file(trace);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);)
            lines.push_back(line);
        return lines;
    };
    EXPECT_EQ(Sim->Reset(), "");
    FT_HANDLE handle = OpenFirst();
    // In the file once the call has returned: another process reads it
    // while the program runs, or after it was killed.
    EXPECT_EQ(fileLines(), (std::vector<std::string>{"d2xx open ENV1 index 0 handle 0x1"}));
    FtClose(handle);
    unsetenv("ORBESK_SIM_SCENARIO");
    unsetenv("ORBESK_SIM_TRACE");
    EXPECT_EQ(Sim->Reset(), "");
    EXPECT_EQ(FtDeviceCount(), 0) << "no scenario named: no devices";

    EXPECT_EQ(fileLines(), (std::vector<std::string>{"d2xx open ENV1 index 0 handle 0x1", "d2xx close ENV1"}));
    std::remove(trace.c_str());
}

} // namespace

namespace {

struct TProbeRun {
    int Status = -1;
    std::string Printed; // the Varnels it found
};

// The probe program with the emulator's scenario and trace file (and this
// process's environment otherwise); killed when it takes over a minute.
TProbeRun RunProbe(const std::string& Scenario, const std::string& Trace)
{
    int out[2];
    if (pipe(out) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], 1);
        close(out[0]);
        setenv("ORBESK_SIM_SCENARIO", Scenario.c_str(), 1);
        setenv("ORBESK_SIM_TRACE", Trace.c_str(), 1);
        alarm(60);
        execl(USB_PROBE, USB_PROBE, usbtest::VariantFolder("plain").c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    TProbeRun run;
    char buffer[256];
    for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;)
        run.Printed.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.Status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

// A program run with the emulator's environment variables, as the
// end-to-end tests run the real programs: it finds the scenario's devices,
// and the trace file shows what it did.
TEST(EmulatorInAnotherProcess, TakesItsScenarioFromTheEnvironmentAndWritesTheTrace)
{
    const std::string base = ::testing::TempDir() + "orbesk_probe_" + std::to_string(getpid());
    const std::string scenario = base + ".json";
    const std::string trace = base + ".trace";
    std::remove(trace.c_str());
    std::ofstream(scenario) << R"({"devices":[
        {"vid":"0x0403","pid":"0x6001","serial":"FT000001"},
        {"vid":"0403","pid":"F1A0","serial":"A6012345"}]})";

    const TProbeRun run = RunProbe(scenario, trace);
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Printed, "012345\n");

    std::ifstream file(trace);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);)
        lines.push_back(line);
    EXPECT_EQ(lines, (std::vector<std::string>{"d2xx open FT000001 index 0 handle 0x1", "d2xx close FT000001",
                                               "d2xx open A6012345 index 1 handle 0x2", "d2xx close A6012345"}));
    std::remove(trace.c_str());
    std::remove(scenario.c_str());
}

// A device open in this process is held for every other one, as real
// hardware is, until it is closed here.
TEST_F(Emulator, ADeviceOpenHereIsRefusedToAnotherProcess)
{
    const std::string base = ::testing::TempDir() + "orbesk_held_" + std::to_string(getpid());
    const std::string trace = base + ".trace";
    std::remove(trace.c_str());
    const char* saved = std::getenv("ORBESK_SIM_LOCK_DIR");
    const std::optional<std::string> lockDir = saved ? std::optional<std::string>(saved) : std::nullopt;
    setenv("ORBESK_SIM_LOCK_DIR", (base + "_locks").c_str(), 1);
    Sim->Load(TwoDevices);
    FT_HANDLE handle = OpenFirst();
    const TProbeRun held = RunProbe(TwoDevices, trace);
    EXPECT_EQ(held.Status, 0);
    EXPECT_EQ(held.Printed, "");
    std::ifstream file(trace);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find("d2xx open-refused A6010001 open in another process"), std::string::npos) << text;

    FtClose(handle);
    EXPECT_EQ(RunProbe(TwoDevices, trace).Printed, "010001\n");

    // One device listed twice is two devices: both open here.
    Sim->Load(R"({"devices":[{"vid":"0x0403","pid":"0xF1A0","serial":"A6010001"},
                             {"vid":"0x0403","pid":"0xF1A0","serial":"A6010001"}]})");
    FT_HANDLE first = nullptr;
    FT_HANDLE second = nullptr;
    EXPECT_EQ(FtOpen(0, first), FT_OK);
    EXPECT_EQ(FtOpen(1, second), FT_OK);
    FtClose(first);
    FtClose(second);
    if (lockDir)
        setenv("ORBESK_SIM_LOCK_DIR", lockDir->c_str(), 1);
    else
        unsetenv("ORBESK_SIM_LOCK_DIR");
    std::remove(trace.c_str());
    std::filesystem::remove_all(base + "_locks");
}

} // namespace
