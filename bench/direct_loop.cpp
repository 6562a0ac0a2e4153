// The limit of a soak: the same client-library calls that ipc_soak's commands
// make for the same seeded schedule, made straight from a loop. There is no
// tester, no broker subscription, no progress output and no shared counter:
// what ipc_soak costs beyond this is the price of its own machinery.
//
// Usage and defaults are ipc_soak's: direct_loop [-c N] [-s N] [-t N] [-u URL].
// Prints one line, "commands N passed P", where P must equal the sum of the
// passes in ipc_soak's report for the same options.
#include <kovra/kovra_core.h>

#include <boost/shared_ptr.hpp>
#include <cstdint>
#include <iostream>
#include <thread>
#include <vector>

#include "driver/CommandLine.h"
#include "driver/Schedule.h"
#include "tester/ServiceList.h"

namespace {

struct Command {
    TestService* service;
    TestService::Method method;
};

// The services in ApiTester's enrolment order, their commands flattened in
// the same order, so that a command index means the same request in both.
// bench/run.sh compares the two programs' call journals to keep it so.
class DirectCommands {
public:
    DirectCommands(void* ipc, void* log) {
        createServices(ipc, log, services_);
        for (auto const& service : services_) {
            for (auto const& entry : service->commands()) {
                commands_.push_back(Command{service.get(), entry.first});
            }
        }
    }

    unsigned int getCommandCount() const { return static_cast<unsigned int>(commands_.size()); }

    // Runs a schedule and returns how many of its commands passed.
    std::uint64_t run(std::vector<unsigned int> const& schedule) const {
        std::uint64_t passed = 0;
        for (unsigned int index : schedule) {
            Command const& command = commands_[index];
            passed += ((*command.service).*command.method)() ? 1 : 0;
        }
        return passed;
    }

private:
    std::vector<boost::shared_ptr<TestService>> services_;
    std::vector<Command> commands_;
};

int runDirect(RunSettings const& settings, void* ipc, void* log) {
    DirectCommands commands(ipc, log);
    ScheduleTable schedules =
        drawSchedules(commands, settings.seed, settings.threadCount, settings.commandsPerThread);
    std::vector<std::uint64_t> passed(settings.threadCount, 0);
    std::vector<std::thread> threads;
    threads.reserve(settings.threadCount);
    for (unsigned int i = 0; i < settings.threadCount; ++i) {
        threads.emplace_back([&, i] { passed[i] = commands.run(schedules[i]); });
    }
    std::uint64_t total = 0;
    for (unsigned int i = 0; i < settings.threadCount; ++i) {
        threads[i].join();
        total += passed[i];
    }
    std::cout << "commands "
              << static_cast<std::uint64_t>(settings.threadCount) * settings.commandsPerThread
              << " passed " << total << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    RunSettings settings;
    if (!parseCommandLine(argc, argv, settings)) {
        printUsage(std::cout);
        return 1;
    }
    void* log = nullptr;
    void* ipc = nullptr;
    int32_t status = kovra_core_init();
    if (status == 0) {
        status = kovra_core_logging_init("IPC_SOAK", &log);
    }
    if (status == 0) {
        status = kovra_core_ipc_initiator_init(log, settings.url, &ipc);
    }
    int result = 1;
    if (status != 0) {
        std::cerr << "direct_loop: the client library did not start, status " << status
                  << std::endl;
    } else {
        try {
            result = runDirect(settings, ipc, log);
        } catch (std::exception const& e) {
            std::cerr << "direct_loop: " << e.what() << std::endl;
        }
    }
    if (ipc != nullptr) {
        kovra_core_ipc_deinit(ipc);
    }
    if (log != nullptr) {
        kovra_core_logging_deinit(log);
    }
    kovra_core_deinit();
    return result;
}
