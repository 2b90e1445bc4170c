#include <gtest/gtest.h>

#include <cstring>

#include "platform/mmsystem.h"

namespace {

TEST(Heap, ZeroMemoryFlagZeroFillsEvenReusedBlocks) {
    HANDLE heap = GetProcessHeap();
    ASSERT_NE(heap, nullptr);
    // Dirty a block and give it back, so that a fresh block of the same size may reuse it.
    void* dirty = HeapAlloc(heap, 0, 8192);
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xA5, 8192);
    EXPECT_NE(HeapFree(heap, 0, dirty), 0);

    auto* block = static_cast<unsigned char*>(HeapAlloc(heap, HEAP_ZERO_MEMORY, 8192));
    ASSERT_NE(block, nullptr);
    for (int i = 0; i < 8192; ++i) {
        ASSERT_EQ(block[i], 0) << "at " << i;
    }
    EXPECT_NE(HeapFree(heap, 0, block), 0);
}

TEST(Heap, AnUnknownHeapHandsOutNothing) {
    int other;
    EXPECT_EQ(HeapAlloc(&other, HEAP_ZERO_MEMORY, 16), nullptr);
}

}  // namespace
