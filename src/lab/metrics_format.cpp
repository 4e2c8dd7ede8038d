// SPDX-License-Identifier: MIT
// Content negotiation and the OpenMetrics writer.
#include "metrics_format.h"

#include <prometheus/metric_family.h>
#include <prometheus/text_serializer.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <strings.h>

const char kTextContentType[] = "text/plain; version=0.0.4; charset=utf-8";
const char kOpenMetricsContentType[] = "application/openmetrics-text; version=1.0.0; charset=utf-8";

namespace {
std::string trimmed(const std::string& s) {
    size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    size_t b = s.find_last_not_of(" \t");
    return s.substr(a, b - a + 1);
}

// Quality of one media range: 1 unless a valid q parameter says otherwise;
// a malformed q makes the range unusable (0).
double quality(const std::vector<std::string>& params) {
    for (const std::string& p : params) {
        if (strncasecmp(p.c_str(), "q=", 2) != 0) continue;
        const char* text = p.c_str() + 2;
        char* end = nullptr;
        double q = strtod(text, &end);
        if (end == text || *end != '\0' || !(q >= 0) || q > 1) return 0;
        return q;
    }
    return 1;
}

std::string param(const std::vector<std::string>& params, const char* name) {
    size_t n = strlen(name);
    for (const std::string& p : params)
        if (p.size() > n && strncasecmp(p.c_str(), name, n) == 0 && p[n] == '=')
            return trimmed(p.substr(n + 1));
    return "";
}

void append_value(std::string& out, double v) {
    if (std::isnan(v)) {
        out += "NaN";
    } else if (std::isinf(v)) {
        out += v > 0 ? "+Inf" : "-Inf";
    } else {
        char num[40];
        snprintf(num, sizeof num, "%.17g", v);
        out += num;
    }
}

// Label values escape backslash, quote and line end; help texts the same.
void append_escaped(std::string& out, const std::string& text) {
    for (char ch : text) {
        if (ch == '\\') {
            out += "\\\\";
        } else if (ch == '"') {
            out += "\\\"";
        } else if (ch == '\n') {
            out += "\\n";
        } else {
            out += ch;
        }
    }
}
} // namespace

bool wants_openmetrics(const char* accept) {
    if (accept == nullptr) return false;
    double om = 0, text = 0;
    std::string all(accept);
    for (size_t start = 0; start <= all.size();) {
        size_t comma = all.find(',', start);
        if (comma == std::string::npos) comma = all.size();
        std::string range = all.substr(start, comma - start);
        start = comma + 1;
        std::vector<std::string> parts;
        for (size_t s = 0; s <= range.size();) {
            size_t semi = range.find(';', s);
            if (semi == std::string::npos) semi = range.size();
            parts.push_back(trimmed(range.substr(s, semi - s)));
            s = semi + 1;
        }
        const std::string type = parts[0];
        parts.erase(parts.begin());
        double q = quality(parts);
        if (strcasecmp(type.c_str(), "application/openmetrics-text") == 0) {
            std::string version = param(parts, "version");
            if (version.empty() || version == "1.0.0" || version == "0.0.1") om = std::max(om, q);
        } else if (strcasecmp(type.c_str(), "text/plain") == 0) {
            std::string version = param(parts, "version");
            if (version.empty() || version == "0.0.4") text = std::max(text, q);
        } else if (strcasecmp(type.c_str(), "text/*") == 0 || type == "*/*") {
            text = std::max(text, q);
        }
    }
    return om > 0 && om > text;
}

void write_text_format(std::string& out, const std::vector<prometheus::MetricFamily>& families) {
    std::ostringstream stream;
    prometheus::TextSerializer().Serialize(stream, families);
    out += stream.str();
}

void write_openmetrics(std::string& out, const std::vector<prometheus::MetricFamily>& families) {
    for (const prometheus::MetricFamily& f : families) {
        const bool counter = f.type == prometheus::MetricType::Counter;
        std::string name = f.name;
        if (counter && name.size() > 6 && name.compare(name.size() - 6, 6, "_total") == 0)
            name.erase(name.size() - 6);
        out += "# TYPE " + name + (counter ? " counter\n" : " gauge\n");
        out += "# HELP " + name + " ";
        append_escaped(out, f.help);
        out += '\n';
        for (const prometheus::ClientMetric& m : f.metric) {
            out += name;
            if (counter) out += "_total";
            if (!m.label.empty()) {
                out += '{';
                for (size_t i = 0; i < m.label.size(); ++i) {
                    if (i > 0) out += ',';
                    out += m.label[i].name + "=\"";
                    append_escaped(out, m.label[i].value);
                    out += '"';
                }
                out += '}';
            }
            out += ' ';
            append_value(out, counter ? m.counter.value : m.gauge.value);
            out += '\n';
        }
    }
    out += "# EOF\n";
}
