#include "ticks.h"

#include <chrono>
#include <thread>

namespace platform {

namespace {

std::function<uint32_t()> TestTicks;
std::function<void(uint32_t)> TestSleep;

} // namespace

uint32_t GetTickCount()
{
    if (TestTicks)
        return TestTicks();
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void Sleep(uint32_t Milliseconds)
{
    if (TestSleep) {
        TestSleep(Milliseconds);
        return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

void SetClockForTest(std::function<uint32_t()> Ticks, std::function<void(uint32_t)> SleepFn)
{
    TestTicks = std::move(Ticks);
    TestSleep = std::move(SleepFn);
}

} // namespace platform
