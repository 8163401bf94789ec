// Shared by the fuzz targets: the input as a file the players can open by
// name, a cap on the process's memory, and the check that stops the run on
// a finding.
#pragma once

#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ORBESK_FUZZ_ASAN 1
#endif
#endif

namespace fuzz {

// The input as an in-memory file, reopened by name for every object that
// reads it (the players open the file once per parser).
inline std::string InputFile(const uint8_t* Data, size_t Size)
{
    static const int fd = memfd_create("orbesk-fuzz-input", 0);
    if (fd < 0) {
        std::perror("memfd_create");
        std::abort();
    }
    if (ftruncate(fd, 0) != 0 || (Size > 0 && pwrite(fd, Data, Size, 0) != static_cast<ssize_t>(Size))) {
        std::perror("input file");
        std::abort();
    }
    return "/proc/self/fd/" + std::to_string(fd);
}

// Without the address sanitizer (whose shadow memory needs the address
// space), the process may take at most this much: a file that asks for more
// must end its run with an error, not take the machine.
inline void LimitMemory(uint64_t Bytes)
{
#ifndef ORBESK_FUZZ_ASAN
    rlimit limit{Bytes, Bytes};
    setrlimit(RLIMIT_AS, &limit);
#else
    (void)Bytes;
#endif
}

// A finding: the text goes to standard error and the run stops, so the
// fuzzer keeps the input.
[[noreturn]] inline void Finding(const std::string& Text)
{
    std::fprintf(stderr, "FINDING: %s\n", Text.c_str());
    std::fflush(stderr);
    std::abort();
}

} // namespace fuzz
