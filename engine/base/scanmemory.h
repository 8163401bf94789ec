// What a scan costs in memory, asked before its buffers exist: a file may
// ask for a scan of 2^31 - 1 bits, and a run must be refused or end with an
// error, not be killed by the system.
#pragma once

#include <cstdint>
#include <string>

// Bytes a scan of so many bits takes at its peak: the shift's and the
// read-back's byte per bit (two buffers, one side at a time), the cable's
// replies in the receive ring (at most one per bit), and the bit vectors of
// the parsers (about two bits per bit each).
constexpr int64_t BytesPerScanBit = 5;

// Whether the memory available now can hold a scan of Bits bits.
bool ScanFitsInMemory(int64_t Bits);
// "Scan of N bits would need X MB of memory, Y MB are available".
std::string ScanMemoryText(int64_t Bits);
