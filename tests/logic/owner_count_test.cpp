// The count of held resources that the soak runs read from the counting build:
// every way into and out of an owner moves it by one, a value written through
// put() included.
#include <gtest/gtest.h>

#include <utility>

#include "frame/unique_handle.h"

namespace {

int closed = 0;

struct FakeTraits {
    using type = int;
    static type invalid() noexcept { return -1; }
    static void close(type) noexcept { ++closed; }
};
using Owner = dovrikna::unique_handle<FakeTraits>;

TEST(OwnerCount, FollowsEveryWayInAndOut)
{
    const long base = dovrikna::liveOwners.load();
    auto live = [&] { return dovrikna::liveOwners.load() - base; };
    {
        Owner a(1), none;
        EXPECT_EQ(1, live());
        Owner b(std::move(a)); // moved: still one
        EXPECT_EQ(1, live());
        none = std::move(b);
        EXPECT_EQ(1, live());
        *b.put() = 7; // counted at the next use
        EXPECT_TRUE(static_cast<bool>(b));
        EXPECT_EQ(2, live());
        b.reset(8); // one closed, one taken
        EXPECT_EQ(2, live());
        EXPECT_EQ(8, b.release());
        EXPECT_EQ(1, live());
        b.reset();
        EXPECT_EQ(1, live());
    }
    EXPECT_EQ(0, live()) << "owners left counted after their end";
    EXPECT_EQ(2, closed) << "closes: the one reset over, and the one held at the end";
}

} // namespace
