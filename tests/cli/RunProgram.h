#ifndef IPC_SOAK_TESTS_CLI_RUN_PROGRAM_H
#define IPC_SOAK_TESTS_CLI_RUN_PROGRAM_H

#include <string>
#include <vector>

// What one run of a program left behind.
struct ProgramRun {
    std::string out;
    std::string err;
    int exitStatus = -1;  // -1 when it did not exit normally
};

// Runs `command` (the program first, then its arguments) with the current
// environment plus `environment` ("NAME=value" entries, replacing any of the
// same name), and waits for it at most `timeoutSeconds`, then kills it.
ProgramRun runProgram(std::vector<std::string> const& command,
                      std::vector<std::string> const& environment, int timeoutSeconds);

// A fresh, empty directory for one test's files.
std::string makeTempDirectory();

// The whole content of a file; empty if it does not exist.
std::string readFile(std::string const& path);
bool fileExists(std::string const& path);

#endif
