// --check judges a link's name as a run does: what it refuses, a run refuses.
#include "run/check.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>

#include "support/temp_dir.h"

namespace brimlet {
namespace {

std::string Checked(const std::string& link, const test::TempDir& dir) {
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::tmpfile(), &std::fclose);
    EXPECT_NE(out, nullptr);
    RunContext ctx;
    EXPECT_EQ(CheckPair(ctx, IdentityOfPath(link, dir.path()), out.get()), 1);
    std::rewind(out.get());
    std::string text;
    for (int c = 0; (c = std::fgetc(out.get())) != EOF;) {
        text.push_back(static_cast<char>(c));
    }
    return text;
}

TEST(CheckPair, TakesTheNamesARunTakesAndRefusesTheOthers) {
    for (const char* name : {"pub_AG_OS", "_AG_OS", ".._AG_OS"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        test::WriteFile(dir / name, "");
        // Taken: the check goes on to the settings, which are missing.
        const std::string out = Checked(dir / name, dir);
        EXPECT_NE(out.find(std::string("pair: ") + name + " (agent AG, OS OS)"), std::string::npos)
            << out;
        EXPECT_NE(out.find("error: settings file " + (dir / "Ini/dbstring.Ini")), std::string::npos)
            << out;
    }
    for (const char* name : {"pub_AG", "pub__OS", "pub_AG_..", "a_b_c_d"}) {
        SCOPED_TRACE(name);
        test::TempDir dir;
        test::WriteFile(dir / name, "");
        EXPECT_EQ(Checked(dir / name, dir),
                  std::string("error: ") + name + ": not a name of the form prefix_AGENT_OS\n");
    }
}

}  // namespace
}  // namespace brimlet
