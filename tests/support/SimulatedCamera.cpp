#include "SimulatedCamera.h"

#include <kovra_sim/control.h>

#include <kovra/kovra_core.h>

void SimulatedCameraTest::SetUp() {
    kovra_sim_reset();
    kovra_sim_journal_enable(1);
    ASSERT_EQ(kovra_core_init(), 0);
    ASSERT_EQ(kovra_core_logging_init("IPC_SOAK_TEST", &logHandle), 0);
    ASSERT_EQ(kovra_core_ipc_initiator_init(logHandle, nullptr, &ipcHandle), 0);
}

void SimulatedCameraTest::TearDown() {
    kovra_core_ipc_deinit(ipcHandle);
    kovra_core_logging_deinit(logHandle);
    kovra_core_deinit();
    kovra_sim_reset();
}

std::vector<std::string> SimulatedCameraTest::journal() {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < kovra_sim_journal_size(); ++i) {
        std::string line(kovra_sim_journal_entry(i, nullptr, 0), '\0');
        kovra_sim_journal_entry(i, &line[0], line.size() + 1);
        lines.push_back(line);
    }
    return lines;
}

void SimulatedCameraTest::clearJournal() { kovra_sim_journal_clear(); }

std::size_t SimulatedCameraTest::calls(std::vector<std::string> const& lines,
                                       std::string const& function) {
    std::size_t count = 0;
    for (auto const& line : lines) {
        count += line.compare(0, function.size() + 1, function + "(") == 0 ? 1 : 0;
    }
    return count;
}
