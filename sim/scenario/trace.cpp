#include "scenario/trace.h"

#include <cstdio>
#include <fstream>
#include <initializer_list>
#include <mutex>

namespace sim {

namespace {

std::mutex Lock;
std::vector<std::string> Lines;
uint64_t Dropped = 0;
std::ofstream File;
// Lines for the file not yet handed to it: a write per block, not per line
// (a run of the emulator traces tens of thousands); flushed with the file.
std::string Pending;
constexpr size_t PendingBlock = 8192;

void WritePending()
{
    if (Pending.empty())
        return;
    File.write(Pending.data(), static_cast<std::streamsize>(Pending.size()));
    Pending.clear();
}

} // namespace

namespace {

// The line made of Parts.
void Keep(std::initializer_list<std::string_view> Parts)
{
    std::lock_guard<std::mutex> guard(Lock);
    // With a file the trace goes there alone: a long run writes more than
    // memory would hold.
    if (File.is_open()) {
        for (std::string_view part : Parts)
            Pending += part;
        Pending += '\n';
        if (Pending.size() >= PendingBlock)
            WritePending();
        return;
    }
    if (Lines.size() >= MaxTraceLinesInMemory) {
        ++Dropped;
        return;
    }
    std::string line;
    for (std::string_view part : Parts)
        line += part;
    Lines.push_back(std::move(line));
}

} // namespace

void TraceLine(const std::string& Line)
{
    Keep({Line});
}

void TraceLine(std::string_view Who, std::string_view Text)
{
    Keep({Who, " ", Text});
}

void TraceFlush()
{
    std::lock_guard<std::mutex> guard(Lock);
    if (File.is_open()) {
        WritePending();
        File.flush();
    }
}

std::vector<std::string> TraceLines()
{
    std::lock_guard<std::mutex> guard(Lock);
    std::vector<std::string> lines = Lines;
    if (Dropped > 0)
        lines.push_back("trace-truncated dropped=" + std::to_string(Dropped));
    return lines;
}

void TraceClear()
{
    std::lock_guard<std::mutex> guard(Lock);
    Lines.clear();
    Dropped = 0;
}

void TraceToFile(const std::string& Path)
{
    std::lock_guard<std::mutex> guard(Lock);
    if (File.is_open()) {
        WritePending();
        File.close();
    }
    if (!Path.empty())
        File.open(Path, std::ios::app);
}

std::string HexByte(uint8_t Byte)
{
    char text[4];
    std::snprintf(text, sizeof text, "%02X", Byte);
    return text;
}

} // namespace sim
