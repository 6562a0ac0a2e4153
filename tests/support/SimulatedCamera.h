#pragma once

#include <gtest/gtest.h>
#include <kovra/kovra_core.h>
#include <kovra_sim/control.h>

#include <string>
#include <vector>

// A test on the in-process simulated camera, reset, with the client library
// up (the journal, on and empty, calls the log handle #1 and the IPC handle #2).
class SimulatedCamera : public testing::Test {
protected:
    void SetUp() override {
        kovra_sim_reset();
        ASSERT_EQ(kovra_core_init(), 0);
        ASSERT_EQ(kovra_core_logging_init("IPC_SOAK_TEST", &logHandle), 0);
        ASSERT_EQ(kovra_core_ipc_initiator_init(logHandle, nullptr, &ipcHandle), 0);
        kovra_sim_journal_enable(1);
    }
    void TearDown() override {
        kovra_core_ipc_deinit(ipcHandle);
        kovra_core_logging_deinit(logHandle);
        kovra_core_deinit();
        kovra_sim_reset();
    }

    // The journal's entries, oldest first (kovra_sim_journal_clear empties it).
    static std::vector<std::string> journal() {
        std::vector<std::string> lines(kovra_sim_journal_size());
        for (std::size_t i = 0; i < lines.size(); ++i) {
            lines[i].resize(kovra_sim_journal_entry(i, nullptr, 0));
            kovra_sim_journal_entry(i, lines[i].data(), lines[i].size() + 1);
        }
        return lines;
    }

    // The camera's whole configuration, one "key=values" line per setting.
    static std::string snapshot() {
        std::string text(kovra_sim_snapshot(nullptr, 0), '\0');
        kovra_sim_snapshot(text.data(), text.size() + 1);
        return text;
    }

    void* logHandle = nullptr;
    void* ipcHandle = nullptr;
};
