#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "driver/Schedule.h"

namespace {

// A command table whose size may change from one draw to the next: the n-th
// question gets sizes[n], and the last size sticks.
struct Commands {
    std::vector<unsigned int> sizes;
    unsigned int asked = 0;
    unsigned int getCommandCount() {
        return sizes[std::min<std::size_t>(asked++, sizes.size() - 1)];
    }
};

// One command never advances the engine: after five draws from one command,
// the next from 87 is a fresh engine's first. None takes a raw output, and no
// thread or no command draws nothing.
TEST(DrawSchedulesTest, EdgeCasesUseTheEngineAsIs) {
    Commands growing{{1, 1, 1, 1, 1, 87}}, empty{{0}}, unused{{87}};
    EXPECT_EQ(drawSchedules(growing, 1, 1, 7), (ScheduleTable{{0, 0, 0, 0, 0, 36, 86}}));
    EXPECT_EQ(drawSchedules(empty, 1, 1, 1), (ScheduleTable{{1791095845u}}));
    EXPECT_TRUE(drawSchedules(unused, 1, 0, 5).empty());
    EXPECT_EQ(drawSchedules(unused, 1, 3, 0), ScheduleTable(3));
    EXPECT_EQ(unused.asked, 0u);
}

}  // namespace
