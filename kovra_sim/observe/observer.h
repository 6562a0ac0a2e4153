// What a run observes of the calls it makes (the trace layer, the client
// library) or serves (the camera daemon), and the files it writes them to:
// the journal, streamed as calls complete; the statistics, written at the
// end and at checkpoints; and the timeline, a line per interval.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "common/directives.h"
#include "common/ledger.h"
#include "observe/journal.h"
#include "observe/stats.h"
#include "observe/timeline.h"

namespace kovra_sim {

class Observer {
public:
    using Clock = std::chrono::steady_clock;

    // A `stamped` observer's journal lines begin with when the call started,
    // on the clock (UTC) and in seconds since the observer was made ("@S"),
    // and how long it took ("+MICROSECONDSus").
    explicit Observer(bool stamped = false) : stamped_(stamped) {}

    Journal journal;
    Stats stats;

    // One call, observed: `body` runs unless `ledger` injects a fault for
    // `function`; the call is timed into the statistics and, as
    // `describe(entry, status)` writes it, added to the journal.
    template <class Body, class Describe>
    int32_t observe(Ledger& ledger, int function, Body&& body, Describe&& describe) {
        return observe(&ledger, function, body, describe);
    }
    // The same, counted and faulted only when `ledger` is given.
    template <class Body, class Describe>
    int32_t observe(Ledger* ledger, int function, Body&& body, Describe&& describe,
                    Clock::time_point const* planned = nullptr);
    // A journal line about what is no call (an announcement), stamped like
    // the calls' lines.
    void note(std::string line);

    // Checks every file `outputs` names, then opens the journal and starts
    // the timeline; false with the reason (naming the file) and nothing
    // applied. Names are taken as they are (%p expanded by the caller). A
    // `continued` journal is appended to, not begun anew.
    bool open(Outputs const& outputs, std::string& error, bool continued = false);
    // Figures of the same run recorded before (by this process, before an
    // exec), which the statistics file adds to its own.
    void carry(Report before);

protected:
    // The journal completed and closed (`closing`) or flushed, the
    // statistics written (from `source`, with the fields of `extra`), and,
    // when closing, the timeline's last line written. One line in `say` for
    // each file that could not be written, naming it and why; false if any.
    bool write_files(bool closing, char const* source, nlohmann::json const& extra,
                     std::vector<std::string>& say);
    // Forgets the files and stops the statistics.
    void forget_files();

private:
    // The most a stamp takes, cut there should a time out of all reason
    // take more.
    static constexpr size_t kStampBytes = 160;
    static_assert(kStampBytes <= Entry::kPrefixBytes);
    // Writes the stamp of a call begun at `start` that took `took` to `out`;
    // its end.
    char* stamp_call(Clock::time_point start, Clock::duration took, char* out) const;
    // Writes the stamp for `at`, without a call's length, to `out`; its end.
    char* stamp_of(Clock::time_point at, char* out) const;

    bool const stamped_;
    Clock::time_point const made_ = Clock::now();
    std::chrono::system_clock::time_point const made_clock_ = std::chrono::system_clock::now();
    Timeline timeline_;
    std::mutex mutex_;  // guards the members below
    std::optional<std::string> journal_path_;
    std::optional<std::string> stats_path_;
    int stats_lock_ = -1;  // on the statistics file while the run names it
    std::optional<Report> carried_;
    bool timeline_on_ = false;
};

// The start of this process's run, as a timeline marks it.
timeline::Run this_run(std::chrono::microseconds interval);

template <class Body, class Describe>
int32_t Observer::observe(Ledger* ledger, int function, Body&& body, Describe&& describe,
                          Clock::time_point const* planned) {
    bool const timed = stats.on() || stamped_;
    auto const start = timed ? Clock::now() : Clock::time_point();
    int32_t status = ledger ? ledger->on_call(function) : 0;
    if (status == 0) status = body();
    auto const took = timed ? Clock::now() - start : Clock::duration();
    if (stats.on()) {
        if (planned) {
            stats.record_paced(function, status, took, start + took - *planned,
                               std::max(start - *planned, Clock::duration::zero()));
        } else {
            stats.record(function, status, took);
        }
    }
    if (journal.on()) {
        Entry e([&](char* out) { return stamped_ ? stamp_call(start, took, out) : out; },
                function_info(function).name);
        describe(e, status);
        journal.add(e.end(status));
    }
    return status;
}

}  // namespace kovra_sim
