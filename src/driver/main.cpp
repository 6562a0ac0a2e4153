#include <kovra/kovra_core.h>

#include <exception>
#include <iostream>

#include "driver/CommandLine.h"
#include "driver/LoadRun.h"
#include "driver/StopSignal.h"

int main(int argc, char** argv) {
    RunSettings settings;
    if (!parseCommandLine(argc, argv, settings)) {
        printUsage(std::cout);
        return 1;
    }

    void* logHandle = nullptr;
    void* ipcHandle = nullptr;
    int32_t status = kovra_core_init();
    if (status != 0) {
        // A camera whose core is already up still serves requests: go on.
        std::cerr << "ERROR: kovra_core_init failed status" << status << std::endl;
    }
    status = kovra_core_logging_init("IPC_SOAK", &logHandle);
    if (status != 0) {
        std::cerr << "ERROR: kovra_core_logging_init failed status" << status << std::endl;
        kovra_core_deinit();
        return 1;
    }
    status = kovra_core_ipc_initiator_init(logHandle, settings.url, &ipcHandle);
    if (status != 0) {
        std::cerr << "ERROR: kovra_core_ipc_initiator_init failed status" << status << std::endl;
        kovra_core_logging_deinit(logHandle);
        kovra_core_deinit();
        return 1;
    }

    // Once the library is up, an interrupted run still ends with its report
    // and shuts the library down.
    stopOnFirstSignal();
    try {
        runLoad(settings, ipcHandle, logHandle);
    } catch (std::exception const& e) {
        std::cerr << "ERROR: caught exception " << e.what() << std::endl;
    } catch (...) {
        std::cerr << "ERROR: caught unknown exception" << std::endl;
    }

    kovra_core_ipc_deinit(ipcHandle);
    kovra_core_logging_deinit(logHandle);
    kovra_core_deinit();
    return 0;
}
