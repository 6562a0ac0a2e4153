#include "LoadRun.h"

#include <iostream>

#include "ApiTester.h"
#include "Schedule.h"
#include "Workers.h"

void runLoad(RunSettings const& settings, void* ipcHandle, void* logHandle) {
    ApiTester tester(ipcHandle, logHandle);
    ScheduleTable schedules =
        drawSchedules(tester, settings.seed, settings.threadCount, settings.commandsPerThread);
    WorkerThreads workers(settings.threadCount);
    for (unsigned int i = 0; i < settings.threadCount; ++i) {
        workers.add(startWorker(&tester, i, schedules[i]));
    }
    workers.joinAll();
    std::cout << std::endl;
    tester.printStatistics();
}
