// The kovra_sim_* controls of control.h.
#include <cstring>

#include "camera.h"
#include "catalog.h"
#include "config.h"

#pragma GCC visibility push(default)
#include "kovra_sim/control.h"
#pragma GCC visibility pop

using namespace kovra_sim;

namespace {

size_t fill(std::string const& text, char* buffer, size_t len) {
    if (buffer && len > 0) {
        size_t const n = std::min(text.size(), len - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return text.size();
}

int known(char const* function) { return function ? function_id(function) : -1; }

}  // namespace

int32_t kovra_sim_configure(char const* directives) {
    Camera& cam = camera();
    Config config;
    std::string error;
    if (!directives || !parse_config(directives, cam.store, config, error)) {
        return KOVRA_SIM_STATUS_BAD_CONFIG;
    }
    cam.apply(config);
    return KOVRA_SIM_STATUS_OK;
}

void kovra_sim_reset(void) { camera().reset(); }

int32_t kovra_sim_fail_always(char const* function, int32_t status) {
    return kovra_sim_fail_nth(function, 0, status);
}

int32_t kovra_sim_fail_nth(char const* function, uint32_t n, int32_t status) {
    int const id = known(function);
    if (id < 0 || status == KOVRA_SIM_STATUS_OK) return KOVRA_SIM_STATUS_BAD_ARGUMENT;
    camera().faults.fail(id, n, status);
    return KOVRA_SIM_STATUS_OK;
}

void kovra_sim_clear_faults(void) { camera().faults.clear(); }

uint32_t kovra_sim_call_count(char const* function) {
    int const id = known(function);
    return id < 0 ? 0 : camera().faults.count(id);
}

void kovra_sim_journal_enable(int on) { camera().journal.enable(on == 2 ? 2 : on != 0); }

void kovra_sim_journal_clear(void) { camera().journal.clear(); }

size_t kovra_sim_journal_size(void) { return camera().journal.size(); }

size_t kovra_sim_journal_entry(size_t index, char* buffer, size_t len) {
    return fill(camera().journal.entry(index), buffer, len);
}

int32_t kovra_sim_setting_set(char const* key, char const* values) {
    if (!key || !values) return KOVRA_SIM_STATUS_BAD_ARGUMENT;
    Camera& cam = camera();
    std::vector<Value> parsed;
    std::string error;
    if (!cam.store.parse(key, values, parsed, error)) return KOVRA_SIM_STATUS_BAD_ARGUMENT;
    cam.store.put(key, std::move(parsed));
    return KOVRA_SIM_STATUS_OK;
}

size_t kovra_sim_setting_get(char const* key, char* buffer, size_t len) {
    std::string values;
    if (!key || !camera().store.get(key, values)) values.clear();
    return fill(values, buffer, len);
}

size_t kovra_sim_snapshot(char* buffer, size_t len) {
    return fill(camera().store.snapshot(), buffer, len);
}

int32_t kovra_sim_restart_target(char const* target) {
    std::string error;
    int const service = target ? parse_target(target, error) : -1;
    if (service < 0) return KOVRA_SIM_STATUS_BAD_ARGUMENT;
    camera().restart(service);
    return KOVRA_SIM_STATUS_OK;
}

uint32_t kovra_sim_outstanding_arrays(void) { return camera().registry.outstanding_arrays(); }
