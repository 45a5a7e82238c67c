#include "metrics/metrics.h"

#include <charconv>

#include "common/code_page.h"
#include "metrics/metrics_file.h"

namespace brimlet::metrics {

namespace {

constexpr std::string_view kLastSuccess = "brimlet_last_success_timestamp_seconds";
constexpr std::string_view kLastPublished = "brimlet_last_published_timestamp_seconds";

void AppendMetric(std::string& out, std::string_view name, std::string_view help,
                  const std::string& labels, std::int64_t value) {
    out.append("# HELP ").append(name).append(" ").append(help).append("\n");
    out.append("# TYPE ").append(name).append(" gauge\n");
    out.append(name).append(labels).append(" ").append(std::to_string(value)).append("\n");
}

std::optional<std::int64_t> SampleValue(std::string_view text, std::string_view name,
                                        const std::string& labels) {
    std::optional<std::int64_t> found;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (line.size() <= name.size() + labels.size() || line.substr(0, name.size()) != name ||
            line.substr(name.size(), labels.size()) != labels ||
            line[name.size() + labels.size()] != ' ') {
            continue;
        }
        line.remove_prefix(name.size() + labels.size() + 1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        std::int64_t value = 0;
        const auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), value);
        if (ec == std::errc() && ptr == line.data() + line.size()) {
            found = value;
        }
    }
    return found;
}

}  // namespace

std::string EscapeLabelValue(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\n':
                out += "\\n";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string LabelSet(const RunFigures& run) {
    // The names are the program's text; the file is UTF-8, as the exporters read it.
    return "{link=\"" + EscapeLabelValue(Utf8FromAnsi(run.link)) + "\",agent=\"" +
           EscapeLabelValue(Utf8FromAnsi(run.agent)) + "\",os=\"" +
           EscapeLabelValue(Utf8FromAnsi(run.os)) + "\"}";
}

CarriedOver ReadCarriedOver(std::string_view text, const RunFigures& run) {
    const std::string labels = LabelSet(run);
    return CarriedOver{SampleValue(text, kLastSuccess, labels),
                       SampleValue(text, kLastPublished, labels)};
}

std::string RenderMetrics(const RunFigures& run, const CarriedOver& previous) {
    const std::string labels = LabelSet(run);
    const std::optional<std::int64_t> success =
        run.exitStatus == 0 ? std::optional(run.endTime) : previous.lastSuccess;
    const std::optional<std::int64_t> published =
        run.published ? std::optional(run.publishedTime) : previous.lastPublished;
    std::string out;
    AppendMetric(out, "brimlet_last_run_start_timestamp_seconds",
                 "Start of the latest run, in seconds since the epoch.", labels, run.startTime);
    AppendMetric(out, "brimlet_last_run_end_timestamp_seconds",
                 "End of the latest run, in seconds since the epoch.", labels, run.endTime);
    AppendMetric(out, "brimlet_last_run_duration_seconds", "Duration of the latest run.", labels,
                 run.endTime - run.startTime);
    AppendMetric(out, "brimlet_last_exit_status",
                 "Exit status of the latest run: 0 published and checksum accepted, 1 failed.",
                 labels, run.exitStatus);
    if (success) {
        AppendMetric(out, kLastSuccess, "End of the latest run with exit status 0.", labels,
                     *success);
    }
    AppendMetric(out, "brimlet_last_components_published",
                 "Components in the document the latest run published (0 when it published none).",
                 labels, run.componentsPublished);
    AppendMetric(out, "brimlet_last_rows_left_out",
                 "Rows the latest run left out of the document for an unusable component type.",
                 labels, run.rowsLeftOut);
    AppendMetric(out, "brimlet_last_document_bytes",
                 "Size of the document the latest run published (0 when it published none).",
                 labels, run.documentBytes);
    AppendMetric(out, "brimlet_last_error_entries", "ERR entries the latest run wrote to its log.",
                 labels, run.errorEntries);
    if (published) {
        AppendMetric(out, kLastPublished, "When the document now served was published.", labels,
                     *published);
    }
    if (run.expectedInterval) {
        AppendMetric(out, "brimlet_expected_interval_seconds",
                     "Seconds expected between runs of the pair (settings key intervalsec).",
                     labels, *run.expectedInterval);
    }
    return out;
}

std::optional<std::int64_t> ParseInterval(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || ec != std::errc() || ptr != text.data() + text.size() || value <= 0) {
        return std::nullopt;
    }
    return value;
}

std::string MetricsFileName(std::string_view link) {
    return "brimlet_" + std::string(link) + ".prom";
}

std::optional<Failure> WriteMetricsFile(const std::string& directory,
                                        const RunFigures& run) noexcept {
    try {
        ReplaceMetricsFile(directory, run);
        return std::nullopt;
    } catch (...) {
        return CurrentFailure();
    }
}

}  // namespace brimlet::metrics
