// The link's name: what a run, --check and the command line take from it.
#include "common/pair_name.h"

#include <gtest/gtest.h>

namespace brimlet {
namespace {

TEST(PairName, ThreePartsWithUsableAgentAndOsAnyPrefix) {
    struct Taken {
        const char* name;
        const char* prefix;
        const char* agent;
        const char* os;
    };
    const Taken taken[] = {
        {"pub_KA_LINUX", "pub", "KA", "LINUX"},
        // The prefix enters no path: empty, "." and ".." are as good as any.
        {"_KA_LINUX", "", "KA", "LINUX"},
        {"._KA_LINUX", ".", "KA", "LINUX"},
        {".._KA_LINUX", "..", "KA", "LINUX"},
        // Parts are taken as they stand, case, blanks and dots included.
        {"p_ka_Win 64", "p", "ka", "Win 64"},
        {"p_.A_B.", "p", ".A", "B."},
        {"pub_KA_WIN.64", "pub", "KA", "WIN.64"},
    };
    for (const Taken& t : taken) {
        SCOPED_TRACE(t.name);
        const std::optional<PairName> parsed = ParsePairName(t.name);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->prefix, t.prefix);
        EXPECT_EQ(parsed->agent, t.agent);
        EXPECT_EQ(parsed->os, t.os);
    }
    for (const char* refused :
         {// Too few or too many parts.
          "", "brimlet", "pub_KA", "pub_KA_LINUX_X", "a_b_c_d_e", "__",
          // An agent or OS part that would leave <srvpath>/<AGENT>/.
          "pub__LINUX", "pub_KA_", "pub_._LINUX", "pub_.._LINUX", "pub_KA_.", "pub_KA_.."}) {
        EXPECT_FALSE(ParsePairName(refused).has_value()) << refused;
    }
}

TEST(PairName, OnlyTheProgramsOwnNameIsTheProgram) {
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    EXPECT_TRUE(IsProgramName("brimlet"));
    // One-part names are a pair's link, whose run logs that the name has no pair in it.
    for (const char* name : {"", "x.y", "pubKALINUX", "brimlet2", "pub_KA", "_", "pub_KA_LINUX"}) {
        EXPECT_FALSE(IsProgramName(name)) << name;
    }
    EXPECT_EQ(IsProgramName("BRIMLET"), windows);
    EXPECT_EQ(IsProgramName("Brimlet-CLI"), windows);
}

TEST(PairName, TheExtensionIsLeftOutOnWindowsOnly) {
#ifdef _WIN32
    const bool windows = true;
#else
    const bool windows = false;
#endif
    const std::pair<const char*, const char*> cases[] = {
        {"pub_KA_WIN64.exe", windows ? "pub_KA_WIN64" : "pub_KA_WIN64.exe"},
        {"pub_KA_WIN.64.exe", windows ? "pub_KA_WIN.64" : "pub_KA_WIN.64.exe"},
        {"pub_KA_LINUX", "pub_KA_LINUX"},
        // A leading dot starts the name, not an extension.
        {".exe", ".exe"},
        {"", ""},
    };
    for (const auto& [file, link] : cases) {
        EXPECT_EQ(LinkNameOf(file), link) << file;
    }
    EXPECT_EQ(ParsePairName(LinkNameOf("pub_KA_WIN64.exe"))->os, windows ? "WIN64" : "WIN64.exe");
}

}  // namespace
}  // namespace brimlet
