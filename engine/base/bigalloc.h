// Byte buffers of a scan (bit vectors, byte-per-bit buffers, the receive
// ring) whose resize leaves new bytes as they come unless a value is given:
// a buffer that is written whole need not be zeroed first, and pages that
// are never written are never touched.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

template <typename T>
class TBigAllocator : public std::allocator<T> {
public:
    template <typename U>
    struct rebind {
        using other = TBigAllocator<U>;
    };

    TBigAllocator() noexcept = default;
    template <typename U>
    TBigAllocator(const TBigAllocator<U>&) noexcept
    {
    }

    template <typename U>
    void construct(U* P) noexcept
    {
        ::new (static_cast<void*>(P)) U;
    }
    template <typename U, typename... Args>
    void construct(U* P, Args&&... A)
    {
        ::new (static_cast<void*>(P)) U(std::forward<Args>(A)...);
    }
};

using TBigBytes = std::vector<uint8_t, TBigAllocator<uint8_t>>;
