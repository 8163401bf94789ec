// For tests: one build of the emulated driver, opened by its path, and its
// control interface. dlopen of the same path hands out the instance that
// the binding under test loads, so both see one device list.
#pragma once

#include <dlfcn.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "orbesk_sim.h"

namespace simctl {

class TSimLibrary {
public:
    explicit TSimLibrary(const std::string& Path) : Handle(dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL))
    {
        if (!Handle)
            throw std::runtime_error("cannot load " + Path + ": " + dlerror());
        Bind(LoadFn, "orbesk_sim_load_scenario");
        Bind(ResetFn, "orbesk_sim_reset");
        Bind(ErrorFn, "orbesk_sim_last_error");
        Bind(CounterFn, "orbesk_sim_counter");
        Bind(TraceFn, "orbesk_sim_trace");
        Bind(ClearFn, "orbesk_sim_trace_clear");
        Bind(ProtocolFn, "orbesk_sim_protocol");
    }
    ~TSimLibrary() { dlclose(Handle); }
    TSimLibrary(const TSimLibrary&) = delete;
    TSimLibrary& operator=(const TSimLibrary&) = delete;

    // Throws with the emulator's reason when the scenario is refused.
    void Load(const std::string& PathOrJson)
    {
        if (LoadFn(PathOrJson.c_str()) != 0)
            throw std::runtime_error(ErrorFn());
    }
    // The error text, empty when the scenario was accepted.
    std::string TryLoad(const std::string& PathOrJson) { return LoadFn(PathOrJson.c_str()) == 0 ? "" : ErrorFn(); }
    std::string Reset() { return ResetFn() == 0 ? "" : ErrorFn(); }
    unsigned long long Counter(const std::string& Name) { return CounterFn(Name.c_str()); }
    std::vector<std::string> Trace()
    {
        std::string text(TraceFn(nullptr, 0) + 1, '\0');
        text.resize(std::min(TraceFn(text.data(), text.size()), text.size() - 1));
        std::vector<std::string> lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);)
            lines.push_back(line);
        return lines;
    }
    void ClearTrace() { ClearFn(); }
    // A sim::Protocol* (see orbesk_sim.h); void here so that this header
    // needs nothing of the sim core.
    void* Protocol(size_t Index) { return ProtocolFn(Index); }
    void* Symbol(const char* Name) { return dlsym(Handle, Name); }

private:
    template <typename F>
    void Bind(F& Fn, const char* Name)
    {
        Fn = reinterpret_cast<F>(dlsym(Handle, Name));
        if (!Fn)
            throw std::runtime_error(std::string("emulator lacks ") + Name);
    }

    void* Handle;
    int (*LoadFn)(const char*) = nullptr;
    int (*ResetFn)() = nullptr;
    const char* (*ErrorFn)() = nullptr;
    unsigned long long (*CounterFn)(const char*) = nullptr;
    size_t (*TraceFn)(char*, size_t) = nullptr;
    void (*ClearFn)() = nullptr;
    void* (*ProtocolFn)(size_t) = nullptr;
};

} // namespace simctl
