// The handle table's lock-free lookups, under threads that open, release
// and reset handles at the same time: a lookup sees a handle's whole record
// or none of it, a released handle reads as released, and one from before a
// reset as unknown. Run under ThreadSanitizer, a missing ordering shows.
#include "handles.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "functions.h"
#include "per_thread.h"

namespace kovra_sim {
namespace {

TEST(HandlesTest, LookupsSeeWholeRecordsWhileOthersOpenReleaseAndReset) {
    Handles handles;
    constexpr size_t kRecent = 64;
    std::atomic<void*> recent[kRecent] = {};
    std::atomic<bool> done{false};
    std::thread opener([&] {
        for (uint32_t round = 0; round < 20000; ++round) {
            HandleInfo info;
            info.service = int(round % kServiceCount);
            info.ipc = round;  // each record says which round made it
            void* const h = handles.open(HandleKind::initiator, info);
            ASSERT_NE(h, nullptr);
            recent[round % kRecent].store(h);
            if (round % 3 == 0) handles.close(h, HandleKind::initiator);
            if (round % 5000 == 4999) handles.reset();
        }
        done = true;
    });
    std::vector<std::thread> readers;
    std::atomic<uint64_t> seen{0};
    for (int t = 0; t < 3; ++t) {
        readers.emplace_back([&] {
            while (!done) {
                for (auto& slot : recent) {
                    HandleInfo info;
                    if (!handles.live(slot.load(), HandleKind::initiator, &info)) continue;
                    EXPECT_EQ(info.service, int(info.ipc % kServiceCount));
                    EXPECT_FALSE(handles.live(slot.load(), HandleKind::ipc)) << "another kind";
                    ++seen;
                }
            }
        });
    }
    opener.join();
    for (auto& r : readers) r.join();
    EXPECT_GT(seen, 0u);
    void* const old = recent[0].load();
    handles.reset();
    EXPECT_FALSE(handles.live(old, HandleKind::initiator)) << "a handle from before the reset";
    EXPECT_EQ(handles.number(old), 0u);
}

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
