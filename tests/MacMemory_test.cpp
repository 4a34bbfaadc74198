#include "platform/base/MacMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

// A refused allocation is a null block or memFullErr, never a throw, and a
// handle that could not grow keeps its size and bytes. Handles that grow, and
// the sizes blocks report, are read back wherever handles are used (Aliases,
// drags, runs).
TEST(MacMemory, ARefusedAllocationIsMemFullErrAndTheHandleKeepsItsBytes) {
    Handle h = NewHandle(4);
    ASSERT_NE(h, nullptr);
    std::copy_n("abcd", 4, *h);
    EXPECT_EQ(NewPtr(-1), nullptr);
    SetMemoryFailureHook([](Size n) { return n == 42; });
    EXPECT_EQ(NewPtr(42), nullptr);
    EXPECT_EQ(SetHandleSize(h, 42), memFullErr);
    SetMemoryFailureHook(nullptr);
    EXPECT_EQ(GetHandleSize(h), 4);
    EXPECT_EQ(std::string(*h, 4), "abcd");
    DisposeHandle(h);
}
