#pragma once
// Paths as the platform spells them. Linux: "/" alone. Windows: "\" joins, and "\" or "/" end a
// directory, since its file functions take both; "C:" and "\\server\share" begin a root.
#include <string>
#include <string_view>

namespace brimlet {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
inline constexpr std::string_view kPathSeparators = "\\/";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr std::string_view kPathSeparators = "/";
#endif

bool IsPathSeparator(char c);

// True when `path` does not depend on a directory it is taken from: "/x"; on Windows also
// "\x", "C:\x", "C:x" and "\\srv\share".
bool IsRooted(std::string_view path);

// `dir` and `name` with one separator between them (none added when `dir` ends in one; an
// empty `dir` is the root's, whose separator is dropped in such a directory text).
std::string JoinPath(std::string_view dir, std::string_view name);

// `path` when rooted, else joined to `dir`: what the program's own directory makes of a
// setting, whatever the working directory that cron, systemd or the Task Scheduler gave it.
std::string Anchored(std::string_view dir, std::string_view path);

// A directory setting made absolute against the program's directory `dir`: as Anchored, and on
// Windows "\x" lies on the drive or share of `dir` and "D:x" is "D:\x", never below a working
// directory (System32 under the Task Scheduler).
std::string AnchoredDirectory(std::string_view dir, std::string_view path);

// Whether `path`, its trailing separators left out, is a root: "/"; on Windows "C:", "C:\",
// "\\srv\share" and "\\srv\share\".
bool IsRootPath(std::string_view path);

// `path` without its trailing separators, a root keeping one ("/", "C:\", "\\srv\share\").
std::string WithoutTrailingSeparators(std::string_view path);

// The directory of the last element of `path`: "." when it names none; the root keeps its
// separator ("/"; on Windows "\" and "C:\", since "C:" is that drive's working directory).
std::string DirectoryOf(std::string_view path);

// The last element of `path`.
std::string_view FileNameOf(std::string_view path);

// "<dir>.<name><suffix>" for the file <dir><name> at `path`, its directory spelled as given: a
// name that web servers do not list, in the file's own directory.
std::string DotNameBeside(std::string_view path, std::string_view suffix);

}  // namespace brimlet
