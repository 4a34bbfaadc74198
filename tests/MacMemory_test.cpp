#include "platform/base/MacMemory.h"

#include <gtest/gtest.h>

TEST(MacMemory, PointersKnowTheirSizeAndFailWithoutThrowing) {
    Ptr p = NewPtr(100);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(GetPtrSize(p), 100);
    DisposePtr(p);
    EXPECT_EQ(NewPtr(-1), nullptr);
    SetMemoryFailureHook([](Size n) { return n == 42; });
    EXPECT_EQ(NewPtr(42), nullptr);
    EXPECT_NE((p = NewPtr(41)), nullptr);
    DisposePtr(p);
    SetMemoryFailureHook(nullptr);
}

TEST(MacMemory, HandlesResizeAndKeepTheirBytes) {
    Handle h = NewHandle(4);
    ASSERT_NE(h, nullptr);
    std::copy_n("abcd", 4, *h);
    ASSERT_EQ(SetHandleSize(h, 8), noErr);
    EXPECT_EQ(GetHandleSize(h), 8);
    EXPECT_EQ(std::string(*h, 4), "abcd");
    ASSERT_EQ(SetHandleSize(h, 2), noErr);
    EXPECT_EQ(std::string(*h, 2), "ab");
    DisposeHandle(h);
}
