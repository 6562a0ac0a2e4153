// kovra-stats --check: thresholds over a statistics file or a timeline, and
// over how a run moved against a base run. A gate must not pass on nothing:
// a file that cannot be read, a run with too few requests, a selection with
// no calls, too few intervals to compare: each fails, saying so.
#include <fnmatch.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <iterator>
#include <limits>
#include <map>

#include "common/functions.h"
#include "tools/kovra-stats/stats_tool.h"

namespace kovra_sim::stats_files {
namespace {

struct MetricInfo {
    char const* name;
    Threshold::Metric metric;
    double q;
};

constexpr MetricInfo kMetrics[] = {
    {"p50", Threshold::latency, 0.5},
    {"p90", Threshold::latency, 0.9},
    {"p95", Threshold::latency, 0.95},
    {"p99", Threshold::latency, 0.99},
    {"p99.9", Threshold::latency, 0.999},
    {"p999", Threshold::latency, 0.999},
    {"max", Threshold::latency, 0},
    {"failures", Threshold::failures, 0},
    {"requests", Threshold::requests, 0},
    {"rps", Threshold::rps, 0},
    {"degradation", Threshold::degradation, 0},
};

struct Unit {
    char const* name;
    double scale;
};
constexpr Unit kLatencyUnits[] = {{"", 1}, {"us", 1}, {"ms", 1e3}, {"s", 1e6}};
// As KOVRA_TRACE's durations: seconds if none.
constexpr Unit kDurationUnits[] = {{"", 1},  {"h", 3600},  {"m", 60},
                                   {"s", 1}, {"ms", 1e-3}, {"us", 1e-6}};

// The forms a metric takes, for a message.
std::string forms(Threshold::Metric metric, std::string const& m) {
    switch (metric) {
        case Threshold::latency:
            return m + "[(FUNCTIONS)] > LATENCY, or " + m + "[(FUNCTIONS)] +PERCENT% with a base";
        case Threshold::failures:
            return "failures[(FUNCTIONS[, STATUS])] > COUNT or > PERCENT%, or +COUNT or "
                   "+POINTS% with a base";
        case Threshold::requests:
            return "requests[(FUNCTIONS)] < COUNT";
        case Threshold::rps:
            return "rps[(FUNCTIONS)] < RATE, or rps[(FUNCTIONS)] -PERCENT% with a base";
        case Threshold::degradation:
            break;
    }
    return "degradation[(FUNCTIONS)] > PERCENT%";
}

bool matches(std::string const& glob, int function) {
    return fnmatch(glob.c_str(), function_info(function).name, 0) == 0;
}

// An expression may be written over several lines, in a CI file say.
constexpr char const* kSpace = " \t\r\n";

// A recursive-descent reading of the expression, remembering where each
// clause began so that a message can quote it and point into it.
class Parser {
public:
    explicit Parser(std::string const& text) : s_(text) {}

    void parse(std::vector<Threshold>& out, std::optional<double>& skip_s, std::string& skip_text,
               std::optional<double>& least) {
        space();
        if (at_ == s_.size()) throw CheckError("an empty expression checks nothing", 0);
        do {
            clause_ = at_;
            space();
            size_t const m = at_;
            std::string const metric = word();
            if (metric.empty()) fail(m, "expected a threshold, METRIC[(FUNCTIONS)] > LIMIT");
            if (metric == "skip") {
                if (skip_s) fail(m, "skip= is given twice");
                skip_s = duration();
                size_t const from = s_.find_first_not_of(kSpace, s_.find('=', m) + 1);
                skip_text = s_.substr(from, at_ - from);
            } else {
                out.push_back(threshold(metric, m));
                Threshold const& t = out.back();
                if (t.metric == Threshold::requests && t.who.empty())
                    least = std::max(least.value_or(0), t.limit);
            }
            space();
        } while (eat(','));
        if (at_ < s_.size()) fail(at_, "expected ',' before another threshold");
        if (out.empty()) fail(0, "no thresholds, only where to begin");
    }

private:
    [[noreturn]] void fail(size_t at, std::string const& why) const {
        std::string const written = clause();
        throw CheckError(written.empty() ? why : "\"" + written + "\": " + why, at);
    }
    // The clause as written: up to the next ',' outside parentheses.
    std::string clause() const {
        size_t end = clause_;
        for (int depth = 0; end < s_.size() && (s_[end] != ',' || depth > 0); ++end)
            depth += s_[end] == '(' ? 1 : s_[end] == ')' ? -1 : 0;
        size_t const b = s_.find_first_not_of(kSpace, clause_);
        std::string text = b < end ? s_.substr(b, end - b) : "";
        return text.erase(text.find_last_not_of(kSpace) + 1);
    }
    void space() { at_ = std::min(s_.find_first_not_of(kSpace, at_), s_.size()); }
    bool eat(char c) {
        space();
        if (at_ == s_.size() || s_[at_] != c) return false;
        ++at_;
        return true;
    }
    char peek() const { return at_ < s_.size() ? s_[at_] : '\0'; }
    // A metric or a unit: letters, digits, '_' and '.'.
    std::string word() {
        size_t const b = at_;
        while (at_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[at_])) ||
                                   s_[at_] == '_' || s_[at_] == '.'))
            ++at_;
        return s_.substr(b, at_ - b);
    }
    // A number of digits with a decimal point, if any; no sign, no exponent.
    double number(char const* what) {
        space();
        size_t const b = at_;
        size_t digits = 0, points = 0;
        for (; at_ < s_.size(); ++at_) {
            if (std::isdigit(static_cast<unsigned char>(s_[at_]))) {
                ++digits;
            } else if (s_[at_] == '.' && points == 0) {
                ++points;
            } else {
                break;
            }
        }
        double const value = digits ? std::strtod(s_.substr(b, at_ - b).c_str(), nullptr) : 0;
        if (digits == 0 || !std::isfinite(value)) fail(b, what);
        return value;
    }
    // The unit after a number: a word, "%" or nothing.
    std::string unit(size_t& b) {
        space();
        b = at_;
        if (eat('%')) return "%";
        return word();
    }
    template <size_t N>
    double scale(Unit const (&units)[N], std::string const& unit, size_t at, char const* why) {
        for (Unit const& u : units)
            if (unit == u.name) return u.scale;
        fail(at, why);
    }

    double duration() {
        if (!eat('=')) fail(at_, "expected skip=DURATION");
        double const n = number("skip= takes a duration");
        size_t u = 0;
        std::string const written = unit(u);
        return n * scale(kDurationUnits, written, u, "a duration is in h, m, s, ms or us");
    }

    // FUNCTIONS: all, a function's name or a glob; or a status, of failures.
    void selection(Threshold& t) {
        do {
            space();
            size_t const b = at_;
            if (peek() == '-' || std::isdigit(static_cast<unsigned char>(peek()))) {
                bool const minus = eat('-');
                double const n = number("expected a status, a whole number");
                if (t.metric != Threshold::failures) fail(b, "a status is for failures alone");
                if (t.status) fail(b, "one status at most");
                if (n != std::floor(n) || n > 2147483647.0) fail(b, "a status is a whole number");
                if (n == 0) fail(b, "status 0 is a success, not a failure");
                t.status = int32_t(minus ? -n : n);
                continue;
            }
            at_ = std::min(s_.find_first_of(" \t\r\n,()", at_), s_.size());
            std::string const who = s_.substr(b, at_ - b);
            if (who.empty()) fail(b, "expected all, a function or a glob of functions");
            if (!t.who.empty()) fail(b, "one function or glob at most");
            t.who = who;
            t.glob = who.find_first_of("*?[") != std::string::npos;
            if (who == "all") continue;
            if (!t.glob) {
                if (function_id(who) < 0) fail(b, "no function \"" + who + "\"");
                continue;
            }
            bool any = false, request = false;
            for (int f = 0; f < kFunctionCount; ++f) {
                if (!matches(who, f)) continue;
                any = true;
                request = request || is_request(f);
            }
            if (!any) fail(b, "no function matches \"" + who + "\"");
            if (!request)
                fail(b, "\"" + who +
                            "\" matches no request; a call that is not one is checked by its "
                            "name alone");
        } while (eat(','));
        if (!eat(')')) fail(at_, "expected ')'");
    }

    Threshold threshold(std::string const& metric, size_t m) {
        MetricInfo const* info = nullptr;
        for (MetricInfo const& i : kMetrics)
            if (metric == i.name) info = &i;
        if (!info)
            fail(m, "no metric \"" + metric +
                        "\" (p50, p90, p95, p99, p99.9, max, failures, requests, rps, "
                        "degradation, skip=)");
        Threshold t;
        t.metric = info->metric;
        t.name = metric;
        t.q = info->q;
        if (eat('(')) selection(t);
        space();
        size_t const op = at_;
        t.op = peek();
        bool const fits = t.metric == Threshold::latency    ? t.op == '>' || t.op == '+'
                          : t.metric == Threshold::failures ? t.op == '>' || t.op == '+'
                          : t.metric == Threshold::requests ? t.op == '<'
                          : t.metric == Threshold::rps      ? t.op == '<' || t.op == '-'
                                                            : t.op == '>';
        if (!fits) fail(op, "expected " + forms(t.metric, metric));
        ++at_;
        t.limit = number("the limit must be a number");
        size_t u = 0;
        std::string const written = unit(u);
        bool const change = t.op == '+' || t.op == '-';
        t.percent = written == "%";
        if (t.metric == Threshold::latency && !change) {
            t.limit *= scale(kLatencyUnits, written, u, "a latency is in us, ms or s");
        } else if (t.metric == Threshold::latency || t.metric == Threshold::degradation ||
                   (t.metric == Threshold::rps && change)) {
            if (!t.percent) fail(u, metric + " is in %");
        } else if (t.metric == Threshold::failures) {
            if (!written.empty() && !t.percent) fail(u, "failures are a count, or a share in %");
        } else if (!written.empty()) {
            fail(u, metric + " is a number alone");
        }
        size_t const from = s_.find_first_not_of(kSpace, change ? op : op + 1);
        t.limit_text = s_.substr(from, at_ - from);
        t.clause = clause();
        return t;
    }

    std::string const& s_;
    size_t at_ = 0;
    size_t clause_ = 0;
};

std::string format(char const* f, ...) __attribute__((format(printf, 1, 2)));
std::string format(char const* f, ...) {
    char text[512];
    va_list args;
    va_start(args, f);
    std::vsnprintf(text, sizeof text, f, args);
    va_end(args);
    return text;
}

std::string latency_text(double us) {
    if (us >= 1e6) return format("%.3g s", us / 1e6);
    if (us >= 1e3) return format("%.3g ms", us / 1e3);
    return format("%.3g us", us);
}

// Requests a second, whole from 100 on: no exponent for a busy run.
std::string rate_text(double rps) { return format(rps >= 100 ? "%.0f" : "%.3g", rps); }

using ull = unsigned long long;

bool everything(Threshold const& t) { return t.who.empty() || t.who == "all"; }

std::string who(Threshold const& t) { return everything(t) ? "all requests" : t.who; }

// A paced run's latency over all requests, and its degradation, is taken
// from when the plan had each start, so that a stall which held the load
// back still counts.
bool from_plan(Threshold const& t, Report const& r) {
    bool const over_time = t.metric == Threshold::latency || t.metric == Threshold::degradation;
    return over_time && everything(t) && r.from_plan;
}

std::string who(Threshold const& t, Report const& r) {
    return from_plan(t, r) ? "all requests from plan" : who(t);
}

// The calls a threshold measures in a report, together.
FunctionStats selected(Threshold const& t, Report const& r) {
    if (from_plan(t, r)) return *r.from_plan;
    if (everything(t)) return r.requests();
    FunctionStats all;
    for (auto const& [id, f] : r.functions)
        if (t.glob ? is_request(id) && matches(t.who, id) : function_info(id).name == t.who)
            all.merge(f);
    return all;
}

// Each request function of a report by name, for a latency checked one by one.
std::map<std::string_view, FunctionStats const*> requests_by_name(Report const& r) {
    std::map<std::string_view, FunctionStats const*> by_name;
    for (auto const& [id, f] : r.functions)
        if (is_request(id)) by_name[function_info(id).name] = &f;
    return by_name;
}

double latency(Threshold const& t, FunctionStats const& f) {
    return round3(t.q > 0 ? f.quantile(t.q) : f.max_us);
}

uint64_t failed(Threshold const& t, FunctionStats const& f) {
    if (!t.status) return f.failures();
    auto const it = f.statuses.find(*t.status);
    return it == f.statuses.end() ? 0 : it->second;
}

double share(uint64_t part, uint64_t whole) { return 100.0 * double(part) / double(whole); }

// How far `to` is above `from`, in percent.
double growth(double from, double to) {
    if (from > 0) return (to - from) / from * 100;
    return to > 0 ? std::numeric_limits<double>::infinity() : 0;
}

std::string failures_of(Threshold const& t) {
    return "failures of " + who(t) + (t.status ? " with status " + std::to_string(*t.status) : "");
}

// Requests a second: of a statistics file as written when every request is
// asked for, else from the calls over the run's length; 0 if it has none.
double rate(Threshold const& t, Report const& r, uint64_t calls) {
    double const wall = r.wall_seconds.value_or(0);
    if (wall > 0) return double(calls) / wall;
    return everything(t) ? r.requests_per_second.value_or(0) : 0;
}

void over_a_run(Threshold const& t, Report const& r, std::vector<std::string>& out) {
    char const* const name = t.name.c_str();
    char const* const limit = t.limit_text.c_str();
    if (t.metric == Threshold::latency && t.who.empty()) {
        for (auto const& [function, f] : requests_by_name(r)) {
            double const value = latency(t, *f);
            if (value > t.limit)
                out.push_back(format("%s of %s is %s, over %s", name, std::string(function).c_str(),
                                     latency_text(value).c_str(), limit));
        }
        return;
    }
    FunctionStats const f = selected(t, r);
    if (t.metric == Threshold::requests) {
        if (double(f.calls) < t.limit)
            out.push_back(
                format("requests of %s are %llu, under %s", who(t).c_str(), ull(f.calls), limit));
        return;
    }
    if (f.calls == 0) {
        out.push_back(format("%s of %s: no calls to measure", name, who(t).c_str()));
        return;
    }
    if (t.metric == Threshold::latency) {
        double const value = latency(t, f);
        if (value > t.limit)
            out.push_back(format("%s of %s is %s, over %s", name, who(t, r).c_str(),
                                 latency_text(value).c_str(), limit));
    } else if (t.metric == Threshold::failures) {
        uint64_t const n = failed(t, f);
        if (t.percent && share(n, f.calls) > t.limit) {
            out.push_back(
                format("%s are %.3g%%, over %s", failures_of(t).c_str(), share(n, f.calls), limit));
        } else if (!t.percent && double(n) > t.limit) {
            out.push_back(format("%s are %llu, over %s", failures_of(t).c_str(), ull(n), limit));
        }
    } else if (t.metric == Threshold::rps) {
        double const value = rate(t, r, f.calls);
        if (value <= 0) {
            out.push_back(format("rps of %s: the file gives no run length", who(t).c_str()));
        } else if (value < t.limit) {
            out.push_back(format("rps of %s is %s, under %s", who(t).c_str(),
                                 rate_text(value).c_str(), limit));
        }
    }
}

void against_a_base(Threshold const& t, Report const& base, Report const& r,
                    std::vector<std::string>& out) {
    char const* const name = t.name.c_str();
    char const* const limit = t.limit_text.c_str();
    auto grew = [&](std::string const& of, FunctionStats const& a, FunctionStats const& b) {
        double const from = latency(t, a), to = latency(t, b), value = growth(from, to);
        if (value > t.limit)
            out.push_back(format("%s of %s grew %.3g%% (%s to %s), over %s", name, of.c_str(),
                                 value, latency_text(from).c_str(), latency_text(to).c_str(),
                                 limit));
    };
    if (t.metric == Threshold::latency && t.who.empty()) {
        auto const before = requests_by_name(base);
        bool both = false;
        for (auto const& [function, f] : requests_by_name(r)) {
            auto const it = before.find(function);
            if (it == before.end()) continue;
            both = true;
            grew(std::string(function), *it->second, *f);
        }
        if (!both) out.push_back(format("%s: no request was made in both runs", name));
        return;
    }
    FunctionStats const a = selected(t, base), b = selected(t, r);
    if (a.calls == 0 || b.calls == 0) {
        out.push_back(format("%s of %s: no calls in the %s run to compare", name, who(t).c_str(),
                             a.calls == 0 ? "base" : "new"));
        return;
    }
    if (t.metric == Threshold::latency) {
        grew(who(t), a, b);
    } else if (t.metric == Threshold::failures) {
        uint64_t const from = failed(t, a), to = failed(t, b);
        double const points = share(to, b.calls) - share(from, a.calls);
        if (t.percent && points > t.limit) {
            out.push_back(format("%s grew %.3g points (%.3g%% to %.3g%%), over %s",
                                 failures_of(t).c_str(), points, share(from, a.calls),
                                 share(to, b.calls), limit));
        } else if (!t.percent && double(to) - double(from) > t.limit) {
            out.push_back(format("%s grew by %llu (%llu to %llu), over %s", failures_of(t).c_str(),
                                 ull(to - from), ull(from), ull(to), limit));
        }
    } else {
        double const from = rate(t, base, a.calls), to = rate(t, r, b.calls);
        double const fell = from > 0 ? (from - to) / from * 100 : 0;
        if (from <= 0 || to <= 0) {
            out.push_back(format("rps of %s: the %s run gives no run length", who(t).c_str(),
                                 from <= 0 ? "base" : "new"));
        } else if (fell > t.limit) {
            out.push_back(format("rps of %s fell %.3g%% (%s to %s), over %s", who(t).c_str(), fell,
                                 rate_text(from).c_str(), rate_text(to).c_str(), limit));
        }
    }
}

// What a file gives the thresholds: the run after the skip, and for
// degradation the first and the last quarter of its intervals.
struct Run {
    Report whole;
    uint64_t intervals = 0;
    Report first, last;
};

bool kept(Report const& interval, std::optional<double> skip_s) {
    return !skip_s || interval.start_s.value_or(0) >= *skip_s;
}

void add(Intervals& to, Report const& interval, std::string const& path) {
    try {
        to.add(interval);
    } catch (std::overflow_error const& e) {
        throw std::runtime_error(path + ": " + e.what());
    }
}

Run read_run(std::string const& path, bool timeline, std::optional<double> skip_s, bool quarters) {
    Run run;
    if (!timeline) {
        run.whole = whole(path);
        return run;
    }
    Intervals all;
    each_interval(path, [&](Report const& r) {
        if (kept(r, skip_s)) add(all, r, path);
    });
    run.whole = all.whole();
    run.intervals = all.count();
    if (!quarters || run.intervals < 2) return run;
    // Read again rather than hold a day's intervals.
    uint64_t const quarter = std::max<uint64_t>(1, run.intervals / 4);
    Intervals first, last;
    uint64_t at = 0;
    each_interval(path, [&](Report const& r) {
        if (!kept(r, skip_s)) return;
        if (at < quarter) add(first, r, path);
        if (at++ >= run.intervals - quarter) add(last, r, path);
    });
    run.first = first.whole();
    run.last = last.whole();
    return run;
}

void degradation(Threshold const& t, Run const& run, std::string const& after,
                 std::vector<std::string>& out) {
    if (run.intervals < 2) {
        out.push_back(format(
            "degradation of %s: %llu interval%s%s, too few to compare (2 at "
            "least)",
            who(t).c_str(), ull(run.intervals), run.intervals == 1 ? "" : "s", after.c_str()));
        return;
    }
    FunctionStats const a = selected(t, run.first), b = selected(t, run.last);
    if (a.calls == 0 || b.calls == 0) {
        out.push_back(format("degradation of %s: no calls in the %s quarter to compare",
                             who(t, run.first).c_str(), a.calls == 0 ? "first" : "last"));
        return;
    }
    double const from = round3(a.quantile(0.99)), to = round3(b.quantile(0.99));
    double const value = growth(from, to);
    if (value > t.limit)
        out.push_back(
            format("p99 of %s rose %.3g%% from the first quarter to the last (%s to "
                   "%s), over %s",
                   who(t, run.first).c_str(), value, latency_text(from).c_str(),
                   latency_text(to).c_str(), t.limit_text.c_str()));
}

}  // namespace

std::string Verdict::summary() const {
    if (!checked) return "check: failed, nothing checked";
    char const* const s = thresholds == 1 ? "" : "s";
    if (crossed == 0) return format("check: passed, %zu threshold%s", thresholds, s);
    return format("check: %zu of %zu threshold%s crossed", crossed, thresholds, s);
}

Check::Check(std::string const& expression) {
    std::optional<double> least;
    Parser(expression).parse(thresholds_, skip_s_, skip_text_, least);
    if (least) least_requests_ = *least;
}

Verdict Check::run(std::string const& path, std::optional<std::string> const& base) const {
    bool quarters = false;
    for (Threshold const& t : thresholds_) {
        quarters = quarters || t.metric == Threshold::degradation;
        if (!base && (t.op == '+' || t.op == '-'))
            throw CheckError("\"" + t.clause + "\": a change needs a base run: --compare BASE NEW",
                             CheckError::nowhere);
    }
    Verdict v;
    std::string const after = skip_s_ ? " after the first " + skip_text_ : std::string();
    std::vector<std::string> paths{path};
    if (base) paths.insert(paths.begin(), *base);
    std::vector<Run> runs;
    try {
        for (std::string const& p : paths) {
            // The thresholds are of the last; a base is only compared with.
            bool const last = runs.size() + 1 == paths.size();
            bool const timeline = ReportReader(p).timeline();
            if (!timeline && skip_s_)
                throw CheckError(p + ": skip= needs a timeline, not a statistics file",
                                 CheckError::nowhere);
            if (!timeline && quarters && last)
                throw CheckError("degradation needs a timeline, not a statistics file",
                                 CheckError::nowhere);
            runs.push_back(read_run(p, timeline, skip_s_, quarters && last));
            uint64_t const n = runs.back().whole.requests().calls;
            if (double(n) < least_requests_) {
                v.lines.push_back(
                    n == 0 ? p + ": no requests" + after + ", nothing to check"
                           : format("%s: %llu request%s%s, fewer than the %g asked for", p.c_str(),
                                    ull(n), n == 1 ? "" : "s", after.c_str(), least_requests_));
                return v;
            }
        }
    } catch (std::runtime_error const& e) {
        v.lines.push_back(e.what());
        return v;
    }
    v.checked = true;
    Run const& r = runs.back();
    for (Threshold const& t : thresholds_) {
        size_t const before = v.lines.size();
        if (t.metric == Threshold::degradation) {
            degradation(t, r, after, v.lines);
        } else if (t.op == '+' || t.op == '-') {
            against_a_base(t, runs.front().whole, r.whole, v.lines);
        } else {
            over_a_run(t, r.whole, v.lines);
        }
        ++v.thresholds;
        v.crossed += v.lines.size() > before;
    }
    return v;
}

bool Check::needs_timeline() const {
    return skip_s_ || std::any_of(thresholds_.begin(), thresholds_.end(), [](Threshold const& t) {
               return t.metric == Threshold::degradation;
           });
}

namespace {

bool is_timeline(std::string const& path) {
    try {
        return ReportReader(path).timeline();
    } catch (std::runtime_error const&) {
        return false;  // the check says why it cannot read it
    }
}

}  // namespace

int print_verdict(Verdict const& v, std::string const& prefix, std::ostream& out) {
    for (std::string const& line : v.lines)
        out << (line.rfind(prefix, 0) == 0 ? "" : prefix) << line << "\n";
    out << prefix << v.summary() << "\n";
    return v.passed() ? 0 : 1;
}

std::vector<std::string> timelines_if_any(std::vector<std::string> const& paths, char const* why,
                                          std::ostream& err) {
    std::vector<std::string> timelines;
    std::copy_if(paths.begin(), paths.end(), std::back_inserter(timelines), is_timeline);
    if (timelines.empty()) return paths;
    for (std::string const& path : paths)
        if (!is_timeline(path))
            err << "kovra-stats: " << path << ": statistics, left out: " << why << "\n";
    return timelines;
}

int check_command(std::string const& expression, std::string const& path,
                  std::optional<std::string> const& base, std::ostream& out, std::ostream& err) {
    try {
        return print_verdict(Check(expression).run(path, base), "", out);
    } catch (CheckError const& e) {
        return refused(e, expression, err);
    }
}

int check_files(std::string const& expression, std::vector<std::string> const& paths,
                std::ostream& out, std::ostream& err) {
    try {
        Check const check(expression);
        std::vector<std::string> const kept =
            check.needs_timeline()
                ? timelines_if_any(paths, "skip= and degradation need a timeline", err)
                : paths;
        int worst = 0;
        for (std::string const& path : kept) {
            std::string const prefix = paths.size() > 1 ? path + ": " : "";
            worst = std::max(worst, print_verdict(check.run(path), prefix, out));
        }
        return worst;
    } catch (CheckError const& e) {
        return refused(e, expression, err);
    }
}

int refused(CheckError const& e, std::string const& expression, std::ostream& err) {
    err << "kovra-stats: --check: " << e.what() << "\n";
    if (e.at != CheckError::nowhere)
        err << "  " << expression << "\n  " << std::string(e.at, ' ') << "^\n";
    return 2;
}

}  // namespace kovra_sim::stats_files
