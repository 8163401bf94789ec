#include "scenario/trace.h"

#include <cstdio>
#include <fstream>
#include <mutex>

namespace sim {

namespace {

std::mutex Lock;
std::vector<std::string> Lines;
uint64_t Dropped = 0;
std::ofstream File;

} // namespace

void TraceLine(const std::string& Line)
{
    std::lock_guard<std::mutex> guard(Lock);
    // With a file the trace goes there alone: a long run writes more than
    // memory would hold.
    if (File.is_open()) {
        File << Line << '\n';
        return;
    }
    if (Lines.size() < MaxTraceLinesInMemory)
        Lines.push_back(Line);
    else
        ++Dropped;
}

void TraceFlush()
{
    std::lock_guard<std::mutex> guard(Lock);
    if (File.is_open())
        File.flush();
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
    if (File.is_open())
        File.close();
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
