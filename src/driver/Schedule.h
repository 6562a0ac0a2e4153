#pragma once

#include <boost/random/mersenne_twister.hpp>
#include <boost/random/uniform_int_distribution.hpp>
#include <vector>

// One list of command indices per worker, drawn before any worker starts.
typedef std::vector<std::vector<unsigned int>> ScheduleTable;

// Draws every worker's schedule from one engine seeded with `seed`: worker 0's
// whole schedule first, then worker 1's, and so on. The command count is read
// again for every draw. `Commands` is anything with getCommandCount().
template <class Commands>
ScheduleTable drawSchedules(Commands& commands, unsigned int seed, unsigned int threadCount,
                            unsigned int commandsPerThread) {
    boost::random::mt19937 engine(seed);
    ScheduleTable schedules(threadCount);
    for (auto& schedule : schedules) {
        schedule.reserve(commandsPerThread);
        for (unsigned int k = 0; k < commandsPerThread; ++k) {
            boost::random::uniform_int_distribution<unsigned int> pick(
                0, commands.getCommandCount() - 1);
            schedule.push_back(pick(engine));
        }
    }
    return schedules;
}
