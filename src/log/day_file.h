#pragma once
// The log's platform half: the day's file, opened afresh for every entry, and stderr.
#include <cerrno>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "log/severity.h"

#include "common/failure.h"

namespace brimlet {

// What the executable's directory and the day's file name are joined with.
#ifdef _WIN32
inline constexpr std::string_view kLogFolder = "\\Log\\";
#else
inline constexpr std::string_view kLogFolder = "/Log/";
#endif

inline Failure NotARegularFile(const std::string& path) {
    return Failure(EINVAL, path + ": not a regular file");
}

// Whether a regular file lies at `path`, looked at without opening it or following a symlink:
// false when nothing does. Throws NotARegularFile for anything else there, and the system's
// Failure when the look itself fails.
bool DayFileExists(const std::string& path);

class DayFile {
  public:
    // Opens `path` for appending, creating it with the default rights; never follows a symlink
    // and never waits for a FIFO's reader.
    explicit DayFile(const std::string& path);
    ~DayFile();
    DayFile(const DayFile&) = delete;
    DayFile& operator=(const DayFile&) = delete;

    // True when the file is open.
    explicit operator bool() const;
    // The open was refused for want of rights or on a read-only file system.
    bool Refused() const;
    // The size of what was opened, when it is a regular file.
    std::optional<std::uint64_t> RegularSize();
    // Writes all of `data` with one write, so that it is whole or absent: after a short write
    // the file is cut back to `start`, its size before.
    bool AppendWhole(std::string_view data, std::uint64_t start);
    // Closes the file; false when closing reported a failure.
    bool Close();

    // The last failure of the calls above, naming the path, and its reason alone.
    Failure LastFailure() const;
    std::string Reason() const;

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// One write of `text` to the standard error stream.
void WriteStderr(std::string_view text);

// One write of a run's report line (`line` ends in a line feed) to the standard error stream,
// ranked by `severity`.
void WriteReportLine(std::string_view line, Severity severity);

}  // namespace brimlet
