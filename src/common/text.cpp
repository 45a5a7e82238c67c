#include "common/text.h"

#include <algorithm>

namespace brimlet {

namespace {
char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
char UpperAscii(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
}  // namespace

std::string_view Trim(std::string_view s, std::string_view blanks) {
    const auto first = s.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

std::string ToLowerAscii(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), LowerAscii);
    return out;
}

std::string ToUpperAscii(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(), UpperAscii);
    return out;
}

bool EqualsIgnoreCaseAscii(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return LowerAscii(x) == LowerAscii(y);
           });
}

std::vector<std::string> Split(std::string_view s, char sep) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const auto pos = s.find(sep, start);
        if (pos == std::string_view::npos) {
            parts.emplace_back(s.substr(start));
            return parts;
        }
        parts.emplace_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

namespace {

std::string Visible(std::string_view s, bool backslash) {
    std::string out;
    out.reserve(s.size());
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' && backslash) {
            out += "\\\\";
        } else if (u >= 0x20 && u != 0x7f) {
            out += c;
        } else if (c == '\t') {
            out += "\\t";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\0') {
            out += "\\0";
        } else {
            static constexpr char kHex[] = "0123456789abcdef";
            out += "\\x";
            out += kHex[u >> 4];
            out += kHex[u & 0xf];
        }
    }
    return out;
}

}  // namespace

std::string VisibleControls(std::string_view s) {
    return Visible(s, false);
}

std::string TerminalText(std::string_view s) {
    return Visible(s, true);
}

std::string FlattenLine(std::string_view s) {
    std::string out(s);
    std::replace_if(
        out.begin(), out.end(), [](char c) { return c == '\t' || c == '\r' || c == '\n'; }, ' ');
    return out;
}

}  // namespace brimlet
