// Shared by the driver binding tests: the emulated driver's build variants,
// a fixture that loads one of them both through the binding and through
// the emulator's control interface, and another process that holds a lock.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "namedlock.h"
#include "sim_control.h"
#include "usb/usbplow.h"

namespace usbtest {

inline std::string VariantFolder(const std::string& Variant)
{
    return std::string(ORBESK_SIM_D2XX_DIR) + "/" + Variant;
}

// A lock of this test process alone, so that parallel test programs do not
// wait for each other, and a short wait.
inline void UsePrivateLock(uint32_t WaitMs)
{
    FtLockSettings().Name = "ORBESK_TEST_" + std::to_string(getpid());
    FtLockSettings().Folder = "";
    FtLockSettings().WaitMs = WaitMs;
}

// Loads one variant through the binding (libftd2xx.so of its folder) and
// reaches the same instance's control interface.
class TDriverTest : public testing::Test {
protected:
    void LoadVariant(const std::string& Variant, const std::string& File = "libftd2xx.so")
    {
        FtUnload();
        FtSetLibraryFolder(VariantFolder(Variant));
        ASSERT_TRUE(FtLoad());
        Sim = std::make_unique<simctl::TSimLibrary>(VariantFolder(Variant) + "/" + File);
    }
    void SetUp() override { UsePrivateLock(100); }
    void TearDown() override
    {
        Sim.reset();
        FtUnload();
        FtSetLibraryFolder("");
        unlink(FtSearchLockPath().c_str());
        FtLockSettings() = TFtLockSettings();
    }

    std::unique_ptr<simctl::TSimLibrary> Sim;
};

// Another process that takes a lock and keeps it until it is killed.
class THolderProcess {
public:
    THolderProcess(const std::string& Name, const std::string& Folder = platform::NamedLockFolder())
    {
        int ready[2];
        if (pipe(ready) != 0)
            throw std::runtime_error("pipe");
        Pid = fork();
        if (Pid == 0) {
            close(ready[0]);
            platform::TNamedLock lock(Name, Folder);
            const char ok = lock.Wait(5000) == platform::TLockWait::Acquired ? '1' : '0';
            (void)!write(ready[1], &ok, 1);
            for (;;)
                pause();
        }
        close(ready[1]);
        char ok = 0;
        Held = read(ready[0], &ok, 1) == 1 && ok == '1';
        close(ready[0]);
    }
    ~THolderProcess() { Kill(); }
    THolderProcess(const THolderProcess&) = delete;
    THolderProcess& operator=(const THolderProcess&) = delete;

    bool Held = false;
    // SIGKILL: the process gets no chance to release anything itself.
    void Kill()
    {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            waitpid(Pid, nullptr, 0);
            Pid = -1;
        }
    }

private:
    pid_t Pid = -1;
};

// What a fresh process gets when it asks for the lock with this wait.
inline platform::TLockWait WaitFromOtherProcess(const std::string& Name, uint32_t WaitMs,
                                                const std::string& Folder = platform::NamedLockFolder())
{
    const pid_t pid = fork();
    if (pid == 0) {
        platform::TNamedLock lock(Name, Folder);
        _exit(static_cast<int>(lock.Wait(WaitMs)));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return static_cast<platform::TLockWait>(WEXITSTATUS(status));
}

} // namespace usbtest
