// How much more memory this process may take: what the system has
// available, within the cgroup's limit and the address-space limit
// (ulimit -v), with a seam so tests can set it.
#pragma once

#include <cstdint>
#include <optional>

namespace platform {

uint64_t AvailableMemory();

// Replaces the figure for the whole process; nullopt restores the real one.
void SetAvailableMemoryForTest(std::optional<uint64_t> Bytes);

} // namespace platform
