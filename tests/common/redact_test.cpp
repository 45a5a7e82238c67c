#include "common/redact.h"

#include <gtest/gtest.h>

#include "common/text.h"

namespace brimlet {
namespace {

// What the driver manager or a driver may echo, and what must be left of it.
TEST(Redactor, CredentialValuesAreLeftOutWhereverTheyAreEchoed) {
    struct Case {
        const char* connectionString;
        std::string echo, expected;
    };
    const std::vector<Case> cases = {
        {"Driver=PostgreSQL Unicode;Server=h;Uid=u;Pwd=SECRET1", "password SECRET1 refused",
         "password *** refused"},
        {"DSN=x;password = Top9 ;Uid=u", "Password=Top9 ", "Password=*** "},
        {"Driver=x;PWD={a;b}}c};Uid=u", "[a;b}c] [{a;b}}c}] [a;b}}c]", "[***] [***] [***]"},
        // Unclosed: the key stands inside the driver's value, and its value runs to the end.
        {"Driver={PostgreSQL Unicode;Server=h;Pwd=SECRET2",
         "Driver={PostgreSQL Unicode;Pwd=SECRET2", "Driver={PostgreSQL Unicode;Pwd=***"},
        {"Driver=x;Pwd={unclosed;Uid=u", "unclosed;Uid=u", "***"},
        {"Driver={x;pWd=closed-late};Uid=u", "closed-late} closed-late", "*** ***"},
        // Not a credential key: nothing is left out.
        {"Driver=x;NoPwd=abc;Uid=Pwd", "abc Pwd", "abc Pwd"},
        {"Driver=x;Pwd=;Uid=u", "Pwd=;Uid=u", "Pwd=;Uid=u"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connectionString);
        Redactor r;
        r.AddConnectionString(c.connectionString);
        EXPECT_EQ(r.Apply(c.echo), c.expected);
    }
}

TEST(Text, VisibleControlsShowsEveryControlCharacter) {
    EXPECT_EQ(VisibleControls(std::string("dll\t\r\n\0\x01\x7f"
                                          "é",
                                          11)),
              "dll\\t\\r\\n\\0\\x01\\x7f"
              "é");
}

}  // namespace
}  // namespace brimlet
