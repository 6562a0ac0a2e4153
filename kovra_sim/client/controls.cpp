// The kovra_sim_* controls of control.h. Like the client library's own
// functions, none lets an exception out.
#include <cstring>
#include <new>

#include "camera/config.h"
#include "client/library.h"

#pragma GCC visibility push(default)
#include <kovra_sim/control.h>
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

// Runs a control; `failed` is what it returns if something throws.
template <class Result, class Body>
Result guarded(Result failed, Body&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failed;
    }
}

template <class Body>
void guarded(Body&& body) noexcept {
    guarded(0, [&] {
        body();
        return 0;
    });
}

}  // namespace

int32_t kovra_sim_configure(char const* directives) {
    return guarded<int32_t>(KOVRA_SIM_STATUS_BAD_CONFIG, [&] {
        std::string error;
        return directives && library().configure(directives, error) ? KOVRA_SIM_STATUS_OK
                                                                    : KOVRA_SIM_STATUS_BAD_CONFIG;
    });
}

void kovra_sim_reset(void) {
    guarded([] { library().reset(); });
}

int32_t kovra_sim_fail_always(char const* function, int32_t status) {
    return kovra_sim_fail_nth(function, 0, status);
}

int32_t kovra_sim_fail_nth(char const* function, uint32_t n, int32_t status) {
    return guarded<int32_t>(KOVRA_SIM_STATUS_NO_RESOURCES, [&] {
        int const id = known(function);
        if (id < 0 || status == KOVRA_SIM_STATUS_OK) return KOVRA_SIM_STATUS_BAD_ARGUMENT;
        library().ledger.fail(id, n, status);
        return KOVRA_SIM_STATUS_OK;
    });
}

void kovra_sim_clear_faults(void) {
    guarded([] { library().ledger.clear_faults(); });
}

uint32_t kovra_sim_call_count(char const* function) {
    return guarded<uint32_t>(0, [&] {
        int const id = known(function);
        return id < 0 ? 0 : library().ledger.count(id);
    });
}

void kovra_sim_journal_enable(int on) {
    guarded([&] { library().journal.enable(on == 2 ? 2 : on != 0); });
}

void kovra_sim_journal_clear(void) {
    guarded([] { library().journal.clear(); });
}

size_t kovra_sim_journal_size(void) {
    return guarded<size_t>(0, [] { return library().journal.size(); });
}

size_t kovra_sim_journal_entry(size_t index, char* buffer, size_t len) {
    return guarded<size_t>(0, [&] { return fill(library().journal.line(index), buffer, len); });
}

int32_t kovra_sim_setting_set(char const* key, char const* values) {
    return guarded<int32_t>(KOVRA_SIM_STATUS_NO_RESOURCES, [&] {
        if (!key || !values) return KOVRA_SIM_STATUS_BAD_ARGUMENT;
        Settings& settings = library().camera.settings;
        int const instance = settings.find(key);
        std::vector<Value> parsed;
        std::string error;
        if (instance < 0 || !settings.parse(instance, values, parsed, error)) {
            return KOVRA_SIM_STATUS_BAD_ARGUMENT;
        }
        settings.put(instance, std::move(parsed));
        return KOVRA_SIM_STATUS_OK;
    });
}

size_t kovra_sim_setting_get(char const* key, char* buffer, size_t len) {
    return guarded<size_t>(0, [&] {
        Settings const& settings = library().camera.settings;
        int const instance = key ? settings.find(key) : -1;
        return fill(instance < 0 ? std::string() : format_values(settings.values(instance)), buffer,
                    len);
    });
}

size_t kovra_sim_snapshot(char* buffer, size_t len) {
    return guarded<size_t>(
        0, [&] { return fill(library().camera.settings.snapshot_text(), buffer, len); });
}

int32_t kovra_sim_restart_target(char const* target) {
    return guarded<int32_t>(KOVRA_SIM_STATUS_NO_RESOURCES, [&] {
        std::string error;
        int const service = target ? parse_target(target, error) : -1;
        if (service < 0) return KOVRA_SIM_STATUS_BAD_ARGUMENT;
        library().camera.restart(service);
        return KOVRA_SIM_STATUS_OK;
    });
}

uint32_t kovra_sim_outstanding_arrays(void) {
    return guarded<uint32_t>(0, [] { return library().arrays.outstanding(); });
}
