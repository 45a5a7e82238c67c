#include "common/redact.h"

#include <gtest/gtest.h>

#include <random>

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
        {"DSN=x;password = Top9 ;Uid=u", "Password=Top9 ", "Password=***"},
        {"Driver=x;PWD={a;b}}c};Uid=u", "[a;b}c] [{a;b}}c}] [a;b}}c]", "[***] [***] [***]"},
        // Unclosed: the key stands inside the driver's value, and its value runs to the end.
        {"Driver={PostgreSQL Unicode;Server=h;Pwd=SECRET2",
         "Driver={PostgreSQL Unicode;Pwd=SECRET2", "Driver={PostgreSQL Unicode;Pwd=***"},
        {"Driver=x;Pwd={unclosed;Uid=u", "unclosed;Uid=u", "***"},
        {"Driver={x;pWd=closed-late};Uid=u", "closed-late} closed-late", "*** ***"},
        // Not a credential key: nothing is left out.
        {"Driver=x;NoPwd=abc;Uid=Pwd", "abc Pwd NoPwd=abc", "abc Pwd NoPwd=abc"},
        {"Driver=x;Pwd=;Uid=u", "Pwd=;Uid=u", "Pwd=;Uid=u"},
        // By key, whatever the connection string: any case, blanks around "=", braces closed or
        // not, to the ";" or the end.
        {"", "[DM]lib 'x;pAsSwOrD = {a;b}}c};Uid=u' ", "[DM]lib 'x;pAsSwOrD = {***};Uid=u' "},
        {"", "Driver={x;PWD={unclo;sed", "Driver={x;PWD={***"},
        {"", "Driver={x;Uid=u;pwd=cut-off-ech", "Driver={x;Uid=u;pwd=***"},
        {"", "password authentication failed", "password authentication failed"},
        // libpq's options: to a blank, "}" or the closing quote.
        {"Driver=x;pqopt={sslmode=disable password=Pq1x host=h}",
         "pqopt={sslmode=disable password=Pq1x host=h}; Pq1x",
         "pqopt={sslmode=disable password=*** host=h}; ***"},
        {"Driver=x;pqopt={password=Pq2x}", "pqopt={password=Pq2x};Uid=u",
         "pqopt={password=***};Uid=u"},
        {"Driver=x;pqopt={password='Q \\' 3' host=h}",
         "pqopt={password='Q \\' 3' host=h} [Q ' 3] [Q \\' 3]",
         "pqopt={password='***' host=h} [***] [***]"},
        {"", "pqopt={password='cut sh", "pqopt={password='***"},
        // A TAB or a line break inside: seen before anything flattens them.
        {"Driver=x;Pwd={ab\tcd\nef};Uid=u", "Pwd={ab\tcd\nef} [ab\tcd\nef]", "Pwd={***} [***]"},
        // Shorter than 4: only as a word of its own; longer: anywhere.
        {"Driver=d;Pwd=x", "x: user x, 'x' exists", "***: user ***, '***' exists"},
        {"Driver=d;Pwd=abc", "abc xabc abc. abcd", "*** xabc ***. abcd"},
        {"Driver=d;Pwd=SECRET1", "xSECRET1y", "x***y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.connectionString);
        Redactor r;
        r.AddConnectionString(c.connectionString);
        EXPECT_EQ(r.Apply(c.echo), c.expected);
    }
}

// For every cut of a driver manager's echo, no 4 characters of the password are left: the echo
// of a closed and of an unclosed brace, with the key in any case and the value braced or not.
TEST(Redactor, NoPieceOfAPasswordSurvivesAnEchoCutAnywhere) {
    std::mt19937 random(20261210);
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789!#%*+-./:?@^_~ ";
    std::size_t echoes = 0;
    for (int round = 0; round < 12; ++round) {
        std::string password;
        const std::size_t length = 16 + random() % 17;
        while (password.size() < length) {
            password += alphabet[random() % alphabet.size()];
        }
        password.front() = 'Z';  // a leading blank would be trimmed off the value
        const char* key = round % 3 == 0 ? "Pwd" : round % 3 == 1 ? "PASSWORD" : "pwd";
        const bool braced = round % 2 == 1;
        const std::string value = braced ? "{" + password + "}" : password;
        for (const char* driver : {"Driver=PostgreSQL Unicode", "Driver={PostgreSQL Unicode"}) {
            const std::string conn = std::string(driver) + ";Server=127.0.0.1;Port=5432;Uid=u;" +
                                     key + "=" + value + ";Database=KEMADDONDB";
            const std::string echo = "01000: [unixODBC][Driver Manager]Can't open lib '" +
                                     conn.substr(conn.find('=') + 1) + "' : file not found";
            Redactor r;
            r.AddConnectionString(conn);
            for (std::size_t cut = 0; cut <= echo.size(); ++cut) {
                const std::string out = r.Apply(echo.substr(0, cut));
                ++echoes;
                for (std::size_t i = 0; i + 4 <= password.size(); ++i) {
                    ASSERT_EQ(out.find(password.substr(i, 4)), std::string::npos)
                        << "password " << password << "\ncut " << cut << ": " << out;
                }
            }
        }
    }
    EXPECT_GT(echoes, 2000u);
}

// The program's words stay as they are; only the driver's are redacted, then flattened.
TEST(Redactor, DescribeRedactsOnlyTheDriversText) {
    Redactor r;
    r.AddConnectionString("Driver=d;Pwd=x");
    const Failure driver(-1, "08001", "/srv/x/pub_x_LINUX: ", "user x\trefused\nPwd=x;");
    EXPECT_EQ(r.Describe(driver), "/srv/x/pub_x_LINUX: user *** refused Pwd=***;");
    EXPECT_EQ(driver.description(), "/srv/x/pub_x_LINUX: user x refused Pwd=x;");
    const Failure own(53, "/srv/x/Pwd=x missing");
    EXPECT_EQ(r.Describe(own), own.description());
    EXPECT_EQ(Redactor().Describe(Failure(-1, "HY000", "", "a\tb\r\nc")), "a b  c");
}

TEST(Text, ControlCharactersShownForALogAndForATerminal) {
    const std::string hostile = std::string("dll\t\r\n") + '\0' + "\x01\x7f\x1b]0;t\x07\\x" + "é";
    EXPECT_EQ(VisibleControls(hostile),
              "dll\\t\\r\\n\\0\\x01\\x7f\\x1b]0;t\\x07\\x"
              "é");
    // A backslash doubled: the "\\x" of the text is not read as an escape.
    EXPECT_EQ(TerminalText(hostile),
              "dll\\t\\r\\n\\0\\x01\\x7f\\x1b]0;t\\x07\\\\x"
              "é");
    EXPECT_EQ(FlattenLine("a\r\n\tb\x1b"), "a   b\x1b");
}

}  // namespace
}  // namespace brimlet
