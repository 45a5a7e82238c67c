#include <gtest/gtest.h>
#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "cipher/cipher.h"
#include "common/failure.h"
#include "decrypt/decrypt_tool.h"
#include "support/temp_dir.h"
#ifdef _WIN32
#include "common/handle_win32.h"
#else
#include "common/fd_io.h"
#include "common/unique_fd.h"
#endif

namespace brimlet::test {
namespace {

const std::string kZeroIv(32, '0');

struct ToolResult {
    int status = -1;
    std::string out;
    std::string err;
};

#ifdef _WIN32
// One argument of a command line, as the C runtime splits it (no path here ends in "\\").
std::string Quoted(const std::string& arg) {
    return "\"" + arg + "\"";
}

// The system's texts for the files that cannot be read or written.
const std::string kNoSuchFile = SystemErrorText(ERROR_FILE_NOT_FOUND);
const std::string kNoSuchFolder = SystemErrorText(ERROR_PATH_NOT_FOUND);
const std::string kFolderNotFile = SystemErrorText(ERROR_ACCESS_DENIED);
// Standard error stays in text mode, standard output takes the document's bytes unchanged.
const std::string kErrLineEnd = "\r\n";

// A new file that a child process may inherit as its standard output or error.
UniqueHandle InheritableFile(const std::string& path) {
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    return UniqueHandle(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Runs the built brimlet-decrypt in `dir` with `args` (already quoted), capturing both streams.
// Started directly: Wine's cmd.exe does not run a quoted program with arguments after "&&".
ToolResult RunTool(const TempDir& dir, const std::string& args) {
    ToolResult result;
    {
        const UniqueHandle out = InheritableFile(dir / "out");
        const UniqueHandle err = InheritableFile(dir / "err");
        EXPECT_TRUE(out && err) << SystemErrorText(GetLastError());
        STARTUPINFOA start{};
        start.cb = sizeof start;
        start.dwFlags = STARTF_USESTDHANDLES;
        start.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        start.hStdOutput = out.get();
        start.hStdError = err.get();
        std::string command = Quoted("brimlet-decrypt") + " " + args;
        PROCESS_INFORMATION process{};
        if (!CreateProcessA(DECRYPT_TOOL, command.data(), nullptr, nullptr, TRUE, 0, nullptr,
                            dir.path().c_str(), &start, &process)) {
            ADD_FAILURE() << "CreateProcess: " << SystemErrorText(GetLastError());
            return result;
        }
        const UniqueHandle child(process.hProcess);
        const UniqueHandle thread(process.hThread);
        DWORD code = 0;
        WaitForSingleObject(child.get(), INFINITE);
        GetExitCodeProcess(child.get(), &code);
        result.status = static_cast<int>(code);
    }
    result.out = ReadFile(dir / "out");
    result.err = ReadFile(dir / "err");
    return result;
}
#else
std::string Quoted(const std::string& arg) {
    return "'" + arg + "'";
}

const std::string kNoSuchFile = "No such file or directory";
const std::string kNoSuchFolder = kNoSuchFile;
const std::string kFolderNotFile = "Is a directory";
const std::string kErrLineEnd = "\n";

// Runs the built brimlet-decrypt in `dir` with `args` (already shell-quoted), capturing both
// streams.
ToolResult RunTool(const TempDir& dir, const std::string& args) {
    const std::string command = "cd '" + dir.path() + "' && '" DECRYPT_TOOL "' " + args + " >'" +
                                (dir / "out") + "' 2>'" + (dir / "err") + "'";
    const int raw = std::system(command.c_str());
    ToolResult result;
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    result.out = ReadFile(dir / "out");
    result.err = ReadFile(dir / "err");
    return result;
}

int Shell(const std::string& command) {
    const int raw = std::system(command.c_str());
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}
#endif

// SHA-256 of kDocumentPassPhrase: printf '%s' PASS | openssl dgst -sha256.
const std::string kKeyHex = "3f0b06648622068f9cf8021892ad6b79b7e489123dd2cce9a82bacd6317779e4";

Cipher CipherFor(std::string_view passPhrase) {
    return Cipher(passPhrase);
}

// A document as the program publishes it: non-ASCII text, CDATA, several lines.
const std::string kPlain =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BrimletXML Date=\"12/08.2026 10:00:00\">"
    "<dll><File Name=\"core.dll\" State=\"A\"><Description><![CDATA[Kern-Bibliothek "
    "\xc3\xa4\xc3\xb6"
    " \xe2\x82\xac]]></Description></File></dll></BrimletXML>";

TEST(DecryptTool, PrintsThePlainDocumentOfTheProjectsCipher) {
    TempDir dir;
    WriteFile(dir / "Brimlet_KA_WIN64.xml", DocumentCipher().Encrypt(kPlain) + "\r\n");
    const ToolResult r = RunTool(dir, Quoted(dir / "Brimlet_KA_WIN64.xml"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kPlain);
    EXPECT_EQ(r.err, "");
}

#ifndef _WIN32
// Under Wine the host's openssl checks the Windows build (Cipher.StockToolOnTheHost...).
TEST(DecryptTool, InteroperatesWithTheOpensslCommand) {
    TempDir dir;
    ASSERT_EQ(Shell("command -v openssl >/dev/null"), 0) << "openssl is not installed";
    const std::string& key = kKeyHex;
    WriteFile(dir / "plain", kPlain);
    // A reader's own encryption with the stock tool, as docs/running.md describes it.
    ASSERT_EQ(Shell("openssl enc -aes-256-cbc -a -A -K " + key + " -iv " + kZeroIv + " -in '" +
                    (dir / "plain") + "' -out '" + (dir / "doc") + "' && printf '\\r\\n' >>'" +
                    (dir / "doc") + "'"),
              0);
    const ToolResult r = RunTool(dir, "'" + (dir / "doc") + "'");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, kPlain);

    // And the other way: the project's document decrypts with openssl alone.
    WriteFile(dir / "ours", DocumentCipher().Encrypt(kPlain) + "\r\n");
    ASSERT_EQ(
        Shell("tr -d '\\r\\n' <'" + (dir / "ours") + "' | openssl enc -d -aes-256-cbc -a -A -K " +
              key + " -iv " + kZeroIv + " >'" + (dir / "back") + "'"),
        0);
    EXPECT_EQ(ReadFile(dir / "back"), kPlain);
}
#endif

TEST(DecryptTool, EachBadDocumentGivesStatusOneAndOneLine) {
    TempDir dir;
    const std::string good = DocumentCipher().Encrypt(kPlain);
    std::string damagedBlock = good;
    // The last full quad before the padding carries the final block's padding bytes.
    damagedBlock[damagedBlock.size() - 4] =
        damagedBlock[damagedBlock.size() - 4] == 'A' ? 'B' : 'A';
    const std::string wrapped = [&] {
        std::string s;
        for (std::size_t i = 0; i < good.size(); i += 64) {
            s += good.substr(i, 64) + "\n";
        }
        return s;
    }();

    struct Case {
        std::string name;
        std::string content;  // written to the file unless it is a special case below
        std::string expectedText;
    };
    const std::vector<Case> cases = {
        {"empty", "", "Not base64 text"},
        {"not_base64", "this is <xml> not base64\r\n", "Not base64 text"},
        {"plain_xml", kPlain + "\r\n", "Not base64 text"},
        {"line_breaks_inside", wrapped, "Not base64 text"},
        {"padding_missing", good.substr(0, good.size() - 1) + "\r\n", "Not base64 text"},
        {"padding_inside", good.substr(0, 8) + "=" + good.substr(9) + "\r\n", "Not base64 text"},
        {"padding_of_the_block", damagedBlock + "\r\n", "Decryption failed"},
        {"truncated_block", good.substr(0, good.size() - 24 - (good.size() - 24) % 4) + "\r\n",
         "Decryption failed"},
        {"wrong_key", CipherFor("not the pass phrase").Encrypt(kPlain) + "\r\n",
         "Decryption failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteFile(dir / c.name, c.content);
        const ToolResult r = RunTool(dir, Quoted(dir / c.name));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err.rfind("brimlet-decrypt: " + (dir / c.name) + ": " + c.expectedText, 0), 0u)
            << r.err;
        ASSERT_FALSE(r.err.empty());
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
    }

    const std::vector<std::pair<std::string, std::string>> unreadable = {
        {dir / "missing.xml", kNoSuchFile},
        {dir.path(), kFolderNotFile},
    };
    for (const auto& [path, reason] : unreadable) {
        SCOPED_TRACE(path);
        const ToolResult r = RunTool(dir, Quoted(path));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.out, "");
        EXPECT_EQ(r.err, "brimlet-decrypt: " + path + ": " + reason + kErrLineEnd);
    }
#ifndef _WIN32
    if (::geteuid() != 0) {
        WriteFile(dir / "locked", good + "\r\n");
        ::chmod((dir / "locked").c_str(), 0);
        const ToolResult r = RunTool(dir, Quoted(dir / "locked"));
        EXPECT_EQ(r.status, 1);
        EXPECT_EQ(r.err, "brimlet-decrypt: " + (dir / "locked") + ": Permission denied\n");
    }
#endif
}

TEST(DecryptTool, UsageErrorsAreStatusTwo) {
    TempDir dir;
    EXPECT_EQ(RunTool(dir, "").status, 2);
    EXPECT_EQ(RunTool(dir, "a b").status, 2);
    const ToolResult unknown = RunTool(dir, "--pretty x");
    EXPECT_EQ(unknown.status, 2);
    EXPECT_EQ(unknown.err, "brimlet-decrypt: unknown option --pretty (try --help)" + kErrLineEnd);
    // A file whose name starts with "-" is reachable after "--".
    WriteFile(dir / "-doc", DocumentCipher().Encrypt("<a/>") + "\r\n");
    EXPECT_EQ(RunTool(dir, "-doc").status, 2);
    const ToolResult dashed = RunTool(dir, "-- -doc");
    EXPECT_EQ(dashed.status, 0) << dashed.err;
    EXPECT_EQ(dashed.out, "<a/>");
}

// About one wrong key in 256 leaves a final block whose padding looks valid; the result is
// byte noise and must still be refused.
TEST(DecryptDocumentText, RefusesWrongKeyOutputThatPassesThePaddingCheck) {
    const std::string plain = "<BrimletXML/>";
    int passedPadding = 0;
    for (int i = 0; i < 4000 && passedPadding < 3; ++i) {
        const std::string doc = CipherFor("wrong " + std::to_string(i)).Encrypt(plain);
        try {
            DocumentCipher().Decrypt(doc);
        } catch (const Failure&) {
            continue;  // the common case: bad padding
        }
        ++passedPadding;
        EXPECT_THROW(tools::DecryptDocumentText(doc), Failure) << "pass phrase index " << i;
    }
    EXPECT_GT(passedPadding, 0) << "no wrong key passed the padding check; widen the search";
    EXPECT_EQ(tools::DecryptDocumentText(DocumentCipher().Encrypt(plain)), plain);
}

// Plain document text of about `bytes` bytes, with multi-byte characters throughout.
std::string LargePlain(std::size_t bytes) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<BrimletXML>";
    for (int i = 0; s.size() < bytes; ++i) {
        s += "<File Name=\"c" + std::to_string(i) +
             ".dll\"><![CDATA[\xc3\xa4 \xe2\x82\xac "
             "\xf0\x9f\x98\x80]]></File>\r\n";
    }
    return s + "</BrimletXML>";
}

std::set<std::string> Names(const std::string& dir) {
    std::set<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// Faults found after output has begun: standard output gets a part of the text that never
// reaches its end, and a file of -o is left as it was.
TEST(DecryptTool, LateFaultsLeaveNoWholeLookingOutput) {
    TempDir dir;
    const std::string plain = LargePlain(1000000);
    const std::string good = DocumentCipher().Encrypt(plain);
    std::string damagedBlock = good;
    damagedBlock[good.size() - 4] = damagedBlock[good.size() - 4] == 'A' ? 'B' : 'A';
    std::string badChar = good;
    badChar[good.size() - 100] = '!';
    std::string controlChar = plain;
    controlChar[plain.size() - 5] = '\x01';
    std::string cutSequence = plain;
    cutSequence.resize(plain.size() - 13);
    cutSequence += "\xf0\x9f";
    const std::vector<std::pair<std::string, std::string>> cases = {
        {damagedBlock, "Decryption failed: wrong key or damaged data (bad padding)"},
        {good.substr(0, good.size() - 8), "Decryption failed: data is not a whole number"},
        {badChar, "Not base64 text: unexpected character at offset"},
        {DocumentCipher().Encrypt(controlChar), "Decryption failed: wrong key (the result is not"},
        {DocumentCipher().Encrypt(cutSequence), "Decryption failed: wrong key (the result is not"},
    };
    WriteFile(dir / "kept.xml", "previous\n");
    for (std::size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(i);
        const std::string doc = dir / ("doc" + std::to_string(i));
        WriteFile(doc, cases[i].first + "\r\n");
        const std::string expected = "brimlet-decrypt: " + doc + ": " + cases[i].second;
        const ToolResult toStdout = RunTool(dir, Quoted(doc));
        EXPECT_EQ(toStdout.status, 1);
        EXPECT_EQ(toStdout.err.rfind(expected, 0), 0u) << toStdout.err;
        EXPECT_EQ(toStdout.err.find('\n'), toStdout.err.size() - 1) << toStdout.err;
        EXPECT_LE(toStdout.out.size() + 65536, plain.size());
        EXPECT_EQ(plain.compare(0, toStdout.out.size(), toStdout.out), 0);

        const std::set<std::string> before = Names(dir.path());
        const ToolResult toFile = RunTool(dir, "-o kept.xml " + Quoted(doc));
        EXPECT_EQ(toFile.status, 1);
        EXPECT_EQ(toFile.err.rfind(expected, 0), 0u) << toFile.err;
        EXPECT_EQ(toFile.out, "");
        EXPECT_EQ(ReadFile(dir / "kept.xml"), "previous\n");
        EXPECT_EQ(Names(dir.path()), before) << "a temporary file was left behind";
    }

    WriteFile(dir / "good", good + "\r\n");
    const ToolResult ok = RunTool(dir, "-o kept.xml good");
    EXPECT_EQ(ok.status, 0) << ok.err;
    EXPECT_EQ(ok.out, "");
    EXPECT_TRUE(ReadFile(dir / "kept.xml") == plain);
#ifndef _WIN32
    const mode_t mask = ::umask(0);
    ::umask(mask);
    struct stat st {};
    ASSERT_EQ(::stat((dir / "kept.xml").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
#endif
    EXPECT_EQ(RunTool(dir, "-o").status, 2);
    EXPECT_EQ(RunTool(dir, "-o a -o b good").status, 2);
    const ToolResult noDir = RunTool(dir, "-o missing/x.xml good");
    EXPECT_EQ(noDir.status, 1);
    EXPECT_EQ(noDir.err, "brimlet-decrypt: missing/x.xml: " + kNoSuchFolder + kErrLineEnd);
}

// Pieces of the plain text end inside multi-byte sequences; the text check joins them.
TEST(DecryptDocumentText, ChecksSequencesSplitBetweenPieces) {
    std::string text;
    while (text.size() < 600000) {
        text += "\xc3\xa4\xe2\x82\xac\xf0\x9f\x98\x80<x/>";
    }
    const std::vector<std::pair<std::string, bool>> cases = {
        {text, true},           {text + "\xe2\x82", false},
        {text + "\x7f", true},  {text.substr(0, 196600) + "\x80" + text.substr(196600), false},
        {text + "\x0b", false},
    };
    for (std::size_t i = 0; i < cases.size(); ++i) {
        const std::string doc = DocumentCipher().Encrypt(cases[i].first);
        if (cases[i].second) {
            EXPECT_TRUE(tools::DecryptDocumentText(doc) == cases[i].first) << i;
        } else {
            EXPECT_THROW(tools::DecryptDocumentText(doc), Failure) << i;
        }
    }
}

#ifndef _WIN32
// The tool streams: its peak memory does not grow with the document.
TEST(DecryptTool, PeakMemoryStaysSmallOnALargeDocument) {
#if defined(__SANITIZE_ADDRESS__)
    constexpr long kLimitKib = 48L * 1024;  // room for the sanitizer's shadow memory
#else
    constexpr long kLimitKib = 32L * 1024;
#endif
    TempDir dir;
    const std::string doc = dir / "large.xml";
    {
        const UniqueFd fd(::open(doc.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        ASSERT_TRUE(fd);
        const auto write = [&](std::string_view data) { ASSERT_TRUE(WriteAll(fd.get(), data)); };
        EncryptStream stream(DocumentCipher(), write);
        const std::string piece = LargePlain(1 << 20);
        for (int i = 0; i < 100; ++i) {
            stream.Update(piece);
        }
        stream.Finish();
        write("\r\n");
    }
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, 1);
        ::execl(DECRYPT_TOOL, "brimlet-decrypt", doc.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ASSERT_EQ(::wait4(pid, &status, 0, &usage), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_LT(usage.ru_maxrss, kLimitKib) << "peak RSS KiB on a 140 MB document";
}
#endif

}  // namespace
}  // namespace brimlet::test
