#pragma once

#include <boost/shared_ptr.hpp>
#include <boost/thread/mutex.hpp>
#include <map>
#include <string>
#include <vector>

#include "services/TestService.h"

// The centre of a run. It enrols the test services, flattens their commands
// into one table addressed by a command index, runs a command by index for
// any worker thread and counts the outcome, counts how often each service
// target announces itself on the broker, and prints the report.
//
// Thread safety: once constructed, runCommand may be called from any number
// of threads; the broker may call the new-target handler at any time until
// the destructor has unsubscribed. getCommandCount and printStatistics are
// for the main thread while no worker runs.
class ApiTester {
public:
    struct commandInfo {
        boost::shared_ptr<TestService> service;
        bool (TestService::*method)();
        std::string name;
        unsigned int passed;
        unsigned int total;
    };

    // Borrows both handles. Throws std::runtime_error when the broker
    // initiator or a service's initiator cannot be opened (the message is
    // logged first); nothing it opened is left open then.
    ApiTester(void* ipcHandle, void* logHandle);
    ApiTester(ApiTester const&) = delete;
    ApiTester& operator=(ApiTester const&) = delete;
    virtual ~ApiTester();

    unsigned int getCommandCount();

    // Runs command `commandIndex` unlocked, then counts it under the counters
    // lock. An index out of range is logged at level 3 and ignored.
    void runCommand(unsigned int threadIndex, unsigned int commandIndex);

    // Writes one line per command, then one per announced target.
    void printStatistics();

    // Broker handler: `context` is the ApiTester to record the announcement on.
    static void newTargetEventCallback(char const* first, char const* second, unsigned char flag,
                                       char const* third, void* context);
    // Counts one announcement of target "first:second".
    void newTargetEventCallback(char const* first, char const* second, unsigned char flag,
                                char const* third);

private:
    void subscribe();
    void unsubscribe();
    void addCommands(boost::shared_ptr<TestService> service);

    void* ipcHandle_;
    void* logHandle_;
    kovra_initiator* brokerInitiator_;
    std::vector<commandInfo> commands_;
    boost::mutex countersLock_;
    std::map<std::string, unsigned int> targets_;
    boost::mutex targetsLock_;
    std::vector<boost::shared_ptr<TestService>> services_;
};
