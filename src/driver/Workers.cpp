#include "driver/Workers.h"

#include <boost/make_shared.hpp>
#include <iostream>

#include "driver/StopSignal.h"
#include "tester/ApiTester.h"

void workerThread(ApiTester* tester, unsigned int threadIndex,
                  std::vector<unsigned int>& schedule) {
    for (std::size_t k = 0; k < schedule.size() && !stopRequested(); ++k) {
        tester->runCommand(threadIndex, schedule[k]);
        if (k % 100 == 0) {
            std::cout << '.' << std::flush;
        }
    }
}

namespace {

// What the worker thread holds of its schedule: copying this shares the one
// copy, and workerThread receives that copy through the conversion.
class OwnSchedule {
public:
    explicit OwnSchedule(std::vector<unsigned int> const& schedule)
        : schedule_(boost::make_shared<std::vector<unsigned int>>(schedule)) {}
    operator std::vector<unsigned int>&() const { return *schedule_; }

private:
    boost::shared_ptr<std::vector<unsigned int>> schedule_;
};

}  // namespace

boost::shared_ptr<boost::thread> startWorker(ApiTester* tester, unsigned int threadIndex,
                                             std::vector<unsigned int> const& schedule) {
    return boost::make_shared<boost::thread>(&workerThread, tester, threadIndex,
                                             OwnSchedule(schedule));
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
