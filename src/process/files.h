#pragma once
// The run's own steps on files and directories, in the platform's terms: the document and its
// kept predecessor, the settings file as the run opens it, the directories --check looks at.
// Failures carry the system's number and text (errno, or the Win32 error code).
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

#include "common/failure.h"

namespace brimlet {

// Whether anything is at `path`, not following a symlink there.
bool EntryExists(const std::string& path);
// Whether `path` names a regular file itself: a symlink (a reparse point on Windows) does not
// count, whatever it leads to, nor does a directory.
bool IsPlainFile(const std::string& path);

struct FileFacts {
    std::int64_t bytes = 0;
    std::time_t modified = 0;
};
// Size and modification time of the regular file at `path`, or nothing.
std::optional<FileFacts> PlainFileFacts(const std::string& path);

// Removes the file at `path`; true when one was removed, false when none was there (nor could
// be: a part of the path is a plain file, or a directory is there). Throws Failure, `context`
// before the system's text, for any other refusal.
bool RemoveFileIfPresent(const std::string& path, const std::string& context);
// Removes the file at `path`, ignoring every failure.
void RemoveFileQuietly(const std::string& path) noexcept;
// Makes `link` a second name of the file at `target`; false when nothing is at `target`.
// Throws Failure with `context` for any other failure; when the file belongs to another
// account that this one may not link (fs.protected_hardlinks), the text names that account.
bool HardLinkIfPresent(const std::string& target, const std::string& link,
                       const std::string& context);
// Renames `from` over `to`; the failure (with `context`) when it cannot.
std::optional<Failure> RenameOver(const std::string& from, const std::string& to,
                                  const std::string& context) noexcept;
// Windows: clears the read-only attribute of the file at `path`, which would refuse its
// replacement and removal; true when it was set. Throws Failure with `context` when it cannot
// be cleared. A missing file, and every file on Linux (where the directory decides), give false.
bool ClearReadOnly(const std::string& path, const std::string& context);
// Sets the read-only attribute again (Windows), ignoring a failure: the document stays served.
void MarkReadOnly(const std::string& path) noexcept;
// Removes `path`, a missing file counting as removed; the failure (with `context`) otherwise.
std::optional<Failure> RemoveFile(const std::string& path, const std::string& context) noexcept;

// "" when `dir` is a directory the process may create files in, else why not.
std::string WritableDirectory(const std::string& dir);
// "" when something is at `path` (not following a symlink), else the system's reason.
std::string MissingReason(const std::string& path);

// Why the settings file at `path` may not be used, or "" when it may (or is not there to be
// read): the trust rule of common/trust.h on what was opened.
std::string SettingsDistrust(const std::string& path);
// Why a warning is due for the settings file at `path` (others may read it, password and all),
// or "" when none is. Windows leaves a file's readers to its access list: never one there.
#ifdef _WIN32
inline std::string SettingsExposure(const std::string& /*path*/) {
    return {};
}
#else
std::string SettingsExposure(const std::string& path);
#endif
// The settings file's text (at most kIniFileMaxBytes), or why there is none in `why`.
std::string ReadSettingsText(const std::string& path, std::string& why);

}  // namespace brimlet
