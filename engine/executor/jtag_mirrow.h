// What the Mirrow's cable routines and its RUNTEST bytes share: the TCK
// frequency table and the chunks a shift is cut into.
#pragma once

#include <cstdint>

// 30 MHz divided by MirrowDivisor[i], rounded down; index 1 (15 MHz) to 31
// (30 kHz), [0] unused.
extern const int32_t MirrowFreqTable[32];
extern const int32_t MirrowDivisor[32];
constexpr int32_t MirrowFreqIndexFirst = 1;
constexpr int32_t MirrowFreqIndexLast = 31;
// The first index whose frequency is not above Hz; 31 when none is.
int32_t MirrowFreqIndexFor(int64_t Hz);

// Clock command and its index operand: 0x14, 0x80 | index.
constexpr uint8_t MirrowClockCommand = 0x14;
constexpr uint8_t MirrowPinCommand = 0x20;
constexpr uint8_t MirrowTmsPin = 0xD8;      // | TMS << 2
constexpr uint8_t MirrowShiftCommand = 0x40; // | bits - 1; 0x48 captures
constexpr uint8_t MirrowShiftCapture = 0x08;
constexpr uint8_t MirrowDataByte = 0x80;

// The chunks of a shift of Count bits in time order: (Count - 1) mod 7
// bits first (7 when that is 0), then sevens, then the last bit alone.
// F(First, Bits, IsLast) for each; stops and returns false when F does.
template <typename F>
bool ForEachMirrowChunk(int32_t Count, F&& Chunk)
{
    const int32_t body = Count - 1;
    int32_t first = 0;
    if (body > 0) {
        int32_t n = body % 7 == 0 ? 7 : body % 7;
        while (first < body) {
            if (!Chunk(first, n, false))
                return false;
            first += n;
            n = 7;
        }
    }
    return Count <= 0 || Chunk(body, 1, true);
}
