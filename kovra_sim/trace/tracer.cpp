#include "trace/tracer.h"

#include <dlfcn.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <system_error>
#include <thread>

#include "common/files.h"
#include "stats/report_files.h"

namespace kovra_sim::trace {

void* next[kFunctionCount];

namespace {

// What KOVRA_TRACE asks for, read when the layer is loaded (made then, and
// never destroyed: calls made while the process exits still find it).
struct Layer {
    std::optional<TraceConfig> config;
    std::string error;  // what is wrong with KOVRA_TRACE or its files
    // This process was exec'd by a traced one that wrote its files first.
    bool continues = false;
    bool said = false;  // the error, on stderr
    std::mutex waking;  // orders waking up
};
Layer& layer() {
    static Layer* const made = new Layer();
    return *made;
}

// The name of the variable that tells an exec'd program to carry on.
constexpr char kContinue[] = "KOVRA_TRACE_CONTINUE";

// When the layer is loaded: the next definitions and KOVRA_TRACE, nothing
// said and nothing opened.
__attribute__((constructor)) void load() {
    for (int id = 0; id < kFunctionCount; ++id) next[id] = dlsym(RTLD_NEXT, function_info(id).name);
    Layer& l = layer();
    if (char const* const carry = std::getenv(kContinue)) {
        l.continues = std::atol(carry) == long(::getpid());
        ::unsetenv(kContinue);
    }
    char const* const directives = std::getenv("KOVRA_TRACE");
    if (!directives || !*directives) return;
    TraceConfig parsed;
    if (parse_trace_config(directives, parsed, l.error)) l.config = std::move(parsed);
}

// A program that never calls kovra_core_deinit still gets its files; a
// layer that never woke writes nothing.
__attribute__((destructor)) void unload() {
    Tracer* const t = active.load();
    if (t && t != kChildWakes) t->finish();
}

void in_forked_child() {
    if (active.load()) active.store(kChildWakes);
}

// A tracer for this process; null, having said why, if it cannot start.
Tracer* start(bool forked) {
    try {
        auto* t = new Tracer(*layer().config, forked, layer().continues);
        if (t->error().empty()) return t;
        std::fprintf(stderr, "kovra-trace: %s\n", t->error().c_str());
        delete t;
    } catch (...) {
        std::fprintf(stderr, "kovra-trace: cannot start; calls go through untraced\n");
    }
    return nullptr;
}

// Whether the program has a handler of its own for SIGINT.
bool catches_sigint() {
    struct sigaction now {};
    return ::sigaction(SIGINT, nullptr, &now) == 0 && now.sa_handler != SIG_DFL &&
           now.sa_handler != SIG_IGN;
}

// duration=: at the deadline the program gets SIGINT, as from a Ctrl-C, and
// only once it catches it: before its handler is in, SIGINT would end it
// without its report, and once that handler has taken a stop signal (and
// put the default back) another would end it at once. A program that exits
// first never hears of it.
void end_after(std::chrono::microseconds duration) {
    auto const deadline = std::chrono::steady_clock::now() + duration;
    // Made with every signal blocked, so that none meant for the program's
    // own threads lands on this one.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    try {
        std::thread([deadline] {
            using namespace std::chrono_literals;
            std::this_thread::sleep_until(deadline);
            while (!catches_sigint()) std::this_thread::sleep_for(20ms);
            ::kill(::getpid(), SIGINT);
        }).detach();
    } catch (std::system_error const&) {
        std::fprintf(stderr, "kovra-trace: no thread to end the run after duration=\n");
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

int32_t wake() {
    Layer& l = layer();
    std::lock_guard lock(l.waking);
    if (active.load() || (!l.config && l.error.empty())) return 0;
    if (!l.config) {
        if (!std::exchange(l.said, true))
            std::fprintf(stderr, "kovra-trace: KOVRA_TRACE: %s\n", l.error.c_str());
        return kBadConfig;
    }
    for (int id = 0; id < kFunctionCount; ++id) {
        if (!next[id])
            std::fprintf(stderr, "kovra-trace: the client library has no %s\n",
                         function_info(id).name);
    }
    Tracer* const t = start(false);
    if (!t) {
        l.config.reset();  // said once, refused from now on
        l.error = "its files cannot be opened";
        l.said = true;
        return kBadConfig;
    }
    static std::once_flag registered;
    std::call_once(registered, [] { pthread_atfork(nullptr, nullptr, in_forked_child); });
    active.store(t);
    if (l.config->duration) end_after(*l.config->duration);
    return 0;
}

Tracer* wake_child() {
    std::lock_guard lock(layer().waking);
    Tracer* t = active.load();
    if (t != kChildWakes) return t;
    t = start(true);
    active.store(t);
    return t;
}

void before_exec(std::vector<std::string>& env) {
    std::lock_guard lock(layer().waking);
    Tracer* const t = active.load();
    if (!t || t == kChildWakes) return;
    t->finish();
    active.store(nullptr);
    env.push_back(std::string(kContinue) + "=" + std::to_string(::getpid()));
}

void after_failed_exec() {
    {
        std::lock_guard lock(layer().waking);
        layer().continues = true;
    }
    wake();
}

namespace {

// Moved on whenever a handle is numbered anew, or a tracer made: what a
// thread remembers of a handle's number holds while it stays the same.
std::atomic<uint64_t> handles_version{1};

// The numbers a thread looked up last, by the handle's address.
struct KnownHandle {
    uint64_t version = 0;
    void const* handle = nullptr;
    uint32_t number = 0;
};
thread_local std::array<KnownHandle, 32> known_handles;  // by the top 5 bits of a hash

}  // namespace

Tracer::Tracer(TraceConfig const& trace, bool forked, bool continued) : Observer(true) {
    handles_version.fetch_add(1);
    long const pid = long(::getpid());
    auto const named = [&](std::optional<std::string>& name) {
        if (!name) return;
        bool const own = name->find("%p") != std::string::npos;
        *name = expand_name(*name, pid) + (forked && !own ? "." + std::to_string(pid) : "");
    };
    Outputs outputs = trace.outputs;
    for (auto* name : {&outputs.journal, &outputs.stats, &outputs.timeline, &outputs.prom})
        named(*name);
    if (continued && outputs.stats) {
        try {
            carry(stats_files::whole(*outputs.stats));
        } catch (std::exception const&) {
            // Nothing written before the exec: nothing to add to.
        }
    }
    if (!open(outputs, error_, continued)) return;
    for (Fault const& f : trace.faults) ledger_.fail(f.function, f.nth, f.status);
    faults_ = !trace.faults.empty();
    latency_us_ = trace.latency_us;
    if (trace.rate) pace_ = std::make_unique<Pace>(trace.rate, trace.ramp);
}
void Tracer::announced(char const* service, char const* target, uint8_t flag, char const* address) {
    try {
        if (stats.on())
            stats.announced(std::string(service ? service : "?") + ":" + (target ? target : "?"));
        if (journal.on()) {
            Entry e("announce");
            e.text(service).text(target).number(flag).text(address);
            note(e.done());
        }
    } catch (...) {
        // An announcement the layer cannot record still reaches the program.
    }
}

void Tracer::opened(void const* handle) {
    std::lock_guard lock(names_mutex_);
    handles_[handle] = ++last_handle_;
    handles_version.fetch_add(1);
}

uint32_t Tracer::handle(void const* p) {
    uint64_t const version = handles_version.load(std::memory_order_acquire);
    KnownHandle& known = known_handles[(uintptr_t(p) * 0x9E3779B97F4A7C15u) >> 59];
    if (known.version == version && known.handle == p) return known.number;
    uint32_t number = 0;
    {
        std::lock_guard lock(names_mutex_);
        auto const it = handles_.find(p);
        if (it != handles_.end()) number = it->second;
    }
    known = {version, p, number};
    return number;
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
