// Byte buffers of a scan (bit vectors, byte-per-bit buffers, the receive
// ring): a resize without a value leaves the new bytes as they come, so a
// buffer that is written whole is not zeroed first, and pages that are never
// written are never touched; fills and copies go by memset and memcpy.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

class TBigBytes {
public:
    TBigBytes() = default;
    TBigBytes(const TBigBytes& Other) { *this = Other; }
    TBigBytes(TBigBytes&& Other) noexcept : FData(Other.FData), FSize(Other.FSize), FCapacity(Other.FCapacity)
    {
        Other.FData = nullptr;
        Other.FSize = Other.FCapacity = 0;
    }
    ~TBigBytes() { std::free(FData); }

    // Copies into the storage this buffer has, when it is large enough.
    TBigBytes& operator=(const TBigBytes& Other)
    {
        if (this != &Other) {
            if (Other.FSize > FCapacity)
                Reallocate(Other.FSize, false);
            FSize = Other.FSize;
            if (FSize > 0)
                std::memcpy(FData, Other.FData, FSize);
        }
        return *this;
    }
    TBigBytes& operator=(TBigBytes&& Other) noexcept
    {
        if (this != &Other) {
            std::free(FData);
            FData = Other.FData;
            FSize = Other.FSize;
            FCapacity = Other.FCapacity;
            Other.FData = nullptr;
            Other.FSize = Other.FCapacity = 0;
        }
        return *this;
    }

    size_t size() const { return FSize; }
    size_t capacity() const { return FCapacity; }
    uint8_t* data() { return FData; }
    const uint8_t* data() const { return FData; }
    uint8_t& operator[](size_t Index) { return FData[Index]; }
    const uint8_t& operator[](size_t Index) const { return FData[Index]; }
    uint8_t* begin() { return FData; }
    uint8_t* end() { return FData + FSize; }
    const uint8_t* begin() const { return FData; }
    const uint8_t* end() const { return FData + FSize; }

    // New bytes as they come.
    void resize(size_t Size)
    {
        if (Size > FCapacity)
            Reallocate(Size, true);
        FSize = Size;
    }
    // New bytes set to Value.
    void resize(size_t Size, uint8_t Value)
    {
        const size_t old = FSize;
        resize(Size);
        if (Size > old)
            std::memset(FData + old, Value, Size - old);
    }
    // An empty buffer gives its storage back.
    void shrink_to_fit()
    {
        if (FSize == 0) {
            std::free(FData);
            FData = nullptr;
            FCapacity = 0;
        }
    }

private:
    void Reallocate(size_t Capacity, bool KeepBytes)
    {
        if (Capacity > static_cast<size_t>(PTRDIFF_MAX))
            throw std::bad_alloc();
        auto* bytes = static_cast<uint8_t*>(std::malloc(Capacity));
        if (!bytes)
            throw std::bad_alloc();
        if (KeepBytes && FSize > 0)
            std::memcpy(bytes, FData, FSize);
        std::free(FData);
        FData = bytes;
        FCapacity = Capacity;
    }

    uint8_t* FData = nullptr;
    size_t FSize = 0;
    size_t FCapacity = 0;
};
