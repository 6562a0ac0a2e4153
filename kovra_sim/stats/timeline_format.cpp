#include "stats/timeline_format.h"

#include <zlib.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "common/bounded_json.h"
#include "common/functions.h"
#include "common/value.h"

namespace kovra_sim::timeline {
namespace {

using json = nlohmann::json;

// The most an interval's figures may unpack to: far more than a table of
// functions with every bin in use needs, far less than a crafted line could ask.
constexpr size_t kMaxUnpacked = 16u << 20;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string base64(std::string_view bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    for (size_t i = 0; i < bytes.size(); i += 3) {
        uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
        if (i + 1 < bytes.size()) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
        if (i + 2 < bytes.size()) n |= uint8_t(bytes[i + 2]);
        for (size_t k = 0; k < 4; ++k)
            out += k <= bytes.size() - i ? kBase64[(n >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

bool unbase64(std::string_view text, std::string& out) {
    if (text.size() % 4) return false;
    out.clear();
    for (size_t i = 0; i < text.size(); i += 4) {
        uint32_t n = 0;
        int pad = 0;
        for (size_t k = 0; k < 4; ++k) {
            char const c = text[i + k];
            char const* const at = c ? std::strchr(kBase64, c) : nullptr;
            if (c == '=') {
                if (i + 4 != text.size() || k < 2) return false;
                ++pad;
            } else if (!at || pad) {
                return false;
            }
            n = n << 6 | uint32_t(at ? at - kBase64 : 0);
        }
        for (int k = 0; k < 3 - pad; ++k) out += char(n >> (16 - 8 * k));
    }
    return true;
}

// Deflate's preset dictionary: every function's name, which each line
// names again. A line deflated with another table's cannot be inflated.
std::string const& dictionary() {
    static std::string const names = [] {
        std::string all;
        for (int id = 0; id < kFunctionCount; ++id) all += function_info(id).name;
        return all;
    }();
    return names;
}

std::string deflated(std::string const& bytes) {
    z_stream z{};
    if (deflateInit(&z, Z_BEST_COMPRESSION) != Z_OK) throw std::runtime_error("cannot deflate");
    deflateSetDictionary(&z, reinterpret_cast<Bytef const*>(dictionary().data()),
                         uInt(dictionary().size()));
    std::string out(deflateBound(&z, uLong(bytes.size())), '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    int const status = deflate(&z, Z_FINISH);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    if (status != Z_STREAM_END) throw std::runtime_error("cannot deflate");
    return out;
}

bool inflated(std::string const& bytes, std::string& out) {
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return false;
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    z.avail_in = uInt(bytes.size());
    out.clear();
    int status = Z_OK;
    char buffer[16384];
    while (status == Z_OK && out.size() <= kMaxUnpacked) {
        z.next_out = reinterpret_cast<Bytef*>(buffer);
        z.avail_out = sizeof buffer;
        status = inflate(&z, Z_NO_FLUSH);
        if (status == Z_NEED_DICT) {
            status = inflateSetDictionary(&z, reinterpret_cast<Bytef const*>(dictionary().data()),
                                          uInt(dictionary().size()));
        }
        out.append(buffer, sizeof buffer - z.avail_out);
    }
    inflateEnd(&z);
    return status == Z_STREAM_END;
}

// A function's figures: [name, calls, {status: n} or null if all passed,
// least, most and total nanoseconds, the first bin with calls (counting the
// underflow bin as 0), the counts from it on].
// A paced run's figures travel with the functions', under names no
// function has.
constexpr char kFromPlan[] = "(from plan)";
constexpr char kBehind[] = "(behind plan)";

json packed(std::string const& name, FunctionStats const& f) {
    json statuses = nullptr;
    if (f.statuses.size() != 1 || !f.statuses.count(0)) {
        statuses = json::object();
        for (auto const& [status, n] : f.statuses) statuses[std::to_string(status)] = n;
    }
    auto const bins = f.bins();
    json counts = json::array();
    int const first = bins.empty() ? 0 : bins.front().first;
    for (auto const& [index, n] : bins) {
        while (int(counts.size()) < index - first) counts.push_back(0);
        counts.push_back(n);
    }
    auto ns = [](double us) { return uint64_t(std::llround(us * 1000)); };
    return {name, f.calls, statuses, ns(f.min_us), ns(f.max_us), ns(f.sum_us), first + 1, counts};
}

// Reads a function's figures into `into`, whose calls so far are `calls`.
void unpack(json const& j, Report& into, uint64_t& calls) {
    auto const number = [](json const& n) {
        if (!n.is_number_unsigned()) throw std::runtime_error("a count is no count");
        return n.get<uint64_t>();
    };
    if (!j.is_array() || j.size() != 8 || !j[0].is_string() || !j[7].is_array())
        throw std::runtime_error("a function's figures are malformed");
    std::string const name = j[0].get<std::string>();
    int const id = function_id(name);
    bool const paced = name == kFromPlan || name == kBehind;
    if (id < 0 && !paced) throw std::runtime_error("no function \"" + name + "\"");
    std::optional<FunctionStats>& figures = name == kFromPlan ? into.from_plan : into.behind;
    if (id >= 0 ? into.functions.count(id) > 0 : figures.has_value())
        throw std::runtime_error(name + " is there twice");
    // A paced run's figures count its requests again: not in the calls.
    FunctionStats& f = id >= 0 ? into.functions[id] : figures.emplace();
    f.calls = number(j[1]);
    if (f.calls > kMaxCount - (paced ? 0 : calls))
        throw std::runtime_error("the calls of all functions add up past 2^53");
    if (!paced) calls += f.calls;
    // Each part of the calls is added only while within them, so no sum wraps.
    auto const part = [&](json const& n, uint64_t& sum) {
        uint64_t const c = number(n);
        if (c > f.calls - sum) throw std::runtime_error(name + ": the counts do not add up");
        sum += c;
        return c;
    };
    uint64_t statused = 0, binned = 0;
    if (j[2].is_null()) {
        f.statuses[0] = part(j[1], statused);
    } else if (j[2].is_object()) {
        for (auto const& [text, n] : j[2].items()) {
            int64_t status = 0;
            if (!parse_integer(text, INT32_MIN, INT32_MAX, status))
                throw std::runtime_error("status \"" + text + "\" is not an int32");
            if (!f.statuses.emplace(int32_t(status), part(n, statused)).second)
                throw std::runtime_error(name + ": status " + text + " is named twice");
        }
    } else {
        throw std::runtime_error("a function's statuses are malformed");
    }
    f.min_us = double(number(j[3])) / 1000;
    f.max_us = double(number(j[4])) / 1000;
    f.sum_us = double(number(j[5])) / 1000;
    // Counting the underflow bin as 0, so the overflow bin is kLatencyBins + 1.
    uint64_t const first = number(j[6]);
    if (first > kLatencyBins + 1) throw std::runtime_error("a bin past the histogram");
    int bin = int(first) - 1;
    for (auto const& n : j[7]) {
        if (bin > kLatencyBins) throw std::runtime_error("a bin past the histogram");
        if (uint64_t const c = part(n, binned)) f.add_to_bin(bin, c);
        ++bin;
    }
    if (binned != f.calls || statused != f.calls)
        throw std::runtime_error(name + ": the counts do not add up");
}

double number(json const& j, char const* key) {
    auto const it = j.find(key);
    if (it == j.end() || !it->is_number()) throw std::runtime_error(std::string("no ") + key);
    return it->get<double>();
}

double clock_of(json const& j, char const* key) {
    auto const it = j.find(key);
    std::optional<double> const clock =
        it != j.end() && it->is_string() ? parse_iso_utc(it->get<std::string>()) : std::nullopt;
    if (!clock) throw std::runtime_error(std::string("no time ") + key);
    return *clock;
}

}  // namespace

std::string figures_text(std::string const& packed) { return base64(deflated(packed)); }

std::string iso_utc(double clock) {
    double const whole = std::floor(clock);
    time_t const seconds = time_t(whole);
    std::tm tm{};
    gmtime_r(&seconds, &tm);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec,
                  std::min(999, int((clock - whole) * 1000)));
    return text;
}

std::optional<double> parse_iso_utc(std::string_view text) {
    std::tm tm{};
    int millis = 0, used = 0;
    std::string const s(text);
    if (std::sscanf(s.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3dZ%n", &tm.tm_year, &tm.tm_mon,
                    &tm.tm_mday, &tm.tm_hour, &tm.tm_min, &tm.tm_sec, &millis, &used) != 7 ||
        size_t(used) != s.size()) {
        return std::nullopt;
    }
    tm.tm_year -= 1900;
    tm.tm_mon -= 1;
    return double(timegm(&tm)) + millis / 1000.0;
}

std::string interval_line(Report const& r) {
    json functions = json::array();
    for (auto const& [id, f] : r.functions) functions.push_back(packed(function_info(id).name, f));
    if (r.from_plan && r.behind) {
        functions.push_back(packed(kFromPlan, *r.from_plan));
        functions.push_back(packed(kBehind, *r.behind));
    }
    std::vector<uint8_t> const bytes = json::to_msgpack(functions);
    json line{{"interval", r.interval.value_or(0)},
              {"start", iso_utc(r.start_clock.value_or(0))},
              {"end", iso_utc(r.end_clock.value_or(0))},
              {"start_s", r.start_s.value_or(0)},
              {"end_s", r.end_s.value_or(0)},
              {"calls", r.calls()},
              {"figures", figures_text(std::string(bytes.begin(), bytes.end()))}};
    if (!r.announcements.empty()) line["announcements"] = r.announcements;
    return line.dump();
}

std::string run_line(Run const& run) {
    return json{{"run",
                 {{"start", iso_utc(run.clock)},
                  {"pid", run.pid},
                  {"command", run.command},
                  {"interval_s", run.interval_s}}}}
        .dump();
}

std::string end_line(double clock) { return json{{"end", iso_utc(clock)}}.dump(); }

std::string halved_line(double clock, double interval_s) {
    return json{{"halved", {{"at", iso_utc(clock)}, {"interval_s", interval_s}}}}.dump();
}

bool parse_line(std::string_view text, Line& out, std::string& error) {
    try {
        json const j = parse_bounded(text, "");
        if (!j.is_object()) throw std::runtime_error("not a JSON object");
        Line line;
        if (auto const run = j.find("run"); run != j.end()) {
            line.kind = Line::start;
            line.run.clock = clock_of(*run, "start");
            line.run.interval_s = number(*run, "interval_s");
            line.run.pid = run->value("pid", uint64_t{0});
            line.run.command = run->value("command", "");
        } else if (auto const halved = j.find("halved"); halved != j.end()) {
            line.kind = Line::halved;
            line.clock = clock_of(*halved, "at");
            line.interval_s = number(*halved, "interval_s");
        } else if (j.contains("figures")) {
            std::string packed, bytes;
            if (!j.at("figures").is_string() ||
                !unbase64(j.at("figures").get<std::string>(), packed) || !inflated(packed, bytes)) {
                throw std::runtime_error("its figures cannot be unpacked");
            }
            json const functions = parse_bounded_msgpack(bytes, "its figures cannot be unpacked");
            if (!functions.is_array()) throw std::runtime_error("its figures cannot be unpacked");
            uint64_t calls = 0;
            for (json const& f : functions) unpack(f, line.report, calls);
            if (!j.at("interval").is_number_unsigned()) throw std::runtime_error("no interval");
            line.report.interval = j.at("interval").get<uint64_t>();
            line.report.start_clock = clock_of(j, "start");
            line.report.end_clock = clock_of(j, "end");
            line.report.start_s = number(j, "start_s");
            line.report.end_s = number(j, "end_s");
            json const announced{{"functions", json::object()},
                                 {"announcements", j.value("announcements", json::object())}};
            line.report.announcements = report_from_json(announced).announcements;
        } else if (j.contains("functions")) {
            line.report = report_from_json(j);
            if (!line.report.interval)
                throw std::runtime_error("neither statistics nor a timeline");
        } else {
            line.kind = Line::end;
            line.clock = clock_of(j, "end");
        }
        out = std::move(line);
        return true;
    } catch (std::exception const& e) {
        error = e.what();
        return false;
    }
}

}  // namespace kovra_sim::timeline
