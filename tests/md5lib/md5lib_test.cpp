// libVelGnMD5.so (VelGnMD5.dll) called directly through its C API: tagged values on Linux,
// Automation VARIANTs on Windows.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "support/temp_dir.h"

#ifdef _WIN32
#include "common/cng_win32.h"
#include "common/code_page_win32.h"
#include "md5lib/velgnmd5_win32.h"
#else
#include <unistd.h>

#include "md5lib/velgnmd5.h"
#include "support/md5.h"
#endif

namespace {

#ifdef _WIN32
// One digest over the whole buffer: the library's pieces and reads must add up to it.
std::string Md5Hex(const std::string& data) {
    brimlet::cng::Digest md5(BCRYPT_MD5_ALGORITHM);
    md5.Add(data.data(), data.size());
    static constexpr char kHex[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char b : md5.Finish()) {
        hex += kHex[b >> 4];
        hex += kHex[b & 0x0f];
    }
    return hex;
}
#else
using brimlet::test::Md5Hex;
using brimlet::test::Md5sumOf;
#endif
using brimlet::test::TempDir;
using brimlet::test::WriteFile;

#ifdef _WIN32
using brimlet::AnsiFromWide;
using brimlet::WideFromAnsi;

// Owns a VARIANT the way a caller must: initialised, released with VariantClear.
struct Var {
    VARIANT v;
    Var() { VariantInit(&v); }
    explicit Var(const std::wstring& text) : Var() {
        v.vt = VT_BSTR;
        v.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }
    explicit Var(const std::string& text) : Var(WideFromAnsi(text)) {}
    ~Var() { VariantClear(&v); }
    // Text only: any other type reads as a marker the expectations never hold.
    std::string Text() const {
        if (v.vt == VT_EMPTY) {
            return "";
        }
        if (v.vt != VT_BSTR) {
            return "<type " + std::to_string(v.vt) + ">";
        }
        return AnsiFromWide(std::wstring_view(v.bstrVal, SysStringLen(v.bstrVal)));
    }
};

struct Result {
    SHORT rc;
    std::string checksum, spare, error;
};

Result Whole(const std::string& path) {
    Var p(path), sum, spare, err;
    const SHORT rc = VelGetMD5(p.v, &sum.v, &spare.v, &err.v);
    return {rc, sum.Text(), spare.Text(), err.Text()};
}

Result Block(const std::string& path, const std::string& kb) {
    Var p(path), size(kb), sum, spare, err;
    const SHORT rc = VelGetMD5WBlock(p.v, size.v, &sum.v, &spare.v, &err.v);
    return {rc, sum.Text(), spare.Text(), err.Text()};
}
#else
// Owns a variant the way a caller must: released through the library.
struct Var {
    VelVariant v = VEL_VARIANT_INIT;
    Var() = default;
    explicit Var(std::string& text) : v{VEL_VARIANT_TEXT, text.data(), text.size()} {}
    ~Var() {
        if (owned) {
            VelVariantClear(&v);
        }
    }
    std::string Text() const { return v.text ? std::string(v.text, v.length) : std::string(); }
    bool owned = true;
};

struct In : Var {
    explicit In(std::string t) : text(std::move(t)) {
        v = VelVariant{VEL_VARIANT_TEXT, text.data(), text.size()};
        owned = false;
    }
    std::string text;
};

struct Result {
    int16_t rc;
    std::string checksum, spare, error;
};

Result Whole(const std::string& path) {
    In p(path);
    Var sum, spare, err;
    const int16_t rc = VelGetMD5(&p.v, &sum.v, &spare.v, &err.v);
    return {rc, sum.Text(), spare.Text(), err.Text()};
}

Result Block(const std::string& path, const std::string& kb) {
    In p(path), size(kb);
    Var sum, spare, err;
    const int16_t rc = VelGetMD5WBlock(&p.v, &size.v, &sum.v, &spare.v, &err.v);
    return {rc, sum.Text(), spare.Text(), err.Text()};
}
#endif

// Bytes that do not repeat with any power-of-two period, so misplaced blocks change the digest.
std::string Pattern(std::size_t n) {
    std::string s(n, '\0');
    std::uint32_t x = 2463534242u;
    for (auto& c : s) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return s;
}

TEST(VelGnMD5, MatchesLibcryptoAndMd5sumForEveryShapeOfFile) {
    TempDir dir;
    const std::size_t sizes[] = {0,
                                 1,
                                 32 * 1024 - 1,
                                 32 * 1024,
                                 32 * 1024 + 1,
                                 96 * 1024,
                                 1 << 20,
                                 (1 << 20) + 7,
                                 3 * (1 << 20) + 12345};
    for (const std::size_t n : sizes) {
        SCOPED_TRACE("size " + std::to_string(n));
        const std::string path = dir / std::string("f").append(std::to_string(n));
        const std::string data = Pattern(n);
        WriteFile(path, data);
        const std::string expected = Md5Hex(data);
#ifndef _WIN32
        ASSERT_EQ(expected, Md5sumOf(path));
#endif

        const Result whole = Whole(path);
        EXPECT_NE(whole.rc, 0) << whole.error;
        EXPECT_EQ(whole.checksum, expected);
        EXPECT_EQ(whole.spare, std::to_string(n));
        EXPECT_EQ(whole.error, "");
        for (const char* kb : {"1", "32", "7", "65536"}) {
            const Result block = Block(path, kb);
            EXPECT_NE(block.rc, 0) << kb << ": " << block.error;
            EXPECT_EQ(block.checksum, expected) << kb;
        }
    }
    EXPECT_EQ(Whole(dir / "f0").checksum, "d41d8cd98f00b204e9800998ecf8427e");
}

TEST(VelGnMD5, ReportsFailuresInErrorOutAndLeavesChecksumAlone) {
    TempDir dir;
    WriteFile(dir / "file", "abc");
#ifdef _WIN32
    // The system's own texts; a device stands for the special files.
    const std::string missingReason = "Cannot open " + (dir / "missing") + ": ";
    const std::string special = "NUL";
#else
    const std::string missingReason =
        "Cannot open " + (dir / "missing") + ": No such file or directory";
    const std::string special = dir / "fifo";
    ASSERT_EQ(::mkfifo(special.c_str(), 0600), 0);
#endif

    struct Case {
        std::string path, expectedPart;
    } cases[] = {
        {dir / "missing", missingReason},   {dir.path(), dir.path() + " is a directory"},
        {special, "is not a regular file"}, {"", "File path is empty"},
        {std::string("a\0b", 3), "NUL"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        for (const Result& r : {Whole(c.path), Block(c.path, "32")}) {
            EXPECT_EQ(r.rc, 0);
            EXPECT_EQ(r.checksum, "");
            EXPECT_NE(r.error.find(c.expectedPart), std::string::npos) << r.error;
        }
    }

#ifndef _WIN32
    if (::geteuid() != 0) {  // root reads anything
        WriteFile(dir / "locked", "x");
        ASSERT_EQ(::chmod((dir / "locked").c_str(), 0), 0);
        const Result r = Whole(dir / "locked");
        EXPECT_EQ(r.rc, 0);
        EXPECT_NE(r.error.find("Permission denied"), std::string::npos) << r.error;
    }
#endif

    for (const char* bad :
         {"", "0", "-1", "abc", "+32", " 32", "32 ", "1.5", "65537", "99999999999999999999"}) {
        const Result r = Block(dir / "file", bad);
        EXPECT_EQ(r.rc, 0) << '"' << bad << '"';
        EXPECT_EQ(r.checksum, "");
        EXPECT_EQ(r.error, std::string("Invalid block size \"") + bad +
                               "\": expected whole kilobytes from 1 to 65536");
    }
}

#ifndef _WIN32
TEST(VelGnMD5, RejectsArgumentsThatAreNotText) {
    Var empty, sum, spare, err;
    EXPECT_EQ(VelGetMD5(&empty.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(err.Text(), "File path is not text");
    EXPECT_EQ(VelGetMD5(nullptr, &sum.v, &spare.v, &err.v), 0);
    TempDir dir;
    WriteFile(dir / "file", "abc");
    In p(dir / "file");
    EXPECT_EQ(VelGetMD5WBlock(&p.v, nullptr, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(err.Text(), "Block size is not text");
    EXPECT_EQ(VelGetMD5(&p.v, nullptr, &spare.v, &err.v), 0);
    EXPECT_EQ(err.Text(), "An output argument is missing");
    EXPECT_EQ(VelGetMD5(&p.v, &sum.v, &spare.v, nullptr), 0);
    EXPECT_EQ(sum.Text(), "");
}

// Outputs reused across calls, as the checksum step does: each write releases the old text.
// LeakSanitizer fails the run if any text is lost.
TEST(VelGnMD5, ReusedOutputsAreReplacedWithoutLeaks) {
    TempDir dir;
    WriteFile(dir / "a", "abc");
    In a(dir / "a"), missing(dir / "missing"), kb("32");
    Var sum, spare, err;
    ASSERT_EQ(VelGetMD5(&missing.v, &sum.v, &spare.v, &err.v), 0);
    ASSERT_NE(err.Text(), "");
    ASSERT_NE(VelGetMD5WBlock(&a.v, &kb.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(sum.Text(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(err.v.type, VEL_VARIANT_EMPTY);
    EXPECT_EQ(err.v.text, nullptr);
    ASSERT_NE(VelGetMD5(&a.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(sum.Text(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(sum.v.text[sum.v.length], '\0');
    ASSERT_EQ(VelGetMD5(&missing.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(sum.Text(), "900150983cd24fb0d6963f7d28e17f72");  // untouched on failure

    VelVariantClear(&sum.v);
    EXPECT_EQ(sum.v.type, VEL_VARIANT_EMPTY);
    VelVariantClear(&sum.v);  // twice is harmless
    VelVariantClear(nullptr);
}
#else
// Arguments by value: text is a BSTR or a reference to one; anything else is refused, as is a
// path that the ANSI code page cannot spell (a best fit could name another file).
TEST(VelGnMD5, RejectsArgumentsThatAreNotText) {
    TempDir dir;
    WriteFile(dir / "file", "abc");
    Var path(dir / "file"), kb("32"), sum, spare, err;
    Var number;
    number.v.vt = VT_I4;
    number.v.lVal = 32;
    EXPECT_EQ(VelGetMD5(number.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(err.Text(), "File path is not text");
    Var empty;
    EXPECT_EQ(VelGetMD5WBlock(empty.v, kb.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(err.Text(), "File path is not text");
    EXPECT_EQ(VelGetMD5WBlock(path.v, number.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(err.Text(), "Block size is not text");
    Var outside(WideFromAnsi(dir / "") + L"\x4e00");
    EXPECT_EQ(VelGetMD5(outside.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(err.Text(), "File path has a character outside the ANSI code page");
    EXPECT_EQ(VelGetMD5(path.v, nullptr, &spare.v, &err.v), 0);
    EXPECT_EQ(err.Text(), "An output argument is missing");
    EXPECT_EQ(sum.Text(), "");

    VARIANT byRef;
    VariantInit(&byRef);
    byRef.vt = VT_BSTR | VT_BYREF;
    byRef.pbstrVal = &path.v.bstrVal;
    ASSERT_NE(VelGetMD5(byRef, &sum.v, &spare.v, &err.v), 0) << err.Text();
    EXPECT_EQ(sum.Text(), "900150983cd24fb0d6963f7d28e17f72");
}

// Outputs that hold values of the caller's, or of an earlier call, are released and replaced;
// errorOut is emptied on success; a failure leaves checksumOut as it was.
TEST(VelGnMD5, OutputsHoldingValuesAreReplaced) {
    TempDir dir;
    WriteFile(dir / "a", "abc");
    Var a(dir / "a"), missing(dir / "missing"), kb("32"), sum, spare, err("earlier text");
    sum.v.vt = VT_I4;
    sum.v.lVal = 7;
    ASSERT_EQ(VelGetMD5(missing.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(sum.Text(), "<type 3>");
    EXPECT_NE(err.Text().find("Cannot open"), std::string::npos) << err.Text();
    ASSERT_NE(VelGetMD5WBlock(a.v, kb.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(sum.Text(), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(spare.Text(), "3");
    EXPECT_EQ(err.v.vt, VT_EMPTY);
    ASSERT_EQ(VelGetMD5(missing.v, &sum.v, &spare.v, &err.v), 0);
    EXPECT_EQ(sum.Text(), "900150983cd24fb0d6963f7d28e17f72");
}
#endif

}  // namespace
