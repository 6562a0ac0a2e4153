#include <gtest/gtest.h>
#include <kovra_sim/control.h>

#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "ApiTester.h"
#include "LoadRun.h"
#include "SimulatedCamera.h"
#include "TestFiles.h"

namespace {

using LoadRunTest = SimulatedCamera;

// The functions called in journal entries tagged "T<n> ".
std::vector<std::string> functionsIn(std::vector<std::string> const& lines) {
    std::vector<std::string> functions;
    for (auto const& line : lines) {
        functions.push_back(line.substr(line.find(' ') + 1, line.find('(') - line.find(' ') - 1));
    }
    return functions;
}

// Seed 1 draws 36, 86, 62, 81, 0 for worker 0 and 11, 26, 86, 12, 20 for
// worker 1. Each worker thread must call, in order, what the commands of its
// schedule call when each runs alone.
TEST_F(LoadRunTest, EachWorkerRunsTheScheduleDrawnForIt) {
    kovra_sim_journal_enable(2);
    std::vector<std::vector<std::string>> calls;
    {
        ApiTester tester(ipcHandle, logHandle);
        for (unsigned int k = 0; k < tester.getCommandCount(); ++k) {
            kovra_sim_journal_clear();
            tester.runCommand(0, k);
            calls.push_back(functionsIn(journal()));
        }
    }
    std::multiset<std::vector<std::string>> expected;
    for (auto const& schedule :
         {std::vector<unsigned int>{36, 86, 62, 81, 0}, {11, 26, 86, 12, 20}}) {
        std::vector<std::string> sequence;
        for (unsigned int k : schedule) {
            sequence.insert(sequence.end(), calls[k].begin(), calls[k].end());
        }
        expected.insert(sequence);
    }
    kovra_sim_journal_clear();
    RunSettings settings;
    settings.threadCount = 2;
    settings.commandsPerThread = 5;
    captureStdout([&] { runLoad(settings, ipcHandle, logHandle); });

    std::map<std::string, std::vector<std::string>> byThread;
    for (auto const& line : journal()) byThread[line.substr(0, line.find(' '))].push_back(line);
    byThread.erase("T1");  // the main thread, which builds the tester first
    std::multiset<std::vector<std::string>> sent;
    for (auto const& [thread, lines] : byThread) sent.insert(functionsIn(lines));
    EXPECT_EQ(sent, expected);
}

}  // namespace
