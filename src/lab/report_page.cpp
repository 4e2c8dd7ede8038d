// SPDX-License-Identifier: MIT
// Building the report pages. Every text that comes from an experiment (the
// summary's texts, printed lines, the values a user swept) reaches the page
// through htmlkeysub or jsonkeysub; numbers are formatted here.
#include "report_page.h"

#include "marks.h"
#include "report_assets.h"

#include "pacelag/util.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

const char* const kChartJsPath = "/usr/share/javascript/chart.js/chart.min.js";

const char* chartjs_path() {
    const char* env = std::getenv("PACELAG_LAB_CHARTJS");
    return env != nullptr && *env != '\0' ? env : kChartJsPath;
}

namespace {

// The values of one template fill; the table owns copies of every text.
class Vars {
  public:
    Vars() : table_(aacreate()), ok_(table_ != nullptr) {}
    ~Vars() { aafree(table_); }
    Vars(const Vars&) = delete;
    Vars& operator=(const Vars&) = delete;

    Vars& set(const char* key, const std::string& value) {
        if (!table_) return *this;
        int r = aaput(table_, key, value.c_str(), AA_COPYKEY | AA_COPYVALUE);
        if (r == 1) r = aareplace(table_, key, value.c_str(), AA_COPYVALUE);
        if (r < 0) ok_ = false;
        return *this;
    }
    aaContext* table() { return table_; }
    bool ok() const { return ok_; }

  private:
    aaContext* table_;
    bool ok_;
};

enum class Esc { Raw, Html, Json };

bool fill(const char* tpl, Vars& vars, Esc esc, std::string& out) {
    if (!vars.ok()) return false;
    // The routines take a writable template, though they leave it alone.
    char* src = strdup(tpl);
    if (!src) return false;
    char* done = esc == Esc::Raw    ? keysub(src, vars.table())
                 : esc == Esc::Html ? htmlkeysub(src, vars.table())
                                    : jsonkeysub(src, vars.table());
    std::free(src);
    if (!done) return false;
    out += done;
    std::free(done);
    return true;
}

// A JS string literal holding text.
bool json_text(const std::string& text, std::string& out) {
    Vars v;
    std::string lit;
    if (!fill("\"$v\"", v.set("v", text), Esc::Json, lit)) return false;
    out += script_safe(lit);
    return true;
}

std::string num(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

void append_points(std::string& out, const std::vector<double>& x, const std::vector<double>& y,
                   size_t max_points) {
    out += '[';
    bool first = true;
    for (size_t i : thin_indices(y, max_points)) {
        if (!first) out += ',';
        first = false;
        out += '[' + num(x[i]) + ',' + num(y[i]) + ']';
    }
    out += ']';
}

double max_of(const std::vector<double>& v) {
    double m = NAN;
    for (double d : v)
        if (!std::isnan(d) && (std::isnan(m) || d > m)) m = d;
    return m;
}

bool any_value(const std::vector<double>& v) {
    return !std::isnan(max_of(v));
}

// The summary's value as shown: numbers as written in the file.
std::string shown(const JsonMember* m) {
    if (!m || m->kind == JsonKind::Null) return "n/a";
    return m->text;
}

const char* cell_class(const JsonMember* m) {
    if (!m || m->kind == JsonKind::Null) return "na";
    return m->kind == JsonKind::Number ? "num" : "";
}

struct Label {
    const char* key;
    const char* text;
};

const Label kLabels[] = {
    {summary_key::server_rate, "server rate (messages/s)"},
    {summary_key::client_rate, "client rate (messages/s)"},
    {summary_key::padlen, "padding (bytes)"},
    {summary_key::client_buflen, "client buffer (bytes)"},
    {summary_key::server_buflen, "server buffer (bytes)"},
    {summary_key::link_rate_bps, "link rate (bit/s)"},
    {summary_key::delay_ms, "added delay (ms)"},
    {summary_key::seconds, "requested length (s)"},
    {summary_key::emulation, "emulation"},
    {summary_key::pacelag_version, "pacelag version"},
    {summary_key::kernel, "kernel"},
    {summary_key::duration_s, "duration (s)"},
    {summary_key::achieved_client_rate, "achieved client rate (messages/s)"},
    {summary_key::achieved_server_rate, "achieved server rate (messages/s)"},
    {summary_key::sent, "sent whole"},
    {summary_key::dropped, "dropped"},
    {summary_key::drop_share, "drop share"},
    {summary_key::max_age_s, "highest printed age (s)"},
    {summary_key::peak_client_sendq, "peak client send queue (bytes)"},
    {summary_key::peak_client_unsent, "peak not yet sent (bytes)"},
    {summary_key::peak_inflight, "peak in flight (bytes)"},
    {summary_key::peak_link_backlog, "peak link queue (bytes)"},
    {summary_key::peak_server_recvq, "peak server receive queue (bytes)"},
    {summary_key::max_est_delay_ms, "highest estimated delay (ms)"},
    {summary_key::final_est_delay_ms, "final estimated delay (ms)"},
    {summary_key::client_cadence, "client marks every n-th message"},
    {summary_key::server_cadence, "server prints every n-th age"},
    {summary_key::interrupted, "stopped early"},
};

const char* label_of(const std::string& key) {
    for (const Label& l : kLabels)
        if (key == l.key) return l.text;
    return key.c_str();
}

bool summary_tables(const std::vector<JsonMember>& summary, std::string& out) {
    out += "<section class=\"tables\">\n<table class=\"summary\" id=\"summary-parameters\">"
           "<caption>What was run</caption><tbody>\n";
    bool results = false;
    for (const JsonMember& m : summary) {
        if (!results && m.key == summary_key::duration_s) {
            results = true;
            out += "</tbody></table>\n<table class=\"summary\" id=\"summary-results\">"
                   "<caption>What was measured</caption><tbody>\n";
        }
        Vars v;
        v.set("label", label_of(m.key)).set("cls", cell_class(&m)).set("key", m.key);
        if (!fill(kSummaryRow, v.set("value", shown(&m)), Esc::Html, out)) return false;
    }
    out += "</tbody></table>\n</section>\n";
    return true;
}

std::string member_or(const std::vector<JsonMember>& s, const char* key, const char* unknown) {
    const JsonMember* m = json_find(s, key);
    return m && m->kind != JsonKind::Null ? m->text : unknown;
}

bool what_line(const std::vector<JsonMember>& s, std::string& out) {
    std::string link = "not shaped";
    double bps = json_number(s, summary_key::link_rate_bps);
    if (std::isfinite(bps) && bps >= 0 && bps < 1e15) {
        char buf[64];
        bitrate2str(buf, nullptr, bps);
        // "100.000 kbit/s" reads better as "100 kbit/s".
        std::string rate = buf;
        size_t unit = rate.find(' ');
        if (rate.find('.') < unit) {
            size_t end = rate.find_last_not_of('0', unit - 1);
            if (rate[end] == '.') --end;
            rate.erase(end + 1, unit - end - 1);
        }
        link = "shaped to " + rate;
    }
    double delay = json_number(s, summary_key::delay_ms);
    std::string added = std::isfinite(delay) && delay > 0
                            ? shown(json_find(s, summary_key::delay_ms)) + " ms"
                            : "none";
    Vars v;
    v.set("version", member_or(s, summary_key::pacelag_version, "?"))
        .set("server", member_or(s, summary_key::server_rate, "?"))
        .set("client", member_or(s, summary_key::client_rate, "?"))
        .set("padlen", member_or(s, summary_key::padlen, "?"))
        .set("cbuf", member_or(s, summary_key::client_buflen, "?"))
        .set("sbuf", member_or(s, summary_key::server_buflen, "?"))
        .set("link", link)
        .set("delay", added)
        .set("seconds", member_or(s, summary_key::seconds, "?"))
        .set("duration", member_or(s, summary_key::duration_s, "?"))
        .set("emulation", member_or(s, summary_key::emulation, "?"))
        .set("kernel", member_or(s, summary_key::kernel, "?"));
    std::string what;
    if (!fill("pacelag $version: server $server messages/s, client $client messages/s, padding "
              "$padlen bytes, buffers $cbuf bytes (client) and $sbuf bytes (server), link $link, "
              "added delay $delay, $seconds s requested, $duration s run, emulation $emulation, "
              "kernel $kernel.",
              v, Esc::Html, what))
        return false;
    Vars h;
    return fill(kRunHeader, h.set("what", what), Esc::Raw, out);
}

bool other_lines(const std::vector<Event>& events, std::string& out) {
    const size_t kShown = 200;
    std::vector<const Event*> lines;
    for (const Event& e : events) {
        long long age;
        bool whole = false;
        if (e.side == kSideServer && is_age_line(e.line, age)) continue;
        if (e.side == kSideClient && is_mark(e.line, whole)) continue;
        lines.push_back(&e);
    }
    if (lines.empty()) return true;
    Vars h;
    h.set("shown", std::to_string(std::min(lines.size(), kShown)))
        .set("total", std::to_string(lines.size()));
    if (!fill(kLinesHeader, h, Esc::Html, out)) return false;
    for (size_t i = 0; i < lines.size() && i < kShown; ++i) {
        char t[32];
        std::snprintf(t, sizeof t, "%.3f", lines[i]->t);
        Vars v;
        v.set("t", t).set("side", lines[i]->side).set("line", lines[i]->line);
        if (!fill(kLineRow, v, Esc::Html, out)) return false;
    }
    out += "</tbody></table>\n";
    return true;
}

// The summary's own cadence when it gives one, else the one the rate implies.
int client_cadence(const std::vector<JsonMember>& s) {
    double given = json_number(s, summary_key::client_cadence);
    if (given >= 1 && given <= 100000 && given == std::floor(given)) return static_cast<int>(given);
    return mark_cadence(json_number(s, summary_key::client_rate));
}

bool rate_explain(const std::vector<JsonMember>& s, std::string& out) {
    int cadence = client_cadence(s);
    if (cadence <= 1) {
        out += cadence == 0 ? kRateExplainMarks : kRateExplainEvery;
        return true;
    }
    Vars v;
    v.set("cadence", std::to_string(cadence))
        .set("clientrate", shown(json_find(s, summary_key::client_rate)));
    return fill(kRateExplainCadence, v, Esc::Html, out);
}

double run_duration(const RunInput& run) {
    double d = json_number(run.summary, summary_key::duration_s);
    if (std::isfinite(d) && d > 0) return d;
    d = max_of(run.timeline.t);
    for (const Event& e : run.events)
        if (std::isnan(d) || e.t > d) d = e.t;
    return d;
}

void run_data(const RunInput& run, std::string& out) {
    const Timeline& tl = run.timeline;
    const size_t kPoints = 1200;
    struct Series {
        const char* label;
        const std::vector<double>* y;
        int color;
        bool part; // a part of the send queue: dashed, so the whole shows through
    } queues[] = {{"client send queue", &tl.client_sendq, 0, false},
                  {"of which not yet sent", &tl.client_unsent, 1, true},
                  {"in flight", &tl.inflight, 2, true},
                  {"link queue", &tl.link_backlog, 4, false},
                  {"server receive queue", &tl.server_recvq, 3, false}};
    out += "{\"duration\":" + num(run_duration(run)) + ",\n\"queues\":[";
    bool first = true;
    for (const Series& s : queues) {
        // Without a shaped link there is no link queue to draw.
        if (s.y == &tl.link_backlog && !any_value(*s.y)) continue;
        if (!first) out += ",\n";
        first = false;
        out += std::string("{\"label\":\"") + s.label + "\",\"color\":" + num(s.color) +
               ",\"dash\":" + (s.part ? "true" : "false") + ",\"points\":";
        append_points(out, tl.t, *s.y, kPoints);
        out += '}';
    }
    out += "],\n\"est\":";
    append_points(out, tl.t, tl.est_delay_ms, kPoints);

    std::vector<double> at, ages;
    for (const Event& e : run.events) {
        long long age;
        if (e.side == kSideServer && is_age_line(e.line, age)) {
            at.push_back(e.t);
            ages.push_back(static_cast<double>(age));
        }
    }
    out += ",\n\"ages\":";
    append_points(out, at, ages, kPoints);
    double maxest = max_of(tl.est_delay_ms), maxage = max_of(ages);
    out += ",\n\"maxEst\":" + num(std::isnan(maxest) ? 0 : maxest);
    out += ",\n\"maxAge\":" + num(std::isnan(maxage) ? 0 : maxage);

    std::vector<int> sent, dropped;
    marks_per_second(run.events, sent, dropped);
    int cadence = client_cadence(run.summary);
    double scale = cadence > 0 ? cadence : 1;
    // Long experiments get wider bars, so the chart stays readable and quick.
    size_t width = 1;
    std::vector<double> sentbars = per_second_bars(sent, 600, width);
    std::vector<double> droppedbars = per_second_bars(dropped, 600, width);
    std::string seconds, sentv, droppedv;
    for (size_t i = 0; i < sentbars.size(); ++i) {
        const char* sep = i ? "," : "";
        seconds += sep + std::to_string(i * width);
        sentv += sep + num(sentbars[i] * scale);
        droppedv += sep + num(droppedbars[i] * scale);
    }
    out += ",\n\"seconds\":[" + seconds + "],\n\"sent\":[" + sentv + "],\n\"dropped\":[" +
           droppedv + "],\n\"barSeconds\":" + num(static_cast<double>(width)) +
           ",\n\"rateUnit\":\"";
    out += cadence > 0 ? "messages per second" : "marks per second";
    out += "\"}";
}

bool page(const std::string& title, const std::string& body, const std::string& data,
          const char* script, const std::string& chartjs, std::string& html) {
    Vars v;
    v.set("title", title)
        .set("style", kPageStyle)
        .set("guard", kPageGuardJs)
        .set("chartjs", chartjs)
        .set("body", body)
        .set("data", data)
        .set("script", std::string(kPageCommonJs) + script);
    html.clear();
    return fill(kPageSkeleton, v, Esc::Raw, html);
}

} // namespace

std::string script_safe(const std::string& json) {
    std::string out;
    out.reserve(json.size());
    for (unsigned char c : json) {
        if (c == '<' || c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool load_chartjs(const char* path, std::string& js, std::string& err) {
    int len = 0;
    char* text = readfile(path, &len);
    if (!text) {
        err = std::string("cannot read ") + path + ": install Debian's package libjs-chart.js";
        return false;
    }
    js.assign(text, static_cast<size_t>(len));
    std::free(text);
    // Inlined, such a text would end the script element early.
    if (js.find('\0') != std::string::npos || strcasestr(js.c_str(), "</script") ||
        js.find("<!--") != std::string::npos) {
        err = std::string(path) + " cannot be inlined into a page (it holds </script, <!-- or NUL)";
        return false;
    }
    return true;
}

bool render_run_page(const RunInput& run, const std::string& chartjs, std::string& html) {
    std::string body, data, rates;
    if (!what_line(run.summary, body) || !summary_tables(run.summary, body) ||
        !rate_explain(run.summary, rates))
        return false;
    Vars charts;
    if (!fill(kRunCharts, charts.set("rateexplain", rates), Esc::Raw, body)) return false;
    if (!other_lines(run.events, body)) return false;
    body += kPageFooter;
    run_data(run, data);
    return page("pacelag-lab report", body, data, kRunDrawJs, chartjs, html);
}

namespace {

bool sweep_table(const std::string& vary, const std::vector<SweepRun>& runs, std::string& out) {
    static const char* const keys[] = {summary_key::final_est_delay_ms,
                                       summary_key::max_est_delay_ms,
                                       summary_key::max_age_s,
                                       summary_key::drop_share,
                                       summary_key::achieved_client_rate,
                                       summary_key::achieved_server_rate,
                                       summary_key::peak_client_sendq,
                                       summary_key::peak_inflight,
                                       summary_key::peak_link_backlog,
                                       summary_key::peak_server_recvq};
    Vars head;
    if (!fill(kSweepTableStart, head.set("vary", vary), Esc::Html, out)) return false;
    for (size_t i = 0; i < runs.size(); ++i) {
        Vars row;
        row.set("i", std::to_string(i)).set("value", runs[i].value);
        if (!fill(kSweepRowStart, row, Esc::Html, out)) return false;
        for (const char* key : keys) {
            const JsonMember* m = json_find(runs[i].run.summary, key);
            Vars cell;
            cell.set("cls", cell_class(m)).set("i", std::to_string(i)).set("key", key);
            if (!fill(kSweepCell, cell.set("value", shown(m)), Esc::Html, out)) return false;
        }
        Vars link;
        if (!fill("<td><a href=\"$link\">report</a></td></tr>\n", link.set("link", runs[i].link),
                  Esc::Html, out))
            return false;
    }
    out += "</tbody></table>\n";
    return true;
}

bool sweep_data(const std::string& vary, const std::vector<SweepRun>& runs, std::string& out) {
    auto column = [&](const char* key, double scale) {
        std::string s = "[";
        for (size_t i = 0; i < runs.size(); ++i)
            s += (i ? "," : "") + num(json_number(runs[i].run.summary, key) * scale);
        return s + "]";
    };
    out += "{\"vary\":";
    if (!json_text(vary, out)) return false;
    out += ",\n\"values\":[";
    for (size_t i = 0; i < runs.size(); ++i) {
        if (i) out += ',';
        if (!json_text(runs[i].value, out)) return false;
    }
    out += "],\n\"finalEst\":" + column(summary_key::final_est_delay_ms, 1);
    out += ",\n\"maxAge\":" + column(summary_key::max_age_s, 1);
    out += ",\n\"dropPct\":" + column(summary_key::drop_share, 100);
    out += ",\n\"queues\":[";
    struct Peak {
        const char* key;
        const char* label;
        int color;
    } peaks[] = {{summary_key::peak_client_sendq, "client send queue", 0},
                 {summary_key::peak_inflight, "in flight", 2},
                 {summary_key::peak_link_backlog, "link queue", 4},
                 {summary_key::peak_server_recvq, "server receive queue", 3}};
    bool first = true;
    for (const Peak& p : peaks) {
        bool known = false;
        for (const SweepRun& r : runs) known |= std::isfinite(json_number(r.run.summary, p.key));
        if (!known) continue;
        if (!first) out += ',';
        first = false;
        out += std::string("{\"label\":\"") + p.label + "\",\"color\":" + num(p.color) +
               ",\"data\":" + column(p.key, 1) + "}";
    }
    out += "],\n\"timelines\":[";
    double duration = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        if (i) out += ",\n";
        out += "{\"label\":";
        if (!json_text(vary + " " + runs[i].value, out)) return false;
        out += ",\"points\":";
        append_points(out, runs[i].run.timeline.t, runs[i].run.timeline.est_delay_ms, 600);
        out += '}';
        double d = run_duration(runs[i].run);
        if (std::isfinite(d) && d > duration) duration = d;
    }
    out += "],\n\"duration\":" + num(duration) + "}";
    return true;
}

} // namespace

bool render_sweep_page(const std::string& vary, const std::vector<SweepRun>& runs,
                       const std::string& chartjs, std::string& html) {
    std::string body, data, title;
    Vars head;
    head.set("vary", vary).set("count", std::to_string(runs.size()));
    if (!fill(kSweepHeader, head, Esc::Html, body) || !sweep_table(vary, runs, body)) return false;
    body += kSweepCharts;
    body += kPageFooter;
    if (!sweep_data(vary, runs, data)) return false;
    Vars t;
    if (!fill("pacelag-lab sweep: $vary", t.set("vary", vary), Esc::Html, title)) return false;
    return page(title, body, data, kSweepDrawJs, chartjs, html);
}
