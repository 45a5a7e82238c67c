#include "metrics/status.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

#include "common/clock.h"
#include "common/code_page.h"
#include "common/text.h"

namespace brimlet::metrics {

namespace {

// The value of label `name` in a label set `{a="x",b="y"}`, unescaped.
std::optional<std::string> LabelValue(std::string_view labels, std::string_view name) {
    std::size_t pos = 1;
    while (pos < labels.size()) {
        const std::size_t eq = labels.find("=\"", pos);
        if (eq == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view key = labels.substr(pos, eq - pos);
        std::string value;
        std::size_t i = eq + 2;
        for (; i < labels.size() && labels[i] != '"'; ++i) {
            if (labels[i] == '\\' && i + 1 < labels.size()) {
                ++i;
                value += labels[i] == 'n' ? '\n' : labels[i];
            } else {
                value += labels[i];
            }
        }
        if (key == name) {
            return value;
        }
        pos = i + 2;  // past the quote and the comma
    }
    return std::nullopt;
}

std::optional<std::int64_t>* Field(PairStatus& pair, std::string_view metric) {
    if (metric == "brimlet_last_run_end_timestamp_seconds") {
        return &pair.lastRunEnd;
    }
    if (metric == "brimlet_last_exit_status") {
        return &pair.exitStatus;
    }
    if (metric == "brimlet_last_success_timestamp_seconds") {
        return &pair.lastSuccess;
    }
    if (metric == "brimlet_last_components_published") {
        return &pair.components;
    }
    if (metric == "brimlet_last_document_bytes") {
        return &pair.documentBytes;
    }
    if (metric == "brimlet_expected_interval_seconds") {
        return &pair.expectedInterval;
    }
    return nullptr;
}

std::string Number(const std::optional<std::int64_t>& value) {
    return value ? std::to_string(*value) : "-";
}

std::string Padded(std::string text, std::size_t width) {
    if (text.size() < width) {
        text.append(width - text.size(), ' ');
    }
    return text;
}

}  // namespace

bool PairStatus::Overdue(std::int64_t now) const {
    if (!lastSuccess) {
        return true;
    }
    return now - *lastSuccess >
           kOverdueIntervals * expectedInterval.value_or(kDefaultIntervalSeconds);
}

std::vector<PairStatus> ParsePairs(std::string_view text) {
    std::vector<PairStatus> pairs;
    while (!text.empty()) {
        const std::size_t eol = text.find('\n');
        std::string_view line = text.substr(0, eol);
        text.remove_prefix(eol == std::string_view::npos ? text.size() : eol + 1);
        const std::size_t brace = line.find('{');
        const std::size_t close = line.rfind("} ");
        if (line.empty() || line.front() == '#' || brace == std::string_view::npos ||
            close == std::string_view::npos || close < brace) {
            continue;
        }
        const std::optional<std::string> link =
            LabelValue(line.substr(brace, close + 1 - brace), "link");
        std::string_view value = line.substr(close + 2);
        while (!value.empty() && (value.back() == '\r' || value.back() == ' ')) {
            value.remove_suffix(1);
        }
        std::int64_t number = 0;
        const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), number);
        if (!link || ec != std::errc() || ptr != value.data() + value.size()) {
            continue;
        }
        // The file is UTF-8; the report is the program's text.
        const std::string name = AnsiFromUtf8(*link);
        auto it = std::find_if(pairs.begin(), pairs.end(),
                               [&](const PairStatus& p) { return p.link == name; });
        if (it == pairs.end()) {
            pairs.push_back(PairStatus{name, {}, {}, {}, {}, {}, {}});
            it = pairs.end() - 1;
        }
        if (std::optional<std::int64_t>* field = Field(*it, line.substr(0, brace))) {
            *field = number;
        }
    }
    return pairs;
}

std::string AgeText(std::int64_t seconds) {
    char buf[48];
    if (seconds < 60) {
        std::snprintf(buf, sizeof buf, "%llds", static_cast<long long>(seconds));
    } else if (seconds < 3600) {
        std::snprintf(buf, sizeof buf, "%lldm", static_cast<long long>(seconds / 60));
    } else if (seconds < 86400) {
        std::snprintf(buf, sizeof buf, "%lldh %02lldm", static_cast<long long>(seconds / 3600),
                      static_cast<long long>(seconds % 3600 / 60));
    } else {
        std::snprintf(buf, sizeof buf, "%lldd %02lldh", static_cast<long long>(seconds / 86400),
                      static_cast<long long>(seconds % 86400 / 3600));
    }
    return buf;
}

std::vector<PairStatus> LinkedPairs(std::vector<PairStatus> pairs,
                                    const std::function<bool(const std::string&)>& hasLink,
                                    std::size_t& leftOut) {
    const auto gone = std::remove_if(pairs.begin(), pairs.end(),
                                     [&](const PairStatus& p) { return !hasLink(p.link); });
    leftOut = static_cast<std::size_t>(pairs.end() - gone);
    pairs.erase(gone, pairs.end());
    return pairs;
}

std::string StatusReport(std::vector<PairStatus> pairs, std::int64_t now, bool& anyBad) {
    const auto bad = [now](const PairStatus& p) { return p.Failing() || p.Overdue(now); };
    std::stable_sort(pairs.begin(), pairs.end(), [&](const PairStatus& a, const PairStatus& b) {
        return bad(a) != bad(b) ? bad(a) : a.link < b.link;
    });
    anyBad = std::any_of(pairs.begin(), pairs.end(), bad);
    // A label is whatever the file holds: shown inert, one line per pair.
    std::vector<std::string> names;
    std::size_t width = 4;
    for (const PairStatus& p : pairs) {
        names.push_back(TerminalText(p.link));
        width = std::max(width, names.back().size());
    }
    std::string out = Padded("PAIR", width + 2) + Padded("LAST RUN", 21) + Padded("STATUS", 8) +
                      Padded("SUCCESS AGO", 13) + Padded("ROWS", 9) + "BYTES\n";
    for (std::size_t i = 0; i < pairs.size(); ++i) {
        const PairStatus& p = pairs[i];
        std::string line = Padded(names[i], width + 2);
        line += Padded(
            p.lastRunEnd ? GeneralDateText(static_cast<std::time_t>(*p.lastRunEnd)) : "-", 21);
        line += Padded(p.exitStatus ? std::to_string(*p.exitStatus) : "-", 8);
        line += Padded(p.lastSuccess ? AgeText(now - *p.lastSuccess) : "never", 13);
        line += Padded(Number(p.components), 9);
        line += Padded(Number(p.documentBytes), 12);
        if (p.Failing()) {
            line += " FAILING";
        }
        if (p.Overdue(now)) {
            line += " OVERDUE";
        }
        while (!line.empty() && line.back() == ' ') {
            line.pop_back();
        }
        out += line + "\n";
    }
    return out;
}

}  // namespace brimlet::metrics
