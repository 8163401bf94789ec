// Variable-length bit vector: bit n lives in byte n / 8 at bit n % 8, least
// significant bit first; bit 0 is the first bit shifted into the chain.
#pragma once

#include <cstdint>
#include <vector>

#include "base/bigalloc.h"

class TVarLen {
public:
    TVarLen() = default;
    static TVarLen CreateSized(int32_t Bits);
    static TVarLen CreateCopy(const TVarLen& Source);
    // A length without bytes, as DropBytes leaves one: for a reader that
    // follows sizes only.
    static TVarLen LengthOnly(int32_t Bits);

    int32_t BitLength() const { return FBitLength; }
    // Keeps the first min(old, new) bytes; bytes added by growth are 0.
    // Bits above the length in the last byte are kept as they are.
    void SetBitLength(int32_t Bits);
    int32_t ByteLength() const { return static_cast<int32_t>(FBytes.size()); }

    // Out-of-range reads give 0 and out-of-range writes are ignored, so a
    // player may address bits past the vector without checking.
    uint8_t GetByte(int32_t Index) const;
    void SetByte(int32_t Index, uint8_t Value);
    // Bit Index; 0 outside the vector's bytes.
    bool GetBit(int32_t Index) const { return Index >= 0 && ((GetByte(Index / 8) >> (Index % 8)) & 1); }

    void FillOnes();
    void FillZeros();

    // The stored bytes, ByteLength() of them.
    uint8_t* Data() { return FBytes.data(); }
    const uint8_t* Data() const { return FBytes.data(); }
    // Keeps the bit length and gives back the bytes: every bit then reads 0
    // and ByteLength() is 0, until the next SetBitLength.
    void DropBytes();

    // Bit i as Out[i], 0 or 1, for the first Count bits (at most the length).
    void BitsToBytes(uint8_t* Out, int32_t Count) const;

private:
    TBigBytes FBytes;
    int32_t FBitLength = 0;
};
