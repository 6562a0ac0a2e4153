// The trace layer's state: what KOVRA_TRACE asks for (read once, when the
// layer is loaded), the next definition of every function of the client
// library, and what the layer observes of the program's calls through it.
#pragma once

#include <kovra/kovra_api.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <unordered_map>

#include "common/functions.h"
#include "common/ledger.h"
#include "observe/describe.h"
#include "observe/observer.h"

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
    // Applies the directives of KOVRA_TRACE; error() says what is wrong with
    // them, if anything, and then nothing is applied.
    explicit Tracer(char const* directives);

    std::string const& error() const { return error_; }

    // Runs `forward` (the call of the next definition) unless a fault of
    // fail= fires for `function`, after latency=; records it in the
    // statistics and, with `describe(entry, status)`, in the journal.
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
    uint32_t latency_us_ = 0;
    std::mutex names_mutex_;  // guards the members below
    std::unordered_map<void const*, uint32_t> handles_, arrays_;
    uint32_t last_handle_ = 0, last_array_ = 0;
    std::once_flag finished_;
};

// The tracer while KOVRA_TRACE is set and parses, else null: one relaxed
// load, the only work the layer adds to a call when it is off.
inline std::atomic<Tracer*> active{nullptr};
// What is wrong with KOVRA_TRACE, or "".
std::string const& config_error();

template <class Forward, class Describe>
int32_t Tracer::call(int function, Forward&& forward, Describe&& describe) noexcept {
    try {
        return observe(
            ledger_, function,
            [&] {
                if (latency_us_)
                    std::this_thread::sleep_for(std::chrono::microseconds(latency_us_));
                return forward();
            },
            describe);
    } catch (std::bad_alloc const&) {
        return kNoResources;
    } catch (...) {
        return kInternal;
    }
}

}  // namespace kovra_sim::trace
