#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>

#include "veyraks.h"

TEST(StorageArea, AllocatesAlignedMemoryUntilFreed) {
    stg_area_t area = stg_create_area(4096);
    ASSERT_GT(area, STG_HEAP_AREA);
    for (std::size_t size : {1u, 3u, 16u, 100u, 5000u, 70000u}) {
        void *p = stg_alloc(area, size);
        ASSERT_NE(p, nullptr) << size;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % alignof(std::max_align_t), 0u) << size;
        std::memset(p, 0xab, size);
    }
    EXPECT_EQ(stg_free_area(area, 1), 0);
    EXPECT_EQ(stg_alloc(area, 8), nullptr) << "a freed area hands out nothing";
    EXPECT_NE(stg_free_area(area, 1), 0) << "an area is freed once";
}

TEST(StorageArea, UnknownAndHeapHandles) {
    EXPECT_EQ(stg_alloc(0, 8), nullptr);
    EXPECT_EQ(stg_alloc(0x7ffffff0, 8), nullptr);
    EXPECT_NE(stg_alloc(STG_HEAP_AREA, 8), nullptr) << "the heap area always serves";
    EXPECT_NE(stg_free_area(STG_HEAP_AREA, 1), 0) << "the heap area is never freed";
    EXPECT_NE(stg_alloc(STG_HEAP_AREA, 8), nullptr);
}

TEST(StorageArea, HandlesAreNotReused) {
    stg_area_t a = stg_create_area(4096);
    ASSERT_EQ(stg_free_area(a, 1), 0);
    stg_area_t b = stg_create_area(4096);
    EXPECT_NE(a, b);
    EXPECT_EQ(stg_alloc(a, 8), nullptr);
    EXPECT_EQ(stg_free_area(b, 1), 0);
}

TEST(StorageArea, ConcurrentAreasOnManyThreads) {
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                stg_area_t area = stg_create_area(4096);
                ASSERT_NE(area, 0);
                for (int j = 0; j < 20; ++j) ASSERT_NE(stg_alloc(area, 64 + j), nullptr);
                ASSERT_EQ(stg_free_area(area, 1), 0);
            }
        });
    }
    for (auto &t : threads) t.join();
}

TEST(StorageArea, AnImpossibleSizeGivesNullAndTheAreaGoesOn) {
    stg_area_t area = stg_create_area(4096);
    ASSERT_NE(area, 0);
    for (std::size_t size : {SIZE_MAX, SIZE_MAX / 2, SIZE_MAX - 15, (std::size_t{1} << 30) + 1}) {
        EXPECT_EQ(stg_alloc(area, size), nullptr) << size;
    }
    EXPECT_NE(stg_alloc(area, 64), nullptr);
    EXPECT_EQ(stg_free_area(area, 1), 0);
}
