#include "metrics/metrics.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdio>
#include <random>

#include "common/fd_io.h"
#include "common/unique_fd.h"

namespace brimlet::metrics {

namespace {

constexpr std::string_view kLastSuccess = "brimlet_last_success_timestamp_seconds";
constexpr std::string_view kLastPublished = "brimlet_last_published_timestamp_seconds";
// We write a few hundred bytes; anything much larger is not ours.
constexpr std::size_t kPreviousMaxBytes = std::size_t{64} * 1024;

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

std::string WithoutTrailingSlashes(std::string path) {
    // "dir/" would follow a symlink named dir in spite of O_NOFOLLOW.
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

// The previous file's text, or "" when there is none that is a regular file.
std::string ReadPrevious(int dirFd, const std::string& name) {
    struct stat st {};
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    const UniqueFd fd(
        ::openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (!fd || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return {};
    }
    // A read error keeps what came before it, as the end of the file would.
    std::string text;
    (void)ReadUpTo(fd.get(), kPreviousMaxBytes, text);
    return text;
}

// Removes the temporary file unless it was renamed.
class TempEntry {
  public:
    TempEntry(int dirFd, std::string name) : m_dirFd(dirFd), m_name(std::move(name)) {}
    ~TempEntry() {
        if (!m_name.empty()) {
            ::unlinkat(m_dirFd, m_name.c_str(), 0);
        }
    }
    TempEntry(const TempEntry&) = delete;
    TempEntry& operator=(const TempEntry&) = delete;
    void Keep() { m_name.clear(); }

  private:
    int m_dirFd;
    std::string m_name;
};

void Replace(const std::string& directory, const RunFigures& run) {
    const std::string dir = WithoutTrailingSlashes(directory);
    const UniqueFd dirFd(
        ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!dirFd) {
        throw ErrnoFailure(errno, "open " + dir);
    }
    const std::string name = MetricsFileName(run.link);
    const std::string text =
        RenderMetrics(run, ReadCarriedOver(ReadPrevious(dirFd.get(), name), run));

    // Not ending in ".prom", so the collector never reads a half-written file.
    std::random_device random;
    std::string tempName;
    UniqueFd fd;
    for (int attempt = 0; attempt < 100 && !fd; ++attempt) {
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, "%06x", random() & 0xffffffu);
        tempName = "." + name + "." + suffix;
        fd = UniqueFd(::openat(dirFd.get(), tempName.c_str(),
                               O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                               0644));
        if (!fd && errno != EEXIST) {
            throw ErrnoFailure(errno,
                               std::string("create ").append(dir).append("/").append(tempName));
        }
    }
    if (!fd) {
        throw ErrnoFailure(EEXIST, "create temporary file in " + dir);
    }
    TempEntry temp(dirFd.get(), tempName);
    // The collector may run as another user; the umask must not hide the file from it.
    if (::fchmod(fd.get(), 0644) != 0) {
        throw ErrnoFailure(errno, "chmod " + tempName);
    }
    if (!WriteAll(fd.get(), text)) {
        throw ErrnoFailure(errno, "write " + tempName);
    }
    if (::fsync(fd.get()) != 0) {
        throw ErrnoFailure(errno, "fsync " + tempName);
    }
    if (fd.Close() != 0) {
        throw ErrnoFailure(errno, "close " + tempName);
    }
    if (::renameat(dirFd.get(), tempName.c_str(), dirFd.get(), name.c_str()) != 0) {
        throw ErrnoFailure(errno, "rename " + tempName + " to " + name + " in " + dir);
    }
    temp.Keep();
    (void)::fsync(dirFd.get());
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
    return "{link=\"" + EscapeLabelValue(run.link) + "\",agent=\"" + EscapeLabelValue(run.agent) +
           "\",os=\"" + EscapeLabelValue(run.os) + "\"}";
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
        Replace(directory, run);
        return std::nullopt;
    } catch (...) {
        return CurrentFailure();
    }
}

}  // namespace brimlet::metrics
