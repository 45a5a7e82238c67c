#pragma once
// A failure the operating system reported, as the program's one failure type: the number is
// the system's code, the text "<context>: <the system's text for it>".
#include <string>

#include "common/failure.h"

namespace brimlet {

#ifdef _WIN32
// From a Win32 error code (a DWORD, as GetLastError() returns it).
Failure SystemFailure(unsigned long code, const std::string& context);
#else
// From an errno value: "open /x: No such file or directory".
Failure ErrnoFailure(int err, const std::string& context);
#endif

}  // namespace brimlet
