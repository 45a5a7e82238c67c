#pragma once
// Directory utilities: a trailing separator and the creation of a directory chain.
#include <string>
#include <string_view>

#include "common/path.h"
#include "log/log.h"

namespace brimlet {

// True when anything exists under `path` (a plain file passes as well as a directory), false
// when the path leads nowhere (ENOENT, ENOTDIR). Any other answer (no search permission, a
// symlink loop, a name too long) is a failure of the test itself: throws Failure (errno).
// On Windows the platform's directory search answers, and an entry marked hidden or system
// counts as missing; its failures carry the Win32 error code.
bool PathExists(const std::string& path);

// The presence test of a directory that a setting names (srvpath). Linux: PathExists. Windows:
// PathExists without the trailing "\" or "/", which the directory search would fail on; a
// drive or share root exists when it is reachable, whatever its hidden and system marks (an
// NTFS root carries both).
bool SettingDirectoryExists(const std::string& path);

// Creates the one directory `path` with the default rights; false when that is refused.
bool MakeDirectory(const std::string& path);

// `path` followed by one separator when its last character is not one (also when empty).
std::string QualifyPath(LogFile& log, std::string path);

// Creates every missing directory along `path`, parent before child, starting at the prefix
// made of its first two elements (which itself is never tested). True when every directory it
// tested exists or was created; false when a creation was refused or a test failed. A failing
// test writes an entry in the utilities' own layout; a refused creation writes none.
bool CreateDir(LogFile& log, std::string path);

}  // namespace brimlet
