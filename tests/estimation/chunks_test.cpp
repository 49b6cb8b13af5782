#include "estimation/chunks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace sevenparam {
namespace {

// Prefaulting widens its range to whole pages: the bytes it was given, and
// the neighbours sharing their first and last page, keep what they hold
// (on Linux; elsewhere the given bytes become zeros, and no more).
TEST(Chunks, PrefaultLeavesEveryByteAsItWas)
{
    std::vector<char> buffer(1 << 20);
    for (std::size_t i = 0; i < buffer.size(); ++i)
        buffer[i] = static_cast<char>(i * 7 + 1);
    const std::vector<char> before = buffer;
    prefault(buffer.data() + 1000, 300000);
    for (std::size_t i = 0; i < buffer.size(); ++i) {
#if defined(__linux__)
        ASSERT_EQ(before[i], buffer[i]) << i;
#else
        ASSERT_EQ(i >= 1000 && i < 301000 ? 0 : before[i], buffer[i]) << i;
#endif
    }
}

// Reserved on threads, the vector is still empty, holds the room asked
// for, and takes its elements as any vector does.
TEST(Chunks, ReserveOnThreadsConstructsNothing)
{
    std::vector<std::string> names;
    reserve_on_threads(names, 5 * chunk_points + 3, 2);
    EXPECT_TRUE(names.empty());
    ASSERT_GE(names.capacity(), 5 * chunk_points + 3);
    const std::string* const storage = names.data();
    names.resize(5 * chunk_points + 3, "P");
    EXPECT_EQ(storage, names.data());
    EXPECT_EQ("P", names.back());
}

} // namespace
} // namespace sevenparam
