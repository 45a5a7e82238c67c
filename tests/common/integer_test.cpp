// The integer parser behind the time-outs and the integer parameters.
#include "common/integer.h"

#include <gtest/gtest.h>

#include "common/failure.h"

namespace brimlet {
namespace {

TEST(ParseInt32, AcceptsOneSignDigitsAndBlanksAround) {
    const std::pair<const char*, std::int32_t> good[] = {
        {"30", 30},
        {" 5 ", 5},
        {"\t+7\r\n", 7},
        {"0", 0},
        {"-3", -3},
        {"007", 7},
        {"2147483647", 2147483647},
        {"-2147483648", -2147483647 - 1},
        {"+2147483647", 2147483647},
    };
    for (const auto& [text, value] : good) {
        EXPECT_EQ(ParseInt32(text), value) << text;
    }
}

TEST(ParseInt32, RefusesEverythingElseAsTypeMismatch) {
    for (const char* bad :
         {"", " ", "abc", "1e3", "1.5", "2147483648", "-2147483649", "5s", "+", "-", "- 5", "+ 5",
          "+-5", "-+5", "--5", "1 2", "99999999999999999999", "0x10"}) {
        try {
            ParseInt32(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), 13) << bad;
            EXPECT_EQ(f.description(), "Type mismatch") << bad;
        }
    }
}

}  // namespace
}  // namespace brimlet
