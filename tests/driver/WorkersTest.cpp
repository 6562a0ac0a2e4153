#include <gtest/gtest.h>

#include <atomic>
#include <boost/make_shared.hpp>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "driver/Workers.h"

namespace {

void finishLate(std::atomic<int>* finished) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ++*finished;
}

// Starting a later worker may fail while earlier ones run on the tester,
// which is destroyed next: leaving the scope must wait for them.
TEST(WorkerThreadsTest, LeavingTheScopeByAnExceptionJoinsEveryStartedWorker) {
    std::atomic<int> finished{0};
    try {
        WorkerThreads workers(3);
        workers.add(boost::make_shared<boost::thread>(&finishLate, &finished));
        workers.add(boost::make_shared<boost::thread>(&finishLate, &finished));
        throw std::runtime_error("the third worker cannot start");
    } catch (std::runtime_error const&) {
        EXPECT_EQ(finished.load(), 2);
    }
}

}  // namespace
