#include "run/check.h"

#include <gtest/gtest.h>

namespace brimlet {
namespace {

// `brimlet --check NAME` names the pair's link in the installed layout; a path is taken as is.
TEST(CheckTarget, BareNameIsThePairsLinkUnderTheRootAndAPathIsTheLink) {
#ifdef _WIN32
    EXPECT_EQ(CheckTarget("pub_KA_WIN64", "C:\\brimlet", "").path,
              "C:\\brimlet\\pub_KA_WIN64\\pub_KA_WIN64.exe");
#else
    EXPECT_EQ(CheckTarget("pub_A_B", "/var/lib/brimlet", "/w").path,
              "/var/lib/brimlet/pub_A_B/pub_A_B");
    const auto id = CheckTarget("./l/pub_A_B", "/var/lib/brimlet", "/w");
    EXPECT_EQ(id.path, "/w/l/pub_A_B");
    EXPECT_EQ(id.name, "pub_A_B");
#endif
}

}  // namespace
}  // namespace brimlet
