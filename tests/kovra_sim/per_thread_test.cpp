// The per-thread blocks the statistics and the call counts record into.
#include "common/per_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace kovra_sim {
namespace {

// Each thread counts into its own block; every block is there to be read.
TEST(PerThreadTest, EveryThreadsBlockIsSeen) {
    struct Count {
        std::atomic<uint64_t> n{0};
    };
    PerThread<Count> counts;
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 1000; ++i) counts.mine().n.fetch_add(1, std::memory_order_relaxed);
        });
    }
    for (auto& t : threads) t.join();
    uint64_t total = 0;
    int blocks = 0;
    counts.each([&](Count& c) {
        total += c.n;
        ++blocks;
    });
    EXPECT_EQ(total, 8000u);
    EXPECT_EQ(blocks, 8);
}

}  // namespace
}  // namespace kovra_sim
