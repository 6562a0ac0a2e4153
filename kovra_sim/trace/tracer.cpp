#include "trace/tracer.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

#include "trace/config.h"

namespace kovra_sim::trace {

void* next[kFunctionCount];

namespace {

Tracer* loaded = nullptr;  // never destroyed: calls made while the process exits still find it

// When the layer is loaded: the next definitions, then KOVRA_TRACE.
__attribute__((constructor)) void load() {
    for (int id = 0; id < kFunctionCount; ++id) next[id] = dlsym(RTLD_NEXT, function_info(id).name);
    char const* const directives = std::getenv("KOVRA_TRACE");
    if (!directives || !*directives) return;
    for (int id = 0; id < kFunctionCount; ++id) {
        if (!next[id])
            std::fprintf(stderr, "kovra-trace: the client library has no %s\n",
                         function_info(id).name);
    }
    try {
        loaded = new Tracer(directives);
        if (loaded->error().empty()) active.store(loaded);
    } catch (...) {
        std::fprintf(stderr, "kovra-trace: cannot start; calls go through untraced\n");
    }
}

// A program that never calls kovra_core_deinit still gets its files.
__attribute__((destructor)) void unload() {
    if (Tracer* t = active.load()) t->finish();
}

}  // namespace

std::string const& config_error() {
    static std::string const none;
    return loaded ? loaded->error() : none;
}

Tracer::Tracer(char const* directives) : Observer(true) {
    TraceConfig config;
    if (!parse_trace_config(directives, config, error_) || !open(config.outputs, error_)) return;
    for (Fault const& f : config.faults) ledger_.fail(f.function, f.nth, f.status);
    latency_us_ = config.latency_us;
}

void Tracer::announced(char const* service, char const* target, uint8_t flag, char const* address) {
    try {
        if (stats.on())
            stats.announced(std::string(service ? service : "?") + ":" + (target ? target : "?"));
        if (journal.on()) {
            Entry e("announce");
            e.text(service).text(target).raw(std::to_string(flag)).text(address);
            note(e.done());
        }
    } catch (...) {
        // An announcement the layer cannot record still reaches the program.
    }
}

void Tracer::opened(void const* handle) {
    std::lock_guard lock(names_mutex_);
    handles_[handle] = ++last_handle_;
}

uint32_t Tracer::handle(void const* p) {
    std::lock_guard lock(names_mutex_);
    auto const it = handles_.find(p);
    return it == handles_.end() ? 0 : it->second;
}

uint32_t Tracer::array(void const* p) {
    std::lock_guard lock(names_mutex_);
    auto const [it, added] = arrays_.emplace(p, last_array_ + 1);
    if (added) ++last_array_;
    return it->second;
}

void Tracer::released(void const* array) {
    std::lock_guard lock(names_mutex_);
    arrays_.erase(array);
}

void Tracer::finish() {
    std::call_once(finished_, [this] {
        std::vector<std::string> say;
        write_files(true, "trace", nlohmann::json::object(), say);
        for (std::string const& line : say) std::fprintf(stderr, "kovra-trace: %s\n", line.c_str());
    });
}

}  // namespace kovra_sim::trace
