#include <gtest/gtest.h>
#include <kovra_sim/control.h>

#include <map>
#include <set>
#include <string>
#include <vector>

#include "driver/LoadRun.h"
#include "driver/Schedule.h"
#include "support/SimulatedCamera.h"
#include "support/TestFiles.h"
#include "tester/ApiTester.h"

namespace {

using LoadRunTest = SimulatedCamera;

// The functions called in journal entries tagged "T<n> ".
std::vector<std::string> functionsIn(std::vector<std::string> const& lines) {
    std::vector<std::string> functions;
    for (auto const& line : lines)
        functions.push_back(line.substr(line.find(' ') + 1, line.find('(') - line.find(' ') - 1));
    return functions;
}

// Each worker thread must call, in order, what the commands of the
// schedule drawn for it call when each runs alone.
TEST_F(LoadRunTest, EachWorkerRunsTheScheduleDrawnForIt) {
    kovra_sim_journal_enable(2);
    std::vector<std::vector<std::string>> calls;
    ScheduleTable schedules;
    {
        ApiTester tester(ipcHandle, logHandle);
        for (unsigned int k = 0; k < tester.getCommandCount(); ++k) {
            kovra_sim_journal_clear();
            tester.runCommand(0, k);
            calls.push_back(functionsIn(journal()));
        }
        schedules = drawSchedules(tester, 1, 2, 5);
    }
    std::multiset<std::vector<std::string>> expected;
    for (auto const& schedule : schedules) {
        std::vector<std::string> sequence;
        for (unsigned int k : schedule)
            sequence.insert(sequence.end(), calls[k].begin(), calls[k].end());
        expected.insert(sequence);
    }
    kovra_sim_journal_clear();
    RunSettings settings;
    settings.threadCount = 2;
    settings.commandsPerThread = 5;
    testing::internal::CaptureStdout();  // its dots
    runLoad(settings, ipcHandle, logHandle);
    testing::internal::GetCapturedStdout();

    std::map<std::string, std::vector<std::string>> byThread;
    for (auto const& line : journal()) byThread[line.substr(0, line.find(' '))].push_back(line);
    byThread.erase("T1");  // the main thread, which builds the tester first
    std::multiset<std::vector<std::string>> sent;
    for (auto const& [thread, lines] : byThread) sent.insert(functionsIn(lines));
    EXPECT_EQ(sent, expected);
}

}  // namespace
