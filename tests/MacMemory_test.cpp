#include "platform/base/MacMemory.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

// A refused allocation is a null block or memFullErr, never a throw, and a
// handle that could not grow keeps its size and bytes. The sizes blocks
// report are read back wherever handles are used (Aliases, drags, runs).
TEST(MacMemory, ARefusedAllocationIsMemFullErrAndTheHandleKeepsItsBytes) {
    Handle h = NewHandle(4);
    ASSERT_NE(h, nullptr);
    std::copy_n("abcd", 4, *h);
    ASSERT_EQ(SetHandleSize(h, 8), noErr);
    EXPECT_EQ(std::string(*h, 4), "abcd");
    EXPECT_EQ(NewPtr(-1), nullptr);
    SetMemoryFailureHook([](Size n) { return n == 42; });
    EXPECT_EQ(NewPtr(42), nullptr);
    EXPECT_EQ(SetHandleSize(h, 42), memFullErr);
    SetMemoryFailureHook(nullptr);
    EXPECT_EQ(GetHandleSize(h), 8);
    EXPECT_EQ(std::string(*h, 4), "abcd");
    DisposeHandle(h);
}
