#include "core/hugealloc.h"

#include <gtest/gtest.h>

#include <cstdint>

// Blocks on both sides of the size from which huge pages are asked for: the
// large ones start on a 2 MB boundary, every block keeps what is written into
// it, and each goes back the way it was taken (the sanitizer build checks
// that aligned and plain new and delete are paired).
TEST(HugeAlloc, BlocksOnBothSidesOfTheThreshold)
{
    constexpr std::size_t word = sizeof(std::int64_t);
    for (const std::size_t n : {std::size_t{1}, hugebytes / word - 1, hugebytes / word, hugebytes / word + 1,
                                3 * hugebytes / word + 5}) {
        hugealloc<std::int64_t> a;
        std::int64_t* p = a.allocate(n);
        if (n * word >= hugebytes) {
            EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % hugealign, 0U) << n;
        }
        for (std::size_t i = 0; i < n; ++i)
            p[i] = static_cast<std::int64_t>(i);
        for (std::size_t i = 0; i < n; i += 4099)
            ASSERT_EQ(p[i], static_cast<std::int64_t>(i));
        a.deallocate(p, n);
    }

    // A table grown past the threshold one entry at a time and then shrunk
    // to its size moves between both kinds of block.
    hugevector<std::int32_t> v;
    const int entries = 3 * static_cast<int>(hugebytes / sizeof(std::int32_t)) + 7;
    for (int i = 0; i < entries; ++i)
        v.push_back(i);
    v.shrink_to_fit();
    ASSERT_EQ(v.size(), static_cast<std::size_t>(entries));
    for (int i = 0; i < entries; i += 1021)
        ASSERT_EQ(v[static_cast<std::size_t>(i)], i);
    EXPECT_EQ(v.back(), entries - 1);
}
