// An allocator for the large arrays of a run (count tables, the engine's
// runs, the exact sums' working arrays): a block of at least 4 MB starts on a
// 2 MB boundary and is offered to the kernel for transparent huge pages;
// smaller blocks are std::allocator's. Where the system gives them on request (Linux's
// usual "madvise" setting), touching such an array takes one page fault per
// 2 MB instead of one per 4 KB; on a virtual machine a fault costs some
// microseconds, and a genome's table is hundreds of megabytes. Elsewhere it is
// std::allocator.
#pragma once

#include <cstddef>
#include <memory>
#include <new>
#include <vector>

// Blocks of at least hugebytes bytes are aligned to hugealign and advised.
constexpr std::size_t hugealign = std::size_t{1} << 21;
constexpr std::size_t hugebytes = 2 * hugealign;

// Asks for huge pages on the whole 2 MB stretches of [p, p + bytes); nothing
// where the system has no such request.
void advisehuge(void* p, std::size_t bytes);

template <typename T>
struct hugealloc {
    using value_type = T;

    hugealloc() = default;
    template <typename U>
    explicit hugealloc(const hugealloc<U>& /*other*/) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (n < hugebytes / sizeof(T))
            return std::allocator<T>().allocate(n);
        // n * sizeof(T) does not wrap: containers ask for at most
        // allocator_traits' max_size, SIZE_MAX / sizeof(T).
        void* p = ::operator new (n * sizeof(T), std::align_val_t{hugealign});
        advisehuge(p, n * sizeof(T));
        return static_cast<T*>(p);
    }
    void deallocate(T* p, std::size_t n) noexcept
    {
        if (n < hugebytes / sizeof(T))
            std::allocator<T>().deallocate(p, n);
        else
            ::operator delete (p, std::align_val_t{hugealign});
    }

    friend bool operator==(const hugealloc& /*a*/, const hugealloc& /*b*/) { return true; }
};

template <typename T>
using hugevector = std::vector<T, hugealloc<T>>;
