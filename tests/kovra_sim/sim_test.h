// Shared set-up of the stand-in's tests: a fresh camera, a log handle and an
// IPC connection, and small readers for the journal and the settings.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <kovra/kovra_api.h>
#include "kovra_sim/control.h"

class SimTest : public ::testing::Test {
protected:
    void SetUp() override {
        kovra_sim_reset();
        ASSERT_EQ(kovra_core_logging_init("kovra_sim_tests", &log_), 0);
        ASSERT_EQ(kovra_core_ipc_initiator_init(log_, nullptr, &ipc_), 0);
    }
    void TearDown() override { kovra_sim_reset(); }

    static std::vector<std::string> journal() {
        std::vector<std::string> lines;
        for (size_t i = 0; i < kovra_sim_journal_size(); ++i) {
            std::string line(kovra_sim_journal_entry(i, nullptr, 0) + 1, '\0');
            line.resize(kovra_sim_journal_entry(i, line.data(), line.size()));
            lines.push_back(line);
        }
        return lines;
    }
    static std::string setting(char const* key) {
        std::string values(kovra_sim_setting_get(key, nullptr, 0) + 1, '\0');
        values.resize(kovra_sim_setting_get(key, values.data(), values.size()));
        return values;
    }
    static std::string snapshot() {
        std::string text(kovra_sim_snapshot(nullptr, 0) + 1, '\0');
        text.resize(kovra_sim_snapshot(text.data(), text.size()));
        return text;
    }

    void* log_ = nullptr;
    void* ipc_ = nullptr;
};

// Opens an initiator of service `svc` in the fixture's connection.
#define OPEN(svc, out) ASSERT_EQ(kovra_api_##svc##_initiator_init(ipc_, log_, &(out), 0, 0), 0)
