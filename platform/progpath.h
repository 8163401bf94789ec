// Where the running program's file is, for the files that live beside it.
#pragma once

#include <string>

namespace platform {

// The full path of the running program's file; empty when the system does
// not tell.
std::string ProgramFilePath();

} // namespace platform
