// Run-time loading of shared libraries (the driver library is not linked).
#pragma once

#include <string>

namespace platform {

using TLibHandle = void*;

// A bare name is looked up in the program's own folder first, then by the
// dynamic loader's usual search path; a name with a '/' is that file only.
// Null when the library cannot be loaded.
TLibHandle LoadLib(const std::string& Name);
// Null when the library does not export the symbol.
void* LibSymbol(TLibHandle Lib, const std::string& Symbol);
void FreeLib(TLibHandle Lib);

// The folder of the running program, without a trailing '/'; empty when
// the system does not tell.
std::string ProgramFolder();

} // namespace platform
