#include <string>
#include <string_view>

#include "fuzz_input.h"
#include "settings/settings.h"
#include "targets.h"

namespace brimlet::fuzz::settings_reader {

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

std::string UpperAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool Trimmed(std::string_view s) {
    return s.empty() || (!IsBlank(s.front()) && !IsBlank(s.back()));
}

bool HasAnyOf(std::string_view s, std::string_view chars) {
    return s.find_first_of(chars) != std::string_view::npos;
}

std::string Lookup(std::string_view text, std::string_view section, std::string_view key) {
    std::string value = IniValueFromText(text, section, key);
    Check(value.size() <= kIniValueMaxBytes, "value longer than the bound");
    Check(value.find('\n') == std::string::npos, "value holds a line feed");
    Check(value.find('\0') == std::string::npos, "value holds a NUL");
    return value;
}

// The first line of `text` without CR, LF and NUL, repeated `times` times: a value that must
// come back unchanged (up to the bound) from a line written for it.
std::string PlainValue(std::string_view text, unsigned times) {
    std::string line;
    for (const char c : text.substr(0, text.find('\n'))) {
        if (c != '\r' && c != '\0') {
            line.push_back(c);
        }
    }
    std::string value;
    for (unsigned i = 0; i < times; ++i) {
        value += line;
    }
    return value;
}

}  // namespace

int FuzzOne(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const std::uint8_t flags = in.Byte();
    const std::string_view section = in.ShortText();
    const std::string_view key = in.ShortText();
    const std::string_view text = in.Rest();

    const std::string value = Lookup(text, section, key);

    Check(Lookup(text, UpperAscii(section), UpperAscii(key)) == value,
          "names matched with regard to case");

    if (text.find('\r') == std::string_view::npos) {
        std::string crlf;
        for (const char c : text) {
            if (c == '\n') {
                crlf.push_back('\r');
            }
            crlf.push_back(c);
        }
        Check(Lookup(crlf, section, key) == value, "CR LF line ends read unlike LF");
    }

    if (text.substr(0, kBom.size()) != kBom) {
        Check(Lookup(std::string(kBom) + std::string(text), section, key) == value,
              "a byte order mark changed the result");
    }

    if (!value.empty()) {
        // The first occurrence wins: nothing after its line matters.
        const std::string longer = std::string(text) + "\n[" + std::string(section) + "]\n" +
                                   std::string(key) + "=other\n" + std::string(text);
        Check(Lookup(longer, section, key) == value, "a later line changed the result");
    }

    // A section and key that a line can name: the quoted value written first must come back.
    const bool sectionUsable = Trimmed(section) && !HasAnyOf(section, std::string_view("]\r\n", 3));
    const bool keyUsable = !key.empty() && Trimmed(key) &&
                           !HasAnyOf(key, std::string_view("=\r\n", 3)) && key.front() != ';' &&
                           key.front() != '#' && key.front() != '[';
    if (sectionUsable && keyUsable) {
        const std::string expected = PlainValue(text, 1 + (flags & 7U));
        std::string written = "[";
        written.append(section).append("]\n").append(key).append(" = \"").append(expected);
        written.append("\"").append((flags & 8U) != 0 ? "\r\n" : "\n").append(text);
        const std::string got = Lookup(written, section, key);
        Check(got == expected.substr(0, kIniValueMaxBytes), "a written value did not come back");
    }
    return 0;
}

}  // namespace brimlet::fuzz::settings_reader
