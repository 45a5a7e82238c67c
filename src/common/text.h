#pragma once
// Small text helpers over UTF-8 byte strings.
#include <string>
#include <string_view>
#include <vector>

namespace brimlet {

// Removes every byte of `blanks` at both ends.
std::string_view Trim(std::string_view s, std::string_view blanks);
// Removes spaces (and only spaces) at both ends: the trim the settings and the type keys use.
inline std::string_view TrimSpaces(std::string_view s) {
    return Trim(s, " ");
}
// Removes spaces and tabs, CR and LF at both ends.
inline std::string_view TrimWhitespace(std::string_view s) {
    return Trim(s, " \t\r\n");
}
// ASCII-only case mapping; other bytes are kept as they are.
std::string ToLowerAscii(std::string_view s);
std::string ToUpperAscii(std::string_view s);
bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b);
// Splits at every occurrence of sep, with no limit; "" gives one empty element.
std::vector<std::string> Split(std::string_view s, char sep);
// Control characters written visibly: \t, \r, \n, \0, else \xNN (ESC is \x1b, DEL \x7f);
// other bytes as they are.
std::string VisibleControls(std::string_view s);
// A value from a file or a database made inert for a terminal: VisibleControls, and a backslash
// written "\\", so that every backslash shown begins an escape.
std::string TerminalText(std::string_view s);
// Replaces TAB, CR and LF by one blank each.
std::string FlattenLine(std::string_view s);

}  // namespace brimlet
