#ifndef IPC_SOAK_TESTS_SUPPORT_SIMULATED_CAMERA_H
#define IPC_SOAK_TESTS_SUPPORT_SIMULATED_CAMERA_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

// A test fixture on the stand-in's in-process simulated camera: the camera
// starts from its defaults with the journal on, and the client library is up
// (core, logging, IPC: the journal's first three lines) for each test.
class SimulatedCameraTest : public testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Every journal line since the last call of clearJournal (or SetUp).
    static std::vector<std::string> journal();
    static void clearJournal();
    // How many journal lines start with `function` followed by "(".
    static std::size_t calls(std::vector<std::string> const& lines, std::string const& function);

    void* ipcHandle = nullptr;
    void* logHandle = nullptr;
};

#endif
