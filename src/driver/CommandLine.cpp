#include "driver/CommandLine.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <ostream>

unsigned int optionValue(char const* text) {
    // strtol saturates at LONG_MIN/LONG_MAX; where long is 64 bits the
    // result must saturate again at the 32-bit bounds so that every platform
    // reads the same number.
    long value = std::strtol(text, nullptr, 10);
    if (value > INT32_MAX) {
        value = INT32_MAX;
    } else if (value < INT32_MIN) {
        value = INT32_MIN;
    }
    return static_cast<unsigned int>(static_cast<int32_t>(value));
}

bool parseCommandLine(int argc, char** argv, RunSettings& settings) {
    int option;
    while ((option = getopt(argc, argv, "c:s:t:u:")) != -1) {
        switch (option) {
            case 'c':
                settings.commandsPerThread = optionValue(optarg);
                break;
            case 's':
                settings.seed = optionValue(optarg);
                break;
            case 't':
                settings.threadCount = optionValue(optarg);
                break;
            case 'u':
                settings.url = optarg;
                break;
            default:
                return false;
        }
    }
    return true;
}

void printUsage(std::ostream& out) {
    RunSettings const defaults;
    out << "Usage: ipc_soak <-c commands_per_thread> <-s seed> <-t num_threads> <-u url>\n"
        << "       -c commands_per_thread: number of commands to run per thread (default: "
        << defaults.commandsPerThread << "\n"
        << "       -s seed: random number generator seed value (default: " << defaults.seed << "\n"
        << "       -t num_threads: number of threads to run (default: " << defaults.threadCount
        << "\n"
        << "       -u URL: connect to camera at URL (tcp://ipaddr).  Defaults to local camera\n";
}
