#include "Workers.h"

#include <iostream>

#include "ApiTester.h"

void workerThread(ApiTester* tester, unsigned int threadIndex,
                  std::vector<unsigned int>& schedule) {
    for (std::size_t k = 0; k < schedule.size(); ++k) {
        tester->runCommand(threadIndex, schedule[k]);
        if (k % 100 == 0) {
            std::cout << '.' << std::flush;
        }
    }
}

WorkerThreads::WorkerThreads(unsigned int count) { threads_.reserve(count); }

WorkerThreads::~WorkerThreads() { joinAll(); }

void WorkerThreads::add(boost::shared_ptr<boost::thread> worker) { threads_.push_back(worker); }

void WorkerThreads::joinAll() {
    for (auto const& worker : threads_) {
        if (worker->joinable()) {
            worker->join();
        }
    }
}
