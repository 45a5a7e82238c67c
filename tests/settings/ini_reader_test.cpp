#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "settings/settings.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

using test::TempDir;
using test::WriteFile;

TEST(IniValueFromText, ReadsKeysOfTheNamedSectionOnly) {
    const std::string text =
        "top=level\n"
        "[Other]\n"
        "purl=other\n"
        "[Brimlet]\n"
        "purl=http://a/\n"
        "surl=http://b/\n";
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "purl"), "http://a/");
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "surl"), "http://b/");
    EXPECT_EQ(IniValueFromText(text, "Other", "purl"), "other");
    EXPECT_EQ(IniValueFromText(text, "Other", "surl"), "");
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "top"), "");
    EXPECT_EQ(IniValueFromText(text, "Missing", "purl"), "");
}

TEST(IniValueFromText, LineEndsBomBlanksAndCase) {
    EXPECT_EQ(IniValueFromText("[Brimlet]\r\nkey=v1\r\nnext=v2\r\n", "Brimlet", "key"), "v1");
    EXPECT_EQ(IniValueFromText("[Brimlet]\r\nkey=v1\r\nnext=v2", "Brimlet", "next"), "v2");
    EXPECT_EQ(IniValueFromText("\xEF\xBB\xBF[Brimlet]\nkey=v\n", "Brimlet", "key"), "v");
    EXPECT_EQ(IniValueFromText("  [  Brimlet \t]  \n\t KEY \t=  a b \t\n", "Brimlet", "key"),
              "a b");
    EXPECT_EQ(IniValueFromText("[BRIMLET]\nKemAddOnDbStr=x\n", "brimlet", "KEMADDONDBstr"), "x");
    // Only ASCII letters fold: a non-ASCII name must match byte for byte.
    EXPECT_EQ(IniValueFromText("[Br\xC3\x89]\nk=v\n", "Br\xC3\xA9", "k"), "");
    // A lone CR is not a line end.
    EXPECT_EQ(IniValueFromText("[Brimlet]\nkey=a\rb\n", "Brimlet", "key"), "a\rb");
}

TEST(IniValueFromText, CommentsLinesWithoutEqualsAndSeparators) {
    const std::string text =
        "[Brimlet]\n"
        "; purl=commented\n"
        "  # purl=commented too\n"
        "just some words\n"
        "purl = http://x/?a=b;c=d ; not a comment\n"
        "KEMADDONDBstr=Driver=X;Server=h;Pwd=p;\n"
        "empty=\n";
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "purl"), "http://x/?a=b;c=d ; not a comment");
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "KEMADDONDBstr"), "Driver=X;Server=h;Pwd=p;");
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "empty"), "");
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "just some words"), "");
    EXPECT_EQ(IniValueFromText("[Brimlet] ; trailing\nk=v\n", "Brimlet", "k"), "v");
}

TEST(IniValueFromText, OnePairOfMatchingQuotesIsRemoved) {
    auto read = [](const std::string& value) {
        return IniValueFromText("[s]\nk=" + value + "\n", "s", "k");
    };
    EXPECT_EQ(read("\"  padded  \""), "  padded  ");
    EXPECT_EQ(read("'single'"), "single");
    EXPECT_EQ(read("\"\"x\"\""), "\"x\"");
    EXPECT_EQ(read("\"\""), "");
    EXPECT_EQ(read("\"mixed'"), "\"mixed'");
    EXPECT_EQ(read("\"open"), "\"open");
    EXPECT_EQ(read("\""), "\"");
    EXPECT_EQ(read("a \"b\""), "a \"b\"");
}

TEST(IniValueFromText, FirstOccurrenceInFirstMatchingSectionWins) {
    const std::string text =
        "[Brimlet]\n"
        "purl=first\n"
        "PURL=second\n"
        "[Other]\n"
        "[brimlet]\n"
        "purl=third\n"
        "surl=later\n";
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "purl"), "first");
    EXPECT_EQ(IniValueFromText(text, "Brimlet", "surl"), "");
}

TEST(IniValueFromText, ValuesEndAtNulAndAreCutTo7999Bytes) {
    EXPECT_EQ(IniValueFromText(std::string("[s]\nk=ab\0cd\n", 12), "s", "k"), "ab");
    const std::string longValue(100000, 'x');
    const std::string value = IniValueFromText("[s]\nk=" + longValue + "\nj=1\n", "s", "k");
    EXPECT_EQ(value.size(), kIniValueMaxBytes);
    EXPECT_EQ(value, longValue.substr(0, kIniValueMaxBytes));
    EXPECT_EQ(IniValueFromText("[s]\nk=" + longValue + "\nj=1\n", "s", "j"), "1");
    const std::string exact(kIniValueMaxBytes, 'y');
    EXPECT_EQ(IniValueFromText("[s]\nk=" + exact + "\n", "s", "k"), exact);
}

TEST(IniValueFromText, DegenerateInputReadsAsEmpty) {
    EXPECT_EQ(IniValueFromText("", "s", "k"), "");
    EXPECT_EQ(IniValueFromText("k=v\n", "s", "k"), "");
    EXPECT_EQ(IniValueFromText("[s\nk=v\n", "s", "k"), "v");  // unclosed bracket: rest is name
    EXPECT_EQ(IniValueFromText("[]\nk=v\n", "s", "k"), "");
    EXPECT_EQ(IniValueFromText("\n\n\r\n[s]", "s", "k"), "");
}

class GetIniValueFile : public ::testing::Test {
  protected:
    TempDir m_dir;
    std::string m_ini = m_dir / "dbstring.Ini";
};

TEST_F(GetIniValueFile, ReadsARealFile) {
    WriteFile(m_ini,
              "\xEF\xBB\xBF; settings\r\n[Brimlet]\r\nKEMADDONDBstr = DSN=x;Uid=u \r\n"
              "srvpath=\"/srv/out/\"\r\n");
    EXPECT_EQ(GetIniValue("Brimlet", "KEMADDONDBstr", m_ini), "DSN=x;Uid=u");
    EXPECT_EQ(GetIniValue("Brimlet", "srvpath", m_ini), "/srv/out/");
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_ini), "");
}

TEST_F(GetIniValueFile, BadFilesReadAsEmpty) {
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_dir / "missing.Ini"), "");
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_dir / "missing/below.Ini"), "");
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_dir.path()), "");  // a directory
    EXPECT_EQ(GetIniValue("Brimlet", "purl", ""), "");

    WriteFile(m_ini, "");
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_ini), "");

    WriteFile(m_ini, "purl=x\nsurl=y\n");  // no section
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_ini), "");

    std::string garbage;
    for (int i = 0; i < 70000; ++i) {
        garbage.push_back(static_cast<char>((i * 7919 + 13) & 0xFF));
    }
    WriteFile(m_ini, garbage);
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_ini), "");
    WriteFile(m_ini, garbage + "\n[Brimlet]\npurl=after garbage\n");
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_ini), "after garbage");
}

TEST_F(GetIniValueFile, LongLinesAndRepeatedKeys) {
    WriteFile(m_ini, "[Brimlet]\npurl=" + std::string(100 * 1024, 'u') +
                         "\nsurl=s1\nsurl=s2\npurl=later\n");
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_ini), std::string(kIniValueMaxBytes, 'u'));
    EXPECT_EQ(GetIniValue("Brimlet", "surl", m_ini), "s1");
}

// The bounds and special files of our own reader; Windows reads with the platform's.
#ifndef _WIN32
TEST_F(GetIniValueFile, AFifoDoesNotBlock) {
    const std::string fifo = m_dir / "fifo.Ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(GetIniValue("Brimlet", "purl", fifo), "");
}

TEST_F(GetIniValueFile, OnlyTheBoundedHeadOfAHugeFileIsRead) {
    const std::string head = "[Brimlet]\npurl=early\n";
    std::string text = head + std::string(kIniFileMaxBytes - head.size() - 10, ';') + "\n";
    // This line straddles the bound: it must not come back truncated.
    text += "surl=" + std::string(100, 's') + "\n";
    text += "cmdtimeoutsec=30\n";
    WriteFile(m_ini, text);
    EXPECT_EQ(GetIniValue("Brimlet", "purl", m_ini), "early");
    EXPECT_EQ(GetIniValue("Brimlet", "surl", m_ini), "");
    EXPECT_EQ(GetIniValue("Brimlet", "cmdtimeoutsec", m_ini), "");
}
#endif

}  // namespace
}  // namespace brimlet
