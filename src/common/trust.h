#pragma once
// Files whose content decides what the program runs (the MD5 library, the settings that name
// the ODBC driver) are used only when no other account could have written them.
#include <string>

namespace brimlet {

#ifdef _WIN32
// Why the open file `handle` (a HANDLE) may not be trusted, or "" when it may: neither the file
// nor its directory may grant Everyone, Users or Authenticated Users a right to change it.
std::string DistrustOf(void* handle);
#else
// Why the open regular file `fd` may not be trusted, or "" when it may: the file and its real
// parent directory must each be owned by root or by the effective user and be writable by
// neither group nor others (the rule SSH applies to its keys). The file is judged by what the
// descriptor holds, so a symlink that led to it changes nothing.
std::string DistrustOf(int fd);

// The real path of an open descriptor ("" when it cannot be told).
std::string RealPathOf(int fd);
#endif

}  // namespace brimlet
