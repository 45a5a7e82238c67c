#ifdef _WIN32
#include <windows.h>
#endif

#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "common/code_page.h"

namespace brimlet {
namespace {

// The program's text and UTF-8: on POSIX both are the same bytes, whatever they hold; on Windows
// the ANSI code page (1252 under scripts/test-windows; the whole runs try 1251), a character it
// lacks taking its best fit or "?".
TEST(CodePage, ProgramTextToAndFromUtf8) {
#ifdef _WIN32
    if (GetACP() != 1252) {
        GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", these cases are 1252's";
    }
    // {program text, UTF-8}
    const std::pair<std::string, std::string> both[] = {
        {"", ""},
        {"plain ASCII", "plain ASCII"},
        {"caf\xE9", "caf\xC3\xA9"},
        {"\x80 \x9F", "\xE2\x82\xAC \xC5\xB8"},  // the euro sign, Y with diaeresis
    };
    for (const auto& [ansi, utf8] : both) {
        EXPECT_EQ(Utf8FromAnsi(ansi), utf8) << ansi;
        EXPECT_EQ(AnsiFromUtf8(utf8), ansi) << utf8;
    }
    // Towards the code page only: Cyrillic has no place in 1252, "a" with a macron falls back to
    // its base letter, and bytes that are not UTF-8 are no character.
    EXPECT_EQ(AnsiFromUtf8("\xD0\x9A\xD0\x90 \xC4\x81"), "?? a");
    EXPECT_EQ(AnsiFromUtf8("\xE9"), "?");
#else
    for (const std::string text : {"", "caf\xC3\xA9", "\xD0\x9A\xD0\x90", "\xE9 not UTF-8"}) {
        EXPECT_EQ(Utf8FromAnsi(text), text);
        EXPECT_EQ(AnsiFromUtf8(text), text);
    }
#endif
}

}  // namespace
}  // namespace brimlet
