#pragma once

#include <boost/shared_ptr.hpp>
#include <boost/thread/thread.hpp>
#include <vector>

class ApiTester;

// Runs one worker's schedule on the tester, printing a progress dot after
// its 1st, 101st, 201st ... command. Stops early, between two commands, once
// a stop was requested (StopSignal.h).
void workerThread(ApiTester* tester, unsigned int threadIndex, std::vector<unsigned int>& schedule);

// Starts worker `threadIndex` on its own copy of `schedule`, made once here:
// boost::thread copies its bound arguments several times over, so it is given
// a shared handle on the copy rather than the copy itself.
boost::shared_ptr<boost::thread> startWorker(ApiTester* tester, unsigned int threadIndex,
                                             std::vector<unsigned int> const& schedule);

// The worker threads of a run, in worker-index order. Destroying the list
// joins every worker still running: if starting a later worker fails, the
// ones already running must finish before the tester they use goes away.
class WorkerThreads {
public:
    // Reserves room for `count` workers up front, so that adding a started
    // worker can never fail and leave it unowned.
    explicit WorkerThreads(unsigned int count);
    WorkerThreads(WorkerThreads const&) = delete;
    WorkerThreads& operator=(WorkerThreads const&) = delete;
    ~WorkerThreads();

    void add(boost::shared_ptr<boost::thread> worker);

    // Waits for each worker in index order.
    void joinAll();

private:
    std::vector<boost::shared_ptr<boost::thread>> threads_;
};
