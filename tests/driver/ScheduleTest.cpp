#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "Schedule.h"

namespace {

// A command table whose size can change from one draw to the next, and
// which counts how often it was asked.
struct Commands {
    std::vector<unsigned int> sizes;  // size for the n-th question; the last one sticks
    unsigned int asked = 0;
    unsigned int getCommandCount() {
        unsigned int size = sizes[asked < sizes.size() ? asked : sizes.size() - 1];
        ++asked;
        return size;
    }
};

TEST(DrawSchedulesTest, DrawsWorkerZerosWholeScheduleFirst) {
    Commands commands{{87}};
    ScheduleTable schedules = drawSchedules(commands, 1, 2, 5);
    EXPECT_EQ(schedules, (ScheduleTable{{36, 86, 62, 81, 0}, {11, 26, 86, 12, 20}}));
    EXPECT_EQ(commands.asked, 10u);
}

TEST(DrawSchedulesTest, SameSeedGivesSameSchedulesAndAnotherSeedDoesNot) {
    Commands a{{87}}, b{{87}}, c{{87}};
    EXPECT_EQ(drawSchedules(a, 42, 3, 50), drawSchedules(b, 42, 3, 50));
    EXPECT_NE(drawSchedules(a, 42, 3, 50), drawSchedules(c, 43, 3, 50));
}

TEST(DrawSchedulesTest, OneCommandNeverAdvancesTheEngine) {
    // Five draws from a one-command table, then the table grows: the next
    // draw must be the first one a fresh engine gives.
    Commands commands{{1, 1, 1, 1, 1, 87}};
    ScheduleTable schedules = drawSchedules(commands, 1, 1, 10);
    EXPECT_EQ(schedules, (ScheduleTable{{0, 0, 0, 0, 0, 36, 86, 62, 81, 0}}));
}

TEST(DrawSchedulesTest, EmptyTableTakesRawEngineOutputs) {
    Commands commands{{0}};
    ScheduleTable schedules = drawSchedules(commands, 1, 1, 1);
    EXPECT_EQ(schedules, (ScheduleTable{{1791095845u}}));
}

TEST(DrawSchedulesTest, ZeroThreadsOrZeroCommandsDrawNothing) {
    Commands commands{{87}};
    EXPECT_TRUE(drawSchedules(commands, 1, 0, 5).empty());
    EXPECT_EQ(drawSchedules(commands, 1, 3, 0), ScheduleTable(3));
    EXPECT_EQ(commands.asked, 0u);
}

TEST(DrawSchedulesTest, IndicesStayInRangeAndCoverTheTable) {
    Commands commands{{87}};
    ScheduleTable schedules = drawSchedules(commands, 7, 4, 2000);
    std::vector<bool> seen(87);
    for (auto const& schedule : schedules) {
        for (unsigned int index : schedule) {
            ASSERT_LT(index, 87u);
            seen[index] = true;
        }
    }
    EXPECT_EQ(std::count(seen.begin(), seen.end(), true), 87);
}

}  // namespace
