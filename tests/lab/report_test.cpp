// SPDX-License-Identifier: MIT
// The report as a person sees it: synthetic experiment directories turned
// into pages, checked for self-containment and escaping, then opened in
// headless Chromium: no script errors, every chart drawn with data in its
// plot area, and the numbers on the page equal to summary.json.
//
// Whether a chart is blank is read from the page itself: after drawing, it
// stores on each canvas the count of coloured pixels inside the plot area
// (grid and axes are grey), which --dump-dom then shows.
#include "report.h"
#include "report_data.h"
#include "report_page.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Hostile texts: each would break the page if it reached it unescaped.
const char* const kHostileKernel = "6.1.0 </script><b>k</b> \"q\" & <!--<script>";
const char* const kHostileLine = "[WARNING] </script><b>bold</b>, \"quoted\" <!--<script>";

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/pacelag-report-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made ? made : "";
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) fs::remove_all(path_, ec);
    }
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void spit(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string csv_field(const std::string& s) {
    if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
    std::string q = "\"";
    for (char c : s) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + "\"";
}

std::string fmt(const char* f, double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, f, v);
    return buf;
}

// A server-bound experiment as the lab would record it: 4/s against 2/s with
// 210-byte messages, the backlog filling the server's receive queue, then the
// client's send queue, then drops; one sample every 10 ms.
struct Synthetic {
    double seconds = 20;
    bool shaped = false;
    double buflen = 2048;
    std::string kernel = kHostileKernel;
    std::string lab_line = kHostileLine;
    std::string emulation = "namespaces";
    std::string extra = ",\"extra_key\":[1,2]"; // a nested key appended later
};

std::string write_run(const std::string& dir, const Synthetic& s) {
    fs::create_directories(dir);
    const double rate = 420, cap = 2 * s.buflen + 1000;
    auto queued = [&](double t) { return std::min(rate * t, cap); };
    std::string tl = "t,client_sendq,client_unsent,inflight,link_backlog,server_recvq,cwnd,rtt_ms,"
                     "consumed_bps,est_delay_ms\n";
    double peak_sendq = 0, peak_recvq = 0, est = 0, max_est = 0;
    for (int i = 0; i <= static_cast<int>(s.seconds * 100); ++i) {
        double t = i / 100.0, q = queued(t);
        double recvq = std::min(q, s.buflen), link = s.shaped ? std::min(q - recvq, 500.0) : 0;
        double sendq = q - recvq - link, unsent = std::floor(sendq * 0.6);
        est = q / rate * 1000;
        peak_sendq = std::max(peak_sendq, sendq);
        peak_recvq = std::max(peak_recvq, recvq);
        max_est = std::max(max_est, t >= 1 ? est : 0);
        tl += fmt("%.3f", t) + "," + fmt("%.0f", sendq) + "," + fmt("%.0f", unsent) + "," +
              fmt("%.0f", sendq - unsent) + "," + (s.shaped ? fmt("%.0f", link) : "") + "," +
              fmt("%.0f", recvq) + ",10,0.052," + (t >= 1 ? "420," + fmt("%.1f", est) : ",") + "\n";
    }
    std::string ev = "t,side,line\n0.002,server,Waiting for connection..\n"
                     "0.010,server,Accepted connection..\n0.011,lab," +
                     csv_field(s.lab_line) + "\n";
    int sent = 0, dropped = 0, max_age = 0;
    for (int i = 0; i < static_cast<int>(s.seconds * 4); ++i) {
        double t = 0.02 + i * 0.25;
        // Once both buffers are full the server frees room for every second message.
        bool full = queued(t) >= cap && i % 2 == 1;
        (full ? dropped : sent)++;
        ev += fmt("%.3f", t) + ",client," + (full ? "." : "#") + "\n";
        if (i % 2 == 0) {
            int age = static_cast<int>(queued(t - 1) / rate);
            max_age = std::max(max_age, age);
            ev += fmt("%.3f", t + 0.1) + ",server," + std::to_string(age) + "\n";
        }
    }
    std::string js = "{\"server_rate\":2,\"client_rate\":4,\"padlen\":200,\"client_buflen\":" +
                     fmt("%.0f", s.buflen) + ",\"server_buflen\":" + fmt("%.0f", s.buflen) +
                     ",\"link_rate_bps\":" + (s.shaped ? "100000" : "null") +
                     ",\"delay_ms\":0,\"seconds\":" + fmt("%.0f", s.seconds) + ",\"emulation\":\"" +
                     s.emulation + "\",\"pacelag_version\":\"1.0.0\",\"kernel\":\"";
    for (char c : s.kernel) js += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    js += "\",\"duration_s\":" + fmt("%.2f", s.seconds + 0.02) +
          ",\"achieved_client_rate\":3.98,\"achieved_server_rate\":2.0,\"sent\":" +
          std::to_string(sent) + ",\"dropped\":" + std::to_string(dropped) +
          ",\"drop_share\":" + fmt("%.4g", double(dropped) / (sent + dropped)) +
          ",\"max_age_s\":" + std::to_string(max_age) +
          ",\"peak_client_sendq\":" + fmt("%.0f", peak_sendq) +
          ",\"peak_client_unsent\":" + fmt("%.0f", peak_sendq * 0.6) +
          ",\"peak_inflight\":" + fmt("%.0f", peak_sendq * 0.4) +
          ",\"peak_link_backlog\":" + (s.shaped ? "500" : "null") +
          ",\"peak_server_recvq\":" + fmt("%.0f", peak_recvq) +
          ",\"max_est_delay_ms\":" + fmt("%.1f", max_est) +
          ",\"final_est_delay_ms\":" + fmt("%.1f", est) + s.extra + "}\n";
    spit(dir + "/timeline.csv", tl);
    spit(dir + "/events.csv", ev);
    spit(dir + "/summary.json", js);
    return dir;
}

int count_of(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// The page's own structure: four script elements, none loaded from outside,
// and no hostile text arriving raw.
void expect_self_contained(const std::string& html) {
    EXPECT_EQ(count_of(html, "<script"), 4);
    EXPECT_EQ(count_of(html, "</script>"), 4);
    EXPECT_EQ(html.find("<script src"), std::string::npos);
    EXPECT_EQ(html.find("<link"), std::string::npos);
    EXPECT_EQ(html.find("<!--"), std::string::npos);
    EXPECT_EQ(html.find("<b>"), std::string::npos);
    EXPECT_EQ(std::regex_search(html, std::regex("(src|href)=\"?https?:")), false);
}

std::string html_text(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '&')
            out += "&amp;";
        else if (c == '<')
            out += "&lt;";
        else if (c == '>')
            out += "&gt;";
        else
            out += c;
    }
    return out;
}

#define SKIP_WITHOUT_CHARTJS()                                                                     \
    if (access(kChartJsPath, R_OK) != 0)                                                           \
    GTEST_SKIP() << "no " << kChartJsPath << " (Debian's libjs-chart.js) to inline"

} // namespace

TEST(Report, RunPageIsSelfContainedAndEscaped) {
    SKIP_WITHOUT_CHARTJS();
    TempDir tmp;
    ASSERT_FALSE(tmp.path().empty());
    std::string dir = write_run(tmp / "run", Synthetic{});
    ASSERT_EQ(lab_write_report(dir.c_str()), 0);
    EXPECT_FALSE(fs::exists(dir + "/report.html.tmp"));
    std::string html = slurp(dir + "/report.html");
    expect_self_contained(html);
    // Escaped once in the page's text, and in the data as \u003c.
    EXPECT_NE(html.find("6.1.0 &lt;/script&gt;&lt;b&gt;k&lt;/b&gt; &quot;q&quot; &amp;"),
              std::string::npos);
    EXPECT_NE(html.find("&lt;/script&gt;&lt;b&gt;bold&lt;/b&gt;, &quot;quoted&quot;"),
              std::string::npos);
    EXPECT_NE(html.find("id=\"summary-max_age_s\""), std::string::npos);
    EXPECT_NE(html.find("id=\"summary-extra_key\">[1,2]<"), std::string::npos);
    // 2001 samples thinned to at most 1200 points per series.
    EXPECT_LT(html.size(), 400000u);
    // Without a shaped link there is no link queue series.
    EXPECT_EQ(html.find("\"link queue\""), std::string::npos);
}

TEST(Report, FailuresSayWhyAndLeaveNoPage) {
    TempDir tmp;
    struct Case {
        const char* name;
        const char* file;
        bool remove;
        std::string contents;
        const char* message;
    } cases[] = {
        {"no summary", "summary.json", true, "", "summary.json: No such file"},
        {"bad summary", "summary.json", false, "{\"a\":1", "summary.json: expected ',' or '}'"},
        {"no events", "events.csv", true, "", "events.csv: No such file"},
        {"bad header", "timeline.csv", false, "t,sendq\n1,2\n", "no column \"client_sendq\""},
        {"NUL byte", "events.csv", false, std::string("t,side,line\n1,lab,a\0b\n", 22), "NUL byte"},
        // A summary states its format: a newer one is refused by name, and a
        // version's own columns are required.
        {"newer format", "summary.json", false, "{\"format_version\":3}", "newer pacelag-lab"},
        {"bad format", "summary.json", false, "{\"format_version\":\"2\"}",
         "format_version is not"},
        {"format 2 lacks a column", "summary.json", false, "{\"format_version\":2}",
         "no column \"server_received\""},
    };
    for (const Case& c : cases) {
        std::string dir = write_run(tmp / c.name, Synthetic{5});
        std::string path = dir + "/" + c.file;
        if (c.remove)
            fs::remove(path);
        else
            spit(path, c.contents);
        testing::internal::CaptureStderr();
        EXPECT_EQ(lab_write_report(dir.c_str()), -1) << c.name;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(err.find(c.message), std::string::npos) << c.name << ": " << err;
        EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
        EXPECT_FALSE(fs::exists(dir + "/report.html")) << c.name;
    }
    std::string js, err;
    EXPECT_FALSE(load_chartjs((tmp / "absent.js").c_str(), js, err));
    EXPECT_NE(err.find("libjs-chart.js"), std::string::npos) << err;
    spit(tmp / "evil.js", "var a = '</SCRIPT>';");
    EXPECT_FALSE(load_chartjs((tmp / "evil.js").c_str(), js, err));
    testing::internal::CaptureStderr();
    EXPECT_EQ(lab_write_report((tmp / "missing").c_str()), -1);
    EXPECT_EQ(lab_write_report(""), -1);
    testing::internal::GetCapturedStderr();
}

namespace {

// A sweep over buflen with one hostile value and one experiment that never
// wrote anything; returns the sweep's directory.
std::string write_sweep(const TempDir& tmp, std::vector<std::string>& values) {
    std::string out = tmp / "sweep";
    values = {"1024", "2048", "8192</script><!--<script>", "65536"};
    std::vector<std::string> dirs;
    for (size_t i = 0; i < values.size(); ++i) {
        dirs.push_back(out + "/buflen-" + std::to_string(i));
        Synthetic s;
        s.buflen = 1024 << (2 * i);
        s.shaped = i == 1;
        if (i < 3) write_run(dirs.back(), s);
    }
    std::vector<const char*> v, d;
    for (size_t i = 0; i < values.size(); ++i) {
        v.push_back(values[i].c_str());
        d.push_back(dirs[i].c_str());
    }
    testing::internal::CaptureStderr();
    int r = lab_write_sweep_report(out.c_str(), "buflen", static_cast<int>(values.size()), v.data(),
                                   d.data());
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(r, 0) << err;
    EXPECT_NE(err.find("buflen-3/summary.json"), std::string::npos) << err;
    return out;
}

// Reads a page's summary numbers back from its DOM and compares them with
// summary.json: numbers as written, null as "n/a", texts escaped once.
void expect_numbers(const std::string& dom, const std::string& summary_path,
                    const std::string& id_prefix) {
    std::vector<JsonMember> summary;
    std::string err;
    ASSERT_TRUE(parse_flat_json(slurp(summary_path).c_str(), summary, err)) << err;
    for (const JsonMember& m : summary) {
        if (id_prefix != "summary-" && m.kind != JsonKind::Number && m.kind != JsonKind::Null)
            continue;
        std::string id = "id=\"" + id_prefix + m.key + "\">";
        size_t at = dom.find(id);
        if (id_prefix != "summary-" && at == std::string::npos) continue; // not a sweep column
        ASSERT_NE(at, std::string::npos) << id;
        at += id.size();
        std::string shown = dom.substr(at, dom.find('<', at) - at);
        std::string want = m.kind == JsonKind::Null     ? "n/a"
                           : m.kind == JsonKind::String ? html_text(m.text)
                                                        : m.text;
        EXPECT_EQ(shown, want) << id;
        if (m.kind == JsonKind::Number) {
            EXPECT_EQ(std::strtod(shown.c_str(), nullptr), m.number) << id;
        }
    }
}

struct Browser {
    bool finished = false;
    std::string dom, log;
};

// Headless Chromium on one page with a fresh profile, killed after 60 s.
Browser open_in_chromium(const std::string& workdir, const std::string& page,
                         const std::string& screenshot) {
    Browser b;
    std::string out = workdir + "/chromium.out", log = workdir + "/chromium.log";
    std::vector<std::string> args = {"/usr/bin/chromium",
                                     "--headless",
                                     "--disable-gpu",
                                     "--disable-quic",
                                     "--no-first-run",
                                     "--disable-background-networking",
                                     "--disable-component-update",
                                     "--disable-sync",
                                     "--hide-scrollbars",
                                     "--user-data-dir=" + workdir + "/profile",
                                     "--enable-logging=stderr",
                                     "--v=0",
                                     "--virtual-time-budget=10000"};
    if (geteuid() == 0) args.push_back("--no-sandbox");
    if (screenshot.empty()) {
        args.push_back("--dump-dom");
    } else {
        args.push_back("--window-size=1200,1800");
        args.push_back("--screenshot=" + screenshot);
    }
    args.push_back("file://" + page);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);

    pid_t pid = fork();
    if (pid < 0) return b;
    if (pid == 0) {
        setpgid(0, 0);
        int o = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int e = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int in = open("/dev/null", O_RDONLY);
        if (o < 0 || e < 0 || in < 0) _exit(127);
        dup2(in, 0);
        dup2(o, 1);
        dup2(e, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    setpgid(pid, pid);
    int status = 0;
    for (int waited = 0; waited < 60000; waited += 50) {
        if (waitpid(pid, &status, WNOHANG) == pid) {
            b.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            break;
        }
        usleep(50000);
    }
    // The browser's helpers share its process group; none may outlive it.
    kill(-pid, SIGKILL);
    waitpid(pid, &status, 0);
    b.dom = slurp(out);
    b.log = slurp(log);
    return b;
}

// Drawn means: the marker set, every canvas with coloured pixels in its plot
// area, no fault recorded by the page and no console message at all.
void expect_drawn(const Browser& b, int charts) {
    ASSERT_TRUE(b.finished) << b.log;
    EXPECT_NE(b.dom.find("data-charts-drawn=\"" + std::to_string(charts) + "\""),
              std::string::npos);
    EXPECT_EQ(b.dom.find("data-page-faults"), std::string::npos) << b.dom.substr(0, 400);
    std::regex ink("<canvas id=\"([a-z-]+)\"[^>]*data-data-ink=\"([0-9]+)\"");
    int inked = 0;
    for (std::sregex_iterator it(b.dom.begin(), b.dom.end(), ink), end; it != end; ++it) {
        ++inked;
        EXPECT_GT(std::stol((*it)[2]), 200) << (*it)[1] << " looks blank";
    }
    EXPECT_EQ(inked, charts);
    std::istringstream lines(b.log);
    for (std::string line; std::getline(lines, line);)
        EXPECT_EQ(line.find(":CONSOLE"), std::string::npos) << line;
}

bool have_chromium() {
    return access("/usr/bin/chromium", X_OK) == 0;
}

} // namespace

TEST(Report, SweepPageSurvivesAMissingRun) {
    SKIP_WITHOUT_CHARTJS();
    TempDir tmp;
    std::vector<std::string> values;
    std::string out = write_sweep(tmp, values);
    std::string html = slurp(out + "/report.html");
    expect_self_contained(html);
    EXPECT_NE(html.find("<a href=\"buflen-0/report.html\">"), std::string::npos);
    EXPECT_NE(html.find("id=\"sweep-2-value\">8192&lt;/script&gt;"), std::string::npos);
    EXPECT_NE(html.find("id=\"sweep-3-max_age_s\">n/a<"), std::string::npos);
    EXPECT_NE(html.find("\"8192\\u003c\\/script>\\u003c!--\\u003cscript>\""), std::string::npos);
    // Only the shaped experiment has a link queue, and it is shown.
    EXPECT_NE(html.find("\"link queue\""), std::string::npos);

    testing::internal::CaptureStderr();
    const char* none[] = {"x"};
    const char* missing[] = {"/nonexistent/pacelag-run"};
    EXPECT_EQ(lab_write_sweep_report((tmp / "empty").c_str(), "buflen", 1, none, missing), -1);
    EXPECT_EQ(lab_write_sweep_report((tmp / "empty").c_str(), "buflen", 0, none, missing), -1);
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(fs::exists(tmp / "empty/report.html"));
}

TEST(ReportInBrowser, ChartsDrawnAndNumbersMatch) {
    SKIP_WITHOUT_CHARTJS();
    if (!have_chromium()) GTEST_SKIP() << "no /usr/bin/chromium (Debian's chromium) to open pages";
    TempDir tmp;
    ASSERT_FALSE(tmp.path().empty());
    Synthetic shaped;
    shaped.shaped = true;
    std::string run = write_run(tmp / "run", shaped);
    ASSERT_EQ(lab_write_report(run.c_str()), 0);
    Browser b = open_in_chromium(tmp.path(), run + "/report.html", "");
    expect_drawn(b, 3);
    expect_numbers(b.dom, run + "/summary.json", "summary-");
    // The hostile lines arrive as text, never as elements.
    EXPECT_EQ(b.dom.find("<b>"), std::string::npos);

    std::vector<std::string> values;
    std::string sweep = write_sweep(tmp, values);
    b = open_in_chromium(tmp.path(), sweep + "/report.html", "");
    expect_drawn(b, 4);
    for (int i = 0; i < 3; ++i)
        expect_numbers(b.dom, sweep + "/buflen-" + std::to_string(i) + "/summary.json",
                       "sweep-" + std::to_string(i) + "-");
    EXPECT_EQ(b.dom.find("<b>"), std::string::npos);

    // The README's picture, when asked for: the same page over a plain 30 s
    // experiment on this machine's kernel.
    if (const char* shot = std::getenv("PACELAG_REPORT_SCREENSHOT")) {
        struct utsname u;
        ASSERT_EQ(uname(&u), 0);
        Synthetic plain;
        plain.seconds = 30;
        plain.kernel = u.release;
        plain.lab_line = "not root: loopback, no link emulated";
        plain.emulation = "loopback";
        plain.extra = "";
        std::string dir = write_run(tmp / "picture", plain);
        ASSERT_EQ(lab_write_report(dir.c_str()), 0);
        b = open_in_chromium(tmp.path(), dir + "/report.html", shot);
        EXPECT_TRUE(b.finished) << b.log;
    }
}
