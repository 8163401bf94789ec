#include "dynlib.h"

#include <dlfcn.h>

#include "progpath.h"

namespace platform {

namespace {

TLibHandle Open(const std::string& Path)
{
    // RTLD_NOW: a library with unresolved dependencies is refused here,
    // not at its first call. RTLD_LOCAL: its symbols stay its own.
    return dlopen(Path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

} // namespace

TLibHandle LoadLib(const std::string& Name)
{
    if (Name.empty())
        return nullptr;
    if (Name.find('/') != std::string::npos)
        return Open(Name);
    const std::string folder = ProgramFolder();
    if (!folder.empty())
        if (TLibHandle lib = Open(folder + "/" + Name))
            return lib;
    return Open(Name);
}

void* LibSymbol(TLibHandle Lib, const std::string& Symbol)
{
    if (!Lib)
        return nullptr;
    return dlsym(Lib, Symbol.c_str());
}

void FreeLib(TLibHandle Lib)
{
    if (Lib)
        dlclose(Lib);
}

std::string ProgramFolder()
{
    const std::string exe = ProgramFilePath();
    const size_t slash = exe.rfind('/');
    if (slash == std::string::npos)
        return {};
    return slash == 0 ? std::string("/") : exe.substr(0, slash);
}

} // namespace platform
