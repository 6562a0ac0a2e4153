#include "driver/LoadRun.h"

#include <iostream>

#include "driver/Schedule.h"
#include "driver/Workers.h"
#include "tester/ApiTester.h"

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
