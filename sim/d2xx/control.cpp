#include <cstring>
#include <mutex>
#include <string>

#include "driver.h"
#include "orbesk_sim.h"
#include "scenario/trace.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::mutex ErrorLock;
std::string LastError;

int Result(bool Ok, const std::string& Error)
{
    std::lock_guard<std::mutex> guard(ErrorLock);
    LastError = Ok ? std::string() : Error;
    return Ok ? 0 : -1;
}

} // namespace

SIM_EXPORT int orbesk_sim_load_scenario(const char* PathOrJson)
{
    std::string error;
    const bool ok = simd2xx::LoadScenario(PathOrJson ? PathOrJson : "", error);
    return Result(ok, error);
}

SIM_EXPORT int orbesk_sim_reset(void)
{
    std::string error;
    const bool ok = simd2xx::ResetFromEnvironment(error);
    return Result(ok, error);
}

SIM_EXPORT const char* orbesk_sim_last_error(void)
{
    std::lock_guard<std::mutex> guard(ErrorLock);
    return LastError.c_str();
}

SIM_EXPORT unsigned long long orbesk_sim_counter(const char* Name)
{
    return Name ? simd2xx::Counter(Name) : 0;
}

SIM_EXPORT void* orbesk_sim_protocol(size_t Index)
{
    return simd2xx::DeviceProtocol(Index);
}

SIM_EXPORT size_t orbesk_sim_trace(char* Buffer, size_t Size)
{
    std::string text;
    for (const std::string& line : sim::TraceLines())
        text += line + '\n';
    if (Buffer && Size > 0) {
        const size_t n = std::min(text.size(), Size - 1);
        std::memcpy(Buffer, text.data(), n);
        Buffer[n] = '\0';
    }
    return text.size();
}

SIM_EXPORT void orbesk_sim_trace_clear(void)
{
    sim::TraceClear();
}
