// The trace layer's state: what KOVRA_TRACE asks for (read once, when the
// layer is loaded), the next definition of every function of the client
// library, and what the layer observes of the program's calls through it.
//
// The layer lands in every process a launch starts (timeout, a shell, the
// children a program forks). It stays silent, opens no file and writes
// nothing, until the process first calls kovra_core_init: a process with no
// client library behind it never wakes it. A child forked by a traced
// program traces on into files of its own: %p in a name is its process id,
// and a name without %p gets ".PID" added. Before an exec the files are
// written, and the new program, if it wakes the layer, carries them on: its
// statistics add to them, its journal and timeline append.
#pragma once

#include <kovra/kovra_api.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/functions.h"
#include "common/ledger.h"
#include "observe/describe.h"
#include "observe/observer.h"
#include "trace/config.h"
#include "trace/pace.h"

namespace kovra_sim::trace {

// The definition that the layer stands in front of, by function id:
// resolved once with dlsym(RTLD_NEXT) when the layer is loaded; null for a
// function the client library lacks.
extern void* next[kFunctionCount];

// The layer's own statuses, those the stand-in gives for the same causes:
// KOVRA_TRACE does not parse (kovra_core_init and kovra_core_logging_init
// return it), the layer ran out of memory, and a function the client
// library lacks or an unexpected error inside the layer.
constexpr int32_t kBadConfig = -6;
constexpr int32_t kNoResources = -10;
constexpr int32_t kInternal = -11;

class Tracer final : public Observer, public Names {
public:
    // Takes on `config` in this process, opening its files; error() says
    // what is wrong, if anything, and then nothing is applied. A `forked`
    // child names files without %p after itself; a `continued` process
    // (exec'd by a traced one) adds to what it wrote before.
    Tracer(TraceConfig const& config, bool forked, bool continued);

    std::string const& error() const { return error_; }

    // Runs `forward` (the call of the next definition) unless a fault of
    // fail= fires for `function`, after latency=, and for a request under
    // rate= once it is due; records it in the statistics and, with
    // `describe(entry, status)`, in the journal.
    template <class Forward, class Describe>
    int32_t call(int function, Forward&& forward, Describe&& describe) noexcept;

    // A target announced itself through a handler the layer wrapped.
    void announced(char const* service, char const* target, uint8_t flag, char const* address);

    // Names handles and arrays as the journal shows them: a handle gets the
    // next number when an init function hands it out, an array when the
    // layer first sees it.
    void opened(void const* handle);
    uint32_t handle(void const* p) override;
    uint32_t array(void const* p) override;
    void released(void const* array);

    // At kovra_core_deinit or at exit, whichever comes first: the files.
    void finish();

private:
    std::string error_;
    Ledger ledger_;
    bool faults_ = false;  // whether fail= set any: calls are counted only for them
    uint32_t latency_us_ = 0;
    std::unique_ptr<Pace> pace_;  // rate=: when each request is due
    std::mutex names_mutex_;      // guards the members below
    std::unordered_map<void const*, uint32_t> handles_, arrays_;
    uint32_t last_handle_ = 0, last_array_ = 0;
    std::once_flag finished_;
};

// The tracer once the layer is awake, else null: one relaxed load, the only
// work the layer adds to a call when it is off. kChildWakes: a forked
// child's, which wakes at its first call.
inline std::atomic<Tracer*> active{nullptr};
inline Tracer* const kChildWakes = reinterpret_cast<Tracer*>(alignof(Tracer));

// Wakes the layer at the process's first kovra_core_init (or
// kovra_core_logging_init): 0, or kBadConfig once it said on stderr what is
// wrong with KOVRA_TRACE or its files.
int32_t wake();
// The tracer of a forked child, woken at its first call; null if it cannot be.
Tracer* wake_child();
// Before an exec: the files written, and `env` (the new program's
// environment) told to carry them on. after_failed_exec() wakes the layer
// again when the exec did not happen.
void before_exec(std::vector<std::string>& env);
void after_failed_exec();

template <class Forward, class Describe>
int32_t Tracer::call(int function, Forward&& forward, Describe&& describe) noexcept {
    try {
        Clock::time_point planned;
        bool const paced = pace_ && is_request(function);
        if (paced) {
            planned = pace_->next();
            std::this_thread::sleep_until(planned);
        }
        return observe(
            faults_ ? &ledger_ : nullptr, function,
            [&] {
                if (latency_us_)
                    std::this_thread::sleep_for(std::chrono::microseconds(latency_us_));
                return forward();
            },
            describe, paced ? &planned : nullptr);
    } catch (std::bad_alloc const&) {
        return kNoResources;
    } catch (...) {
        return kInternal;
    }
}

}  // namespace kovra_sim::trace
