#include "tester/ApiTester.h"

#include <iomanip>
#include <iostream>

#include "tester/ServiceList.h"

ApiTester::ApiTester(void* ipcHandle, void* logHandle)
    : ipcHandle_(ipcHandle), logHandle_(logHandle), brokerInitiator_(nullptr) {
    subscribe();
    try {
        createServices(ipcHandle_, logHandle_, services_);
    } catch (...) {
        // The destructor will not run: undo the subscription here, so the
        // broker cannot call back into a tester that never existed.
        unsubscribe();
        throw;
    }
    for (auto const& service : services_) {
        addCommands(service);
    }
}

ApiTester::~ApiTester() { unsubscribe(); }

void ApiTester::subscribe() {
    int32_t status =
        kovra_api_broker_initiator_init(ipcHandle_, logHandle_, &brokerInitiator_, 1, 0);
    if (status != 0) {
        reportInitiatorFailure(logHandle_, "kovra_api_broker_initiator_init", status);
    }
    kovra_api_broker_new_target_register_event_handler(brokerInitiator_, &newTargetEventCallback,
                                                       this);
}

void ApiTester::unsubscribe() {
    kovra_api_broker_new_target_unregister_event_handler(brokerInitiator_, &newTargetEventCallback);
    kovra_api_broker_initiator_deinit(brokerInitiator_);
}

void ApiTester::addCommands(boost::shared_ptr<TestService> service) {
    for (auto const& command : service->commands()) {
        commands_.push_back(commandInfo{service, command.first, command.second, 0, 0});
    }
}

unsigned int ApiTester::getCommandCount() { return static_cast<unsigned int>(commands_.size()); }

void ApiTester::runCommand(unsigned int /*threadIndex*/, unsigned int commandIndex) {
    unsigned int count = getCommandCount();
    if (commandIndex >= count) {
        kovra_core_logging_log(logHandle_, 3, "%s: commandIndex %d >= getCommandCount() %d",
                               "ApiTester::runCommand", commandIndex, count);
        return;
    }
    commandInfo& entry = commands_[commandIndex];
    bool passed = ((*entry.service).*entry.method)();
    boost::mutex::scoped_lock lock(countersLock_);
    entry.passed += passed ? 1 : 0;
    entry.total += 1;
}

void ApiTester::printStatistics() {
    for (auto const& entry : commands_) {
        std::cout << "Service: " << std::setw(21) << entry.service->targetName()
                  << " Command: " << std::setw(32) << entry.name << " pass/fail/total "
                  << entry.passed << "/" << entry.total - entry.passed << "/" << entry.total
                  << std::endl;
    }
    // Announcements may still arrive while the report is written: print a
    // copy taken under the lock rather than holding it across the output.
    std::map<std::string, unsigned int> targets;
    {
        boost::mutex::scoped_lock lock(targetsLock_);
        targets = targets_;
    }
    if (targets.empty()) {
        return;
    }
    std::cout << std::endl;
    for (auto const& target : targets) {
        std::cout << "Target " << target.first << " reset " << target.second << " times"
                  << std::endl;
    }
}

void ApiTester::newTargetEventCallback(char const* first, char const* second, unsigned char flag,
                                       char const* third, void* context) {
    if (context != nullptr) {
        static_cast<ApiTester*>(context)->newTargetEventCallback(first, second, flag, third);
    }
}

void ApiTester::newTargetEventCallback(char const* first, char const* second,
                                       unsigned char /*flag*/, char const* /*third*/) {
    std::string key = std::string(first) + ":" + second;
    boost::mutex::scoped_lock lock(targetsLock_);
    ++targets_[key];
}
