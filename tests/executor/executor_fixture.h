// Shared by the executor tests: an executor that records its messages, a
// clock that tests drive instead of waiting, and the emulated driver loaded
// both through the binding and through its control interface.
#pragma once

#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "executor/jtag_execute.h"
#include "namedlock.h"
#include "sim_control.h"
#include "ticks.h"
#include "usb/usbplow.h"

namespace exectest {

struct TLogLine {
    std::string Text;
    MessageKind Kind;
    bool operator==(const TLogLine&) const = default;
};

inline std::ostream& operator<<(std::ostream& Out, const TLogLine& Line)
{
    return Out << "{\"" << Line.Text << "\", " << static_cast<int>(Line.Kind) << "}";
}

class TTestExecuter : public TJtagExecuter {
public:
    void Message(const std::string& Text, MessageKind Kind) override
    {
        std::lock_guard<std::mutex> guard(FLock);
        FLog.push_back({Text, Kind});
    }
    bool PrepareCable() override { return false; }

    std::vector<TLogLine> Log()
    {
        std::lock_guard<std::mutex> guard(FLock);
        return FLog;
    }
    void ClearLog()
    {
        std::lock_guard<std::mutex> guard(FLock);
        FLog.clear();
    }
    // The bytes queued and not yet written.
    std::vector<uint8_t> Queued() const { return {OutBuffer.begin(), OutBuffer.begin() + OutCount}; }

private:
    std::mutex FLock;
    std::vector<TLogLine> FLog;
};

// Time that moves only when the code under test looks at it (1 ms a look,
// so busy polls end) or sleeps (by the time asked, at once).
// A player that needs no file and whose Start fails: for tests of what
// comes before a run, since a file that cannot be played ends a start
// before any cable is looked for.
class TCableOnlyPlayer : public TJtagFile {
public:
    using TJtagFile::TJtagFile;
    static std::string FileTypeName() { return "CABLEONLY"; }
    bool Start(int32_t) override { return false; }
    FileStatus GetStatus() override { return FileStatus::Failed; }
    int32_t GetPosition() override { return 0; }
    int32_t GetSize() override { return 0; }
    void Stop() override {}
};

inline std::string CableOnlyFile()
{
    static const bool registered = (RegisterJtagFileClass(JtagFileClassOf<TCableOnlyPlayer>()), true);
    (void)registered;
    return "run.cableonly";
}

class TTestClock {
public:
    TTestClock()
    {
        platform::SetClockForTest([this] { return Now.fetch_add(1) + 1; },
                                  [this](uint32_t Ms) {
                                      Now.fetch_add(Ms);
                                      Slept.fetch_add(Ms);
                                  });
    }
    ~TTestClock() { platform::SetClockForTest({}, {}); }
    TTestClock(const TTestClock&) = delete;
    TTestClock& operator=(const TTestClock&) = delete;

    std::atomic<uint32_t> Now{0};
    std::atomic<uint64_t> Slept{0};
};

inline std::string PlainDriverFolder()
{
    return std::string(ORBESK_SIM_D2XX_DIR) + "/plain";
}

// ---- scenario text

inline std::string Hex4(unsigned Value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", Value);
    return text;
}

// One device of a kind's USB identity; Extra is more JSON members.
inline std::string Device(const TCableIdentity& Id, const std::string& Serial, const std::string& Kind,
                          const std::string& Extra = "")
{
    return "{\"vid\":\"" + Hex4(Id.Vid) + "\",\"pid\":\"" + Hex4(Id.Pid) + "\",\"serial\":\"" + Serial +
           "\",\"kind\":\"" + Kind + "\"" + (Extra.empty() ? "" : "," + Extra) + "}";
}
inline std::string Varnel(const std::string& Serial, const std::string& Extra = "")
{
    return Device(VarnelIdentity, Serial, "varnel", Extra);
}
inline std::string Mirrow(const std::string& Serial, const std::string& Extra = "")
{
    return Device(MirrowIdentity, Serial, "mirrow", Extra);
}
inline std::string Druvel(const std::string& Serial, const std::string& Extra = "")
{
    return Device(DruvelIdentity, Serial, "druvel", Extra);
}

inline std::string Scenario(const std::vector<std::string>& Devices)
{
    std::string list;
    for (const std::string& d : Devices)
        list += (list.empty() ? "" : ",") + d;
    return "{\"devices\":[" + list + "]}";
}

// The emulated driver loaded through the binding, with a search lock of
// this process alone (LockPrefix and the process id); and all of it undone.
inline bool LoadPlainDriver(const std::string& LockPrefix)
{
    FtLockSettings().Name = LockPrefix + std::to_string(getpid());
    FtLockSettings().WaitMs = 1000;
    FtUnload();
    FtSetLibraryFolder(PlainDriverFolder());
    return FtLoad();
}
inline void UnloadPlainDriver()
{
    FtUnload();
    FtSetLibraryFolder("");
    unlink(FtSearchLockPath().c_str());
    FtLockSettings() = TFtLockSettings();
}

// An executor over the emulated driver, on the test clock, with a search
// lock of this process alone.
class TExecutorTest : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(LoadPlainDriver("ORBESK_EXEC_TEST_"));
        Sim = std::make_unique<simctl::TSimLibrary>(PlainDriverFolder() + "/libftd2xx.so");
        Clock = std::make_unique<TTestClock>();
        Exec = std::make_unique<TTestExecuter>();
    }
    void TearDown() override
    {
        Exec.reset();
        Clock.reset();
        Sim.reset();
        UnloadPlainDriver();
    }

    void Load(const std::vector<std::string>& Devices) { Sim->Load(Scenario(Devices)); }

    // Starts Path and plays it to its end as a front end would: polls the
    // status, then closes the cable and frees the player.
    FileStatus PlayToEnd(const std::string& Path)
    {
        if (!Exec->OpenAndStart(Path))
            return FileStatus::Failed;
        const FileStatus status = WaitToEnd(std::chrono::seconds(60));
        Exec->CloseCable(status != FileStatus::Succeeded);
        Exec->CurrentFile.reset();
        return status;
    }

    // Polls the started run's status until it is no longer Running; GiveUp
    // guards against a hang and is no time limit of the run.
    FileStatus WaitToEnd(std::chrono::seconds GiveUp)
    {
        const auto giveUp = std::chrono::steady_clock::now() + GiveUp;
        FileStatus status;
        while ((status = Exec->CurrentFile->GetStatus()) == FileStatus::Running) {
            if (std::chrono::steady_clock::now() > giveUp) {
                ADD_FAILURE() << "the run did not end";
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return status;
    }

    // Trace lines that contain Part, in order.
    std::vector<std::string> TraceWith(const std::string& Part)
    {
        std::vector<std::string> lines;
        for (const std::string& line : Sim->Trace())
            if (line.find(Part) != std::string::npos)
                lines.push_back(line);
        return lines;
    }

    std::unique_ptr<simctl::TSimLibrary> Sim;
    std::unique_ptr<TTestClock> Clock;
    std::unique_ptr<TTestExecuter> Exec;
};

} // namespace exectest
