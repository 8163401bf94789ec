// What the emulated hardware saw, one line an event, for tests to read:
// in-process through TraceLines(), from another process through the file
// named by TraceToFile() (the d2xx layer points it at $ORBESK_SIM_TRACE),
// which then takes every line and memory none. The file is written in
// blocks and at every TraceFlush(): a fast run makes lines by the hundred
// thousand, and a write of each would cost more than the run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// Lines kept in memory when no file takes them; later ones are counted
// and TraceLines() ends with "trace-truncated dropped=N".
inline constexpr size_t MaxTraceLinesInMemory = 1000000;

// With a trace file the line goes to the file only; else to memory.
void TraceLine(const std::string& Line);
// The line Who + " " + Text, with no text of its own made for the file.
void TraceLine(std::string_view Who, std::string_view Text);
std::vector<std::string> TraceLines();
void TraceClear();
// Appends every later line to Path as well; an empty path stops that.
void TraceToFile(const std::string& Path);
// Writes out the lines the file has not had yet. The driver calls it before
// it returns or waits, so that a reader between calls sees every line.
void TraceFlush();

// A byte as trace lines show it: two upper-case hex digits.
std::string HexByte(uint8_t Byte);

} // namespace sim
