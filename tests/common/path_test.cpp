// The platform's path rules: what ends a directory, what is rooted, how paths are joined.
#include "common/path.h"

#include <gtest/gtest.h>

namespace brimlet {
namespace {

struct Case {
    const char* in;
    const char* out;
};

TEST(Path, DirectoryOfKeepsTheRootsSeparator) {
    const Case cases[] = {
        {"x", "."},
#ifdef _WIN32
        {"C:\\out\\d.xml", "C:\\out"},
        {"C:/out/d.xml", "C:/out"},
        {"C:\\out/d.xml", "C:\\out"},
        // "C:" alone would be the drive's working directory.
        {"C:\\d.xml", "C:\\"},
        {"C:/d.xml", "C:/"},
        {"\\d.xml", "\\"},
        {"\\\\srv\\share\\d.xml", "\\\\srv\\share"},
#else
        {"/srv/out/d.xml", "/srv/out"},
        {"/d.xml", "/"},
        {"a/b", "a"},
        // A backslash is an ordinary character.
        {"/srv/out\\x/d.xml", "/srv/out\\x"},
        {"out\\d.xml", "."},
#endif
    };
    for (const Case& c : cases) {
        EXPECT_EQ(DirectoryOf(c.in), c.out) << c.in;
    }
}

// The temporary document, its lock and its kept predecessor; the instance guard of a link.
TEST(Path, DotNameBesideIsInTheFilesOwnDirectory) {
    const std::pair<Case, const char*> cases[] = {
        {{"d.xml", ".d.xml."}, "."},
        {{"pub_A_B", ".pub_A_B.lock"}, ".lock"},
#ifdef _WIN32
        {{"C:\\out\\d.xml", "C:\\out\\.d.xml."}, "."},
        {{"C:/out/d.xml", "C:/out/.d.xml."}, "."},
        {{"\\d.xml", "\\.d.xml."}, "."},
        {{"C:\\d.xml", "C:\\.d.xml.previous"}, ".previous"},
        {{"C:\\l\\pub_KA_WIN64.exe", "C:\\l\\.pub_KA_WIN64.exe.lock"}, ".lock"},
#else
        {{"/srv/out\\x/d.xml", "/srv/out\\x/.d.xml."}, "."},
        {{"/d.xml", "/.d.xml."}, "."},
        {{"/srv/A/Brimlet_A_B.xml", "/srv/A/.Brimlet_A_B.xml.lock"}, ".lock"},
        {{"/srv/A/Brimlet_A_B.xml", "/srv/A/.Brimlet_A_B.xml.previous"}, ".previous"},
#endif
    };
    for (const auto& [c, suffix] : cases) {
        EXPECT_EQ(DotNameBeside(c.in, suffix), c.out) << c.in << " " << suffix;
    }
}

TEST(Path, JoinPathPutsOneSeparatorBetween) {
    const std::pair<Case, const char*> cases[] = {
#ifdef _WIN32
        {{"C:\\b", "C:\\b\\x"}, "x"},
        {{"C:\\", "C:\\x"}, "x"},
        {{"C:/b/", "C:/b/x"}, "x"},
        {{"C:/b", "C:/b\\x"}, "x"},
        {{"", "\\x"}, "x"},
        {{"C:\\b", "C:\\b\\pub_A_B\\pub_A_B.exe"}, "pub_A_B\\pub_A_B.exe"},
#else
        {{"/opt/b", "/opt/b/x"}, "x"},
        {{"/opt/b/", "/opt/b/x"}, "x"},
        // The root's directory text is empty.
        {{"", "/x"}, "x"},
        {{"/opt\\", "/opt\\/x"}, "x"},
#endif
    };
    for (const auto& [c, name] : cases) {
        EXPECT_EQ(JoinPath(c.in, name), c.out) << c.in << " " << name;
    }
}

// The settings' srvpath and metricsdir, taken from the program's directory unless rooted.
TEST(Path, AnchoredTakesARelativePathFromTheDirectory) {
#ifdef _WIN32
    const char* dir = "C:\\b";
    for (const char* rooted :
         {"C:\\m", "C:/m", "\\\\srv\\share\\m", "\\m", "/m", "D:\\out", "D:/out", "D:out",
          "d:\\Gr\xf6\xdf"
          "e"}) {
        EXPECT_EQ(Anchored(dir, rooted), rooted);
        EXPECT_TRUE(IsRooted(rooted)) << rooted;
    }
    const Case relative[] = {
        {"m\\p", "C:\\b\\m\\p"},
        {"out", "C:\\b\\out"},
        // Paths are in the ANSI code page: "Größe" in 1252 is no UTF-8.
        {"Gr\xf6\xdf"
         "e",
         "C:\\b\\Gr\xf6\xdf"
         "e"},
    };
#else
    const char* dir = "/opt/b";
    for (const char* rooted : {"/var/m", "/", "//x"}) {
        EXPECT_EQ(Anchored(dir, rooted), rooted);
        EXPECT_TRUE(IsRooted(rooted)) << rooted;
    }
    const Case relative[] = {
        {"m/p", "/opt/b/m/p"},
        {"C:\\m/p", "/opt/b/C:\\m/p"},
        {"\\m", "/opt/b/\\m"},
        {"./m", "/opt/b/./m"},
    };
#endif
    for (const Case& c : relative) {
        EXPECT_EQ(Anchored(dir, c.in), c.out) << c.in;
        EXPECT_FALSE(IsRooted(c.in)) << c.in;
    }
    EXPECT_FALSE(IsRooted(""));
}

// srvpath as an operator writes it: the directory it names, whether that is a root, and the
// text the directory search is given.
TEST(Path, ASettingsDirectoryIsTheDirectoryItNames) {
    const struct {
        const char* setting;
        const char* anchored;  // from the program's directory
        bool root;
        const char* bare;
    } rows[] = {
#ifdef _WIN32
        // The program's directory is C:\b\pub.
        {"C:\\Publish\\", "C:\\Publish\\", false, "C:\\Publish"},
        {"C:/Publish//", "C:/Publish//", false, "C:/Publish"},
        {"D:\\", "D:\\", true, "D:\\"},
        {"D:", "D:\\", true, "D:\\"},
        // Never the drive's working directory, nor the working directory's drive.
        {"D:rel", "D:\\rel", false, "D:\\rel"},
        {"\\Publish", "C:\\Publish", false, "C:\\Publish"},
        {"\\\\web01\\agents", "\\\\web01\\agents", true, "\\\\web01\\agents\\"},
        {"\\\\web01\\agents\\", "\\\\web01\\agents\\", true, "\\\\web01\\agents\\"},
        {"\\\\web01\\agents\\x\\", "\\\\web01\\agents\\x\\", false, "\\\\web01\\agents\\x"},
        {"\\\\web01", "\\\\web01", false, "\\\\web01"},
        {"out\\", "C:\\b\\pub\\out\\", false, "C:\\b\\pub\\out"},
    };
    const char* dir = "C:\\b\\pub";
    // On a share, "\x" is on the share.
    EXPECT_EQ(AnchoredDirectory("\\\\web01\\apps\\b", "\\Publish"), "\\\\web01\\apps\\Publish");
#else
        {"/out/", "/out/", false, "/out"},
        {"/", "/", true, "/"},
        {"//", "//", true, "/"},
        {"out", "/opt/b/out", false, "/opt/b/out"},
        // A backslash is an ordinary character.
        {"D:rel", "/opt/b/D:rel", false, "/opt/b/D:rel"},
        {"\\x\\", "/opt/b/\\x\\", false, "/opt/b/\\x\\"},
    };
    const char* dir = "/opt/b";
#endif
    for (const auto& r : rows) {
        const std::string anchored = AnchoredDirectory(dir, r.setting);
        EXPECT_EQ(anchored, r.anchored) << r.setting;
        EXPECT_EQ(IsRootPath(anchored), r.root) << anchored;
        EXPECT_EQ(WithoutTrailingSeparators(anchored), r.bare) << anchored;
    }
}

}  // namespace
}  // namespace brimlet
