#include "core/hugealloc.h"

#include <cstdint>

#if defined(__linux__)
#include <sys/mman.h>
#endif

void advisehuge(void* p, std::size_t bytes)
{
#if defined(__linux__) && defined(MADV_HUGEPAGE)
    constexpr std::uintptr_t huge = hugealign;
    const auto start = reinterpret_cast<std::uintptr_t>(p);
    const std::uintptr_t from = (start + huge - 1) & ~(huge - 1);
    const std::uintptr_t to = (start + bytes) & ~(huge - 1);
    // Only a request: where the kernel declines, the pages stay small.
    if (to > from)
        (void)madvise(reinterpret_cast<void*>(from), to - from, MADV_HUGEPAGE);
#else
    (void)p, (void)bytes;
#endif
}
