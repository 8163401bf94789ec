#include "scenario/trace.h"

#include <cstdio>
#include <fstream>
#include <mutex>

namespace sim {

namespace {

std::mutex Lock;
std::vector<std::string> Lines;
std::ofstream File;

} // namespace

void TraceLine(const std::string& Line)
{
    std::lock_guard<std::mutex> guard(Lock);
    Lines.push_back(Line);
    if (File.is_open())
        File << Line << '\n' << std::flush;
}

std::vector<std::string> TraceLines()
{
    std::lock_guard<std::mutex> guard(Lock);
    return Lines;
}

void TraceClear()
{
    std::lock_guard<std::mutex> guard(Lock);
    Lines.clear();
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
