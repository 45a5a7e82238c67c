#pragma once
// The program's own text (settings, the executable's name, paths, the log) is in the system's
// code page: the ANSI code page on Windows, UTF-8 on POSIX, where both conversions are the
// identity. Text that leaves for a UTF-8 file (the document, the metrics) or comes from one (a
// database value on its way to the log) is converted here.
#include <string>
#include <string_view>

namespace brimlet {

// The program's text as UTF-8.
std::string Utf8FromAnsi(std::string_view text);

// UTF-8 text in the program's code page. On Windows a character the code page lacks becomes
// its best fit or "?", and so do bytes that are not UTF-8.
std::string AnsiFromUtf8(std::string_view text);

}  // namespace brimlet
