// Variable-length bit vector: bit n lives in byte n / 8 at bit n % 8, least
// significant bit first; bit 0 is the first bit shifted into the chain.
#pragma once

#include <cstdint>
#include <vector>

class TVarLen {
public:
    TVarLen() = default;
    static TVarLen CreateSized(int32_t Bits);
    static TVarLen CreateCopy(const TVarLen& Source);

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

private:
    std::vector<uint8_t> FBytes;
    int32_t FBitLength = 0;
};
