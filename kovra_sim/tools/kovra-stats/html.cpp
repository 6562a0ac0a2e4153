// kovra-stats --html: a run, or a fleet's runs side by side, as one page
// that opens from a file with no network: the figures as compact JSON,
// Debian's dygraphs and a little glue script inlined, the charts drawn by
// the browser.
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <nlohmann/json.hpp>
#include <set>

#include "common/files.h"
#include "common/functions.h"
#include "tools/kovra-stats/stats_tool.h"

#ifndef KOVRA_STATS_DYGRAPHS
#define KOVRA_STATS_DYGRAPHS "/usr/share/javascript/dygraphs"
#endif

namespace kovra_sim::stats_files {
namespace {

using nlohmann::json;

// About a point a pixel of a wide chart: a longer timeline is cut into
// this many points at most, each the least and the most of its intervals.
constexpr size_t kMostPoints = 1000;
// Past this, a flapping fault would draw the axis solid.
constexpr size_t kMostEvents = 1000;

// Three significant digits, whole numbers without a fraction: the
// histograms' bins are 6% wide, and short numbers keep a day's page small.
json number(double v) {
    if (!std::isfinite(v)) return nullptr;
    if (v > 0) {
        double const scale = std::pow(10.0, 2 - std::floor(std::log10(v)));
        v = std::round(v * scale) / scale;
    }
    if (v == std::floor(v) && std::fabs(v) < 1e15) return int64_t(v);
    return v;
}

// One figure of each interval; NaN where an interval had no calls.
using Column = std::vector<double>;

struct Latency {
    Column p50, p99, max;
    // Appends interval `at`'s figures, padding the intervals before it that
    // had no calls.
    void add(size_t at, FunctionStats const& f) {
        for (Column* c : {&p50, &p99, &max}) c->resize(at, NAN);
        p50.push_back(f.quantile(0.5));
        p99.push_back(f.quantile(0.99));
        max.push_back(f.max_us);
    }
};

// One file's figures as the page draws them.
struct Camera {
    std::string path;
    bool timeline = false;
    Report whole;
    Column t;  // each interval's end, ms since the epoch
    Latency all;
    std::map<int, Latency> functions;    // requests alone
    std::map<int32_t, Column> failures;  // calls an interval, by status
    json events = json::array();         // [ms, "restart" | "fault", what]
    size_t events_left_out = 0;
    // Whether a function failed with a status when it was last called,
    // so that a fault is marked where it begins, not on every interval.
    std::set<std::pair<int, int32_t>> failing;
};

void event(Camera& c, double ms, char const* kind, std::string what) {
    if (c.events.size() == kMostEvents) {
        ++c.events_left_out;
        return;
    }
    c.events.push_back({int64_t(ms), kind, std::move(what)});
}

// Where a function's failures of a status begin, and where it is called
// again without them, they end.
void mark_faults(Camera& c, double ms, int id, FunctionStats const& f) {
    for (auto it = c.failing.lower_bound({id, std::numeric_limits<int32_t>::min()});
         it != c.failing.end() && it->first == id;)
        it = f.statuses.count(it->second) ? std::next(it) : c.failing.erase(it);
    for (auto const& [status, n] : f.statuses) {
        if (status == 0 || !c.failing.insert({id, status}).second) continue;
        event(c, ms, "fault",
              std::string(function_info(id).name) + " failed with " + std::to_string(status));
    }
}

void add_interval(Camera& c, Report const& i, double run_clock) {
    size_t const at = c.t.size();
    // A timeline of old has no clock: its time since its run began.
    double const ms = 1000 * i.end_clock.value_or(run_clock + i.end_s.value_or(0));
    c.t.push_back(ms);
    FunctionStats const requests = i.requests();
    if (requests.calls) c.all.add(at, requests);
    std::string restarts;
    for (auto const& [target, n] : i.announcements)
        restarts += (restarts.empty() ? "" : ", ") + target + " ×" + std::to_string(n);
    if (!restarts.empty()) event(c, ms, "restart", restarts);
    for (auto const& [id, f] : i.functions) {
        if (is_request(id)) c.functions[id].add(at, f);
        mark_faults(c, ms, id, f);
        for (auto const& [status, n] : f.statuses) {
            if (status == 0) continue;
            Column& col = c.failures[status];
            col.resize(at + 1, 0);
            col[at] += double(n);
        }
    }
}

Camera read_camera(std::string const& path) {
    Camera c;
    c.path = path;
    c.timeline = ReportReader(path).timeline();
    if (!c.timeline) {
        c.whole = whole(path);
        return c;
    }
    Intervals whole;
    double run_clock = 0;
    each_interval(
        path,
        [&](Report const& i) {
            try {
                whole.add(i);
            } catch (std::overflow_error const& e) {
                throw std::runtime_error(path + ": " + e.what());
            }
            add_interval(c, i, run_clock);
        },
        [&](timeline::Line const& mark) {
            if (mark.kind == timeline::Line::start) run_clock = mark.run.clock;
        });
    c.whole = whole.whole();
    return c;
}

// A column as points of `per` intervals each: {"hi": the most of each},
// and {"lo": the least} when a point stands for several. Counts are summed
// instead, so that none is lost.
json points(Column col, size_t n, size_t per, bool counts = false) {
    col.resize(n, counts ? 0 : NAN);
    json hi = json::array(), lo = json::array();
    for (size_t b = 0; b < n; b += per) {
        double most = NAN, least = NAN, sum = 0;
        for (size_t k = b; k < std::min(n, b + per); ++k) {
            sum += col[k];
            if (std::isnan(col[k])) continue;
            most = std::isnan(most) ? col[k] : std::max(most, col[k]);
            least = std::isnan(least) ? col[k] : std::min(least, col[k]);
        }
        hi.push_back(number(counts ? sum : most));
        if (per > 1 && !counts) lo.push_back(number(least));
    }
    json out = {{"hi", std::move(hi)}};
    if (per > 1 && !counts) out["lo"] = std::move(lo);
    return out;
}

json latency_points(Latency const& l, size_t n, size_t per) {
    return {{"p50", points(l.p50, n, per)},
            {"p99", points(l.p99, n, per)},
            {"max", points(l.max, n, per)}};
}

// calls, failed, p50, p90, p99, p99.9 and max of each function, as --stats.
json function_rows(Report const& r) {
    json rows = json::array();
    auto const us = [](double v) { return number(std::round(v * 10) / 10); };
    for (auto const& [id, f] : r.functions)
        rows.push_back({function_info(id).name, f.calls, f.failures(), us(f.quantile(0.5)),
                        us(f.quantile(0.9)), us(f.quantile(0.99)), us(f.quantile(0.999)),
                        us(f.max_us)});
    return rows;
}

json summary(Camera const& c) {
    std::map<int32_t, uint64_t> by_status;
    for (auto const& [id, f] : c.whole.functions)
        for (auto const& [status, n] : f.statuses)
            if (status != 0) by_status[status] += n;
    json failures = json::object();
    for (auto const& [status, n] : by_status) failures[std::to_string(status)] = n;
    uint64_t const requests = c.whole.requests().calls;
    double const seconds = c.whole.end();
    json s = {{"seconds", number(seconds)},
              {"requests", requests},
              {"rps", number(seconds > 0 ? double(requests) / seconds : 0)},
              {"failures", failures}};
    if (!c.t.empty()) s["to"] = int64_t(c.t.back());
    if (!c.t.empty()) s["from"] = int64_t(c.t.back() - 1000 * seconds);
    return s;
}

// The file's name without its folder and its kinds' endings: "cam1".
std::string camera_name(std::string const& path) {
    std::string name = std::filesystem::path(path).filename().string();
    for (std::string end : {".gz", ".jsonl", ".json"})
        if (name.size() > end.size() &&
            name.compare(name.size() - end.size(), end.size(), end) == 0)
            name.erase(name.size() - end.size());
    return name;
}

json camera_json(Camera const& c, std::optional<Verdict> const& verdict) {
    json j = {{"name", camera_name(c.path)},
              {"path", c.path},
              {"timeline", c.timeline},
              {"summary", summary(c)},
              {"table", function_rows(c.whole)}};
    if (verdict)
        j["check"] = {{"passed", verdict->passed()},
                      {"summary", verdict->summary()},
                      {"lines", verdict->lines}};
    if (!c.timeline) return j;
    size_t const n = c.t.size();
    size_t const per = std::max<size_t>(1, (n + kMostPoints - 1) / kMostPoints);
    json t = json::array();
    // Each point at the end of the last interval it stands for, but the
    // first at the first's: the axis then spans every interval, and every
    // mark lands on it. The page keys its rows by the millisecond, so a run
    // stopped within one of an interval's end draws its last point 1 ms on.
    int64_t last = std::numeric_limits<int64_t>::min();
    for (size_t b = 0; b < n; b += per) {
        last = std::max(last + 1, int64_t(c.t[b == 0 ? 0 : std::min(n, b + per) - 1]));
        t.push_back(last);
    }
    j["per"] = per;
    j["t"] = std::move(t);
    j["all"] = latency_points(c.all, n, per);
    json& functions = j["functions"] = json::object();
    for (auto const& [id, l] : c.functions)
        functions[function_info(id).name] = latency_points(l, n, per);
    json& failures = j["failures"] = json::object();
    for (auto const& [status, col] : c.failures)
        failures[std::to_string(status)] = points(col, n, per, true)["hi"];
    j["events"] = c.events;
    j["events_left_out"] = c.events_left_out;
    return j;
}

std::string read_library(std::string const& dir, char const* file) {
    std::string const path = dir + "/" + file;
    std::string text = read_file(path);
    if (text.empty())
        throw std::runtime_error(path +
                                 ": cannot read it; --html inlines dygraphs from it (Debian "
                                 "package libjs-dygraphs, or set KOVRA_STATS_DYGRAPHS to its "
                                 "folder)");
    return text;
}

// JSON inside a <script> element: nothing in it may close the element.
std::string script_safe(std::string text) {
    for (size_t at = 0; (at = text.find('<', at)) != std::string::npos;)
        text.replace(at, 1, "\\u003c");
    return text;
}

std::string html_escape(std::string const& s) {
    std::string out;
    for (char ch : s) {
        switch (ch) {
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '&':
                out += "&amp;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += ch;
        }
    }
    return out;
}

// What the glue script fills in, and the style of it.
constexpr char const* kStyle = R"css(
body { font: 14px system-ui, sans-serif; margin: 1em 2em; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.15em; margin-top: 1.6em; }
table { border-collapse: collapse; } td, th { padding: 2px 8px; text-align: right; }
td:first-child, th:first-child { text-align: left; }
th { border-bottom: 1px solid #888; background: #f4f4f4; }
#functions th { cursor: pointer; } #functions tr.failed td { color: #b00; }
.chart { width: 100%; height: 320px; } .legend { min-height: 1.4em; font-size: 12px; }
.pass { color: #070; font-weight: bold; } .fail { color: #b00; font-weight: bold; }
#events td, #events th { text-align: left; } .restart { color: #1f6fd1; } .fault { color: #d11f1f; } .note { color: #666; }
)css";

constexpr char const* kBody = R"html(
<h2>Summary</h2><table id="summary"></table>
<section id="over-time">
<h2>Latency over time (UTC; drag to zoom, double-click to zoom out)</h2>
<p><select id="function"></select> <span id="quantities"></span>
<span class="note" id="per"></span></p>
<div id="latency" class="chart"></div><div id="latency-legend" class="legend"></div>
<h2>Failed calls over time, by status</h2>
<div id="failures" class="chart"></div><div id="failures-legend" class="legend"></div>
<h2>Restarts (announcements) and faults (a function's failures of a status beginning)</h2>
<table id="events"></table>
</section>
<h2>Functions (click a heading to sort)</h2><table id="functions"></table>
)html";

// The glue: builds the tables and hands the columns to dygraphs. What it
// drew is left in data- attributes, for the tests and for a curious reader.
constexpr char const* kGlue = R"js(
'use strict';
(function () {
  const data = JSON.parse(document.getElementById('data').textContent);
  const cams = data.cameras, fleet = cams.length > 1, timed = cams.filter((c) => c.timeline);
  const $ = (id) => document.getElementById(id);
  const add = (parent, tag, text, cls) => {
    const e = parent.appendChild(document.createElement(tag));
    if (text !== undefined) e.textContent = text;
    if (cls) e.className = cls;
    return e;
  };
  const utc = (ms) => new Date(ms).toISOString().replace('T', ' ').replace('Z', '');
  const count = (n) => Number(n).toLocaleString('en');
  const length = (s) => s < 120 ? s.toFixed(1) + ' s' : s < 7200 ? (s / 60).toFixed(1) + ' min'
                                                                  : (s / 3600).toFixed(2) + ' h';
  const row = (table, cells, tag) => {
    const tr = table.insertRow();
    for (const c of cells) add(tr, tag || 'td', c === null || c === undefined ? '-' : String(c));
    return tr;
  };

  function summary() {
    const t = $('summary');
    row(t, ['camera', 'from', 'to', 'length', 'requests', 'requests/s',
            'failed calls by status', 'check'], 'th');
    for (const c of cams) {
      const s = c.summary;
      const failed = Object.entries(s.failures).map(([st, n]) => st + ': ' + count(n));
      const tr = row(t, [c.name, s.from && utc(s.from), s.to && utc(s.to), length(s.seconds),
                         count(s.requests), count(s.rps), failed.join(', ') || 'none', '']);
      tr.title = c.path;
      const check = tr.lastChild;
      if (!c.check) { check.textContent = '-'; continue; }
      add(check, 'span', c.check.summary, c.check.passed ? 'pass' : 'fail');
      for (const line of c.check.lines) add(add(check, 'div'), 'small', line);
    }
  }

  function functions() {
    const t = $('functions');
    const head = ['function', 'calls', 'failed', 'p50 us', 'p90 us', 'p99 us', 'p99.9 us', 'max us'];
    if (fleet) head.splice(1, 0, 'camera');
    const rows = cams.flatMap((c) => c.table.map((r) => fleet ? [r[0], c.name, ...r.slice(1)] : r));
    const failed = head.indexOf('failed'), p99 = head.indexOf('p99 us');
    // Worst first: the most failed calls, then the slowest p99.
    let order = (a, b) => b[failed] - a[failed] || b[p99] - a[p99];
    function draw() {
      while (t.rows.length) t.deleteRow(0);
      const tr = row(t, head, 'th');
      [...tr.cells].forEach((th, k) => th.onclick = () => {
        const down = t.dataset.sort !== head[k] + ' descending';
        order = (a, b) => (k === 0 || (fleet && k === 1) ? String(a[k]).localeCompare(b[k])
                                                           : a[k] - b[k]) * (down ? -1 : 1);
        t.dataset.sort = head[k] + (down ? ' descending' : ' ascending');
        draw();
      });
      for (const r of rows.sort(order)) {
        const line = row(t, r.map((v, k) => k > 0 && typeof v === 'number' ? count(v) : v));
        line.dataset.function = r[0];
        if (r[failed] > 0) line.className = 'failed';
      }
    }
    t.dataset.sort = 'failed descending';
    draw();
  }

  // dygraphs wants one row per time: a camera's series are null at the
  // times of the others, and connectSeparatedPoints joins them up.
  function table(series) {
    const at = new Map();
    series.forEach((s, i) => s.t.forEach((ms, k) => {
      let r = at.get(ms);
      if (!r) at.set(ms, r = [ms, ...series.map(() => null)]);
      r[i + 1] = s.value(k);
    }));
    return [...at.values()].sort((a, b) => a[0] - b[0]).map((r) => (r[0] = new Date(r[0]), r));
  }

  const bands = timed.some((c) => c.per > 1);
  const events = timed.flatMap((c) => c.events.map((e) => [e[0], e[1], fleet ? c.name + ': ' + e[2] : e[2]]));
  const charts = [];
  let syncing = false;
  function options(div, legend) {
    return {
      labelsUTC: true, connectSeparatedPoints: true, legend: 'always', labelsDiv: legend,
      labelsSeparateLines: false, yRangePad: 8, labelsKMB: true,
      axes: { x: { axisLabelWidth: 80 }, y: { axisLabelWidth: 60 } },
      underlayCallback: (ctx, area, g) => {
        const drawn = { restart: 0, fault: 0 };
        for (const [ms, kind] of events) {
          const x = g.toDomXCoord(ms);
          if (x < area.x - 0.5 || x > area.x + area.w + 0.5) continue;
          ctx.strokeStyle = kind === 'restart' ? '#1f6fd1' : '#d11f1f';
          ctx.setLineDash(kind === 'restart' ? [5, 3] : []);
          ctx.beginPath(); ctx.moveTo(x, area.y); ctx.lineTo(x, area.y + area.h); ctx.stroke();
          drawn[kind]++;
        }
        ctx.setLineDash([]);
        div.dataset.restarts = drawn.restart;
        div.dataset.faults = drawn.fault;
      },
      drawCallback: (g, initial) => {
        div.dataset.series = g.numColumns() - 1;
        div.dataset.points = g.numRows();
        if (initial || syncing) return;
        // Every chart shows the time the reader zoomed one to.
        syncing = true;
        for (const o of charts) if (o !== g) o.updateOptions({ dateWindow: g.xAxisRange() });
        syncing = false;
      },
    };
  }
  function chart(div, legend, series, extra) {
    const old = charts.findIndex((g) => g.maindiv_ === div);
    const window = old >= 0 ? charts[old].xAxisRange() : null;
    if (old >= 0) charts.splice(old, 1)[0].destroy();
    const g = new Dygraph(div, table(series), Object.assign(options(div, legend), extra, {
      labels: ['time', ...series.map((s) => s.name)], dateWindow: window }));
    charts.push(g);
    return g;
  }

  const quantities = ['p50', 'p99', 'max'];
  const shown = { p50: !fleet, p99: true, max: !fleet };
  function latency() {
    const name = $('function').value;
    const series = [];
    for (const c of timed) {
      const l = name ? c.functions[name] : c.all;
      for (const q of quantities) {
        const col = l ? l[q] : { hi: [] };
        series.push({ name: (fleet ? c.name + ' ' : '') + q, t: c.t, q, value: (k) => {
          const hi = col.hi[k];
          if (hi === null || hi === undefined) return null;
          return bands ? [col.lo ? col.lo[k] : hi, hi, hi] : hi;
        } });
      }
    }
    chart($('latency'), $('latency-legend'), series, {
      logscale: true, customBars: bands, ylabel: 'latency (us)',
      visibility: series.map((s) => shown[s.q]) });
  }
  function failures() {
    const series = [];
    for (const c of timed)
      for (const [status, col] of Object.entries(c.failures))
        series.push({ name: (fleet ? c.name + ' ' : '') + 'status ' + status, t: c.t,
                      value: (k) => col[k] });
    if (!series.length) {
      $('failures').textContent = 'No call failed.';
      $('failures').dataset.series = 0;
      return;
    }
    chart($('failures'), $('failures-legend'), series,
          { ylabel: 'failed calls', stackedGraph: true, fillGraph: true, includeZero: true });
  }

  function over_time() {
    if (!timed.length) {
      $('over-time').textContent = 'No timeline given: nothing over time to draw.';
      return;
    }
    const names = new Set(timed.flatMap((c) => Object.keys(c.functions)));
    const select = $('function');
    add(select, 'option', 'all requests').value = '';
    for (const n of [...names].sort()) add(select, 'option', n).value = n;
    select.onchange = latency;
    for (const q of quantities) {
      const label = add($('quantities'), 'label');
      const box = add(label, 'input');
      box.type = 'checkbox'; box.checked = shown[q];
      box.onchange = () => { shown[q] = box.checked; latency(); };
      label.append(' ' + q + ' ');
    }
    const per = Math.max(...timed.map((c) => c.per));
    if (per > 1) $('per').textContent = 'each point stands for up to ' + per +
        ' intervals: the line is the most of them, the band down to the least';
    latency();
    failures();
    const t = $('events');
    row(t, ['time', 'what'], 'th');
    for (const [ms, kind, what] of events.sort((a, b) => a[0] - b[0]))
      row(t, [utc(ms), what]).className = kind;
    const left = timed.reduce((n, c) => n + c.events_left_out, 0);
    if (left) row(t, ['', left + ' more not marked']);
  }

  summary();
  functions();
  over_time();
  document.body.dataset.ready = 'yes';
  // Anything it fetched, failed fetches too: a page that needs no network
  // fetches nothing.
  document.body.dataset.fetched = performance.getEntriesByType('resource').length;
  // How long the page took from its navigation to everything drawn.
  document.body.dataset.drawnMs = Math.round(performance.now());
})();
)js";

std::string page(json const& data, std::string const& title, std::string const& js,
                 std::string const& css) {
    // The first script records any error of those after it, where a test
    // (or a reader's eye) finds it.
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + html_escape(title) +
           "</title>\n<style>" + css + kStyle +
           "</style>\n<script>addEventListener('error', (e) => { const d = "
           "document.documentElement.dataset; d.errors = (d.errors || '') + e.message + '\\n'; "
           "});</script>\n<script>" +
           js + "</script>\n</head><body id=\"report\">\n<h1>" + html_escape(title) + "</h1>" +
           kBody + "<script type=\"application/json\" id=\"data\">" +
           script_safe(data.dump(-1, ' ', false, json::error_handler_t::replace)) +
           "</script>\n<script>" + kGlue + "</script>\n</body></html>\n";
}

}  // namespace

std::vector<Verdict> write_html(std::vector<std::string> const& paths, std::string const& out,
                                std::optional<Check> const& check) {
    if (paths.empty()) throw std::runtime_error("--html needs a statistics file or a timeline");
    char const* const folder = std::getenv("KOVRA_STATS_DYGRAPHS");
    std::string const dir = folder ? folder : KOVRA_STATS_DYGRAPHS;
    std::string const js = read_library(dir, "dygraph.min.js");
    std::string const css = read_library(dir, "dygraph.min.css");
    // Checked first: an expression that does not fit the files writes nothing.
    std::vector<Verdict> verdicts;
    if (check)
        for (std::string const& path : paths) verdicts.push_back(check->run(path));
    json cameras = json::array();
    std::string title = "Soak report:";
    for (size_t k = 0; k < paths.size(); ++k) {
        Camera const c = read_camera(paths[k]);
        if (k > 0 && c.timeline != cameras[0]["timeline"].get<bool>())
            throw std::runtime_error("statistics files and timelines cannot be shown together");
        cameras.push_back(camera_json(c, check ? std::optional(verdicts[k]) : std::nullopt));
        title += " " + camera_name(paths[k]);
    }
    std::string error;
    if (!replace_file(out, page({{"cameras", std::move(cameras)}}, title, js, css), error))
        throw std::runtime_error(out + ": " + error);
    return verdicts;
}

}  // namespace kovra_sim::stats_files
