#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <utility>

#include "common/clock.h"
#include "support/fake_clock.h"

namespace brimlet {
namespace {

using test::LocalTimeOf;

class LocaleScope {
  public:
    explicit LocaleScope(const char* name) : m_ok(std::setlocale(LC_ALL, name) != nullptr) {}
    ~LocaleScope() { std::setlocale(LC_ALL, "C"); }
    bool ok() const { return m_ok; }

  private:
    bool m_ok;
};

TEST(DateTimeText, SlashThenLocaleSeparatorWithTwoDigitFields) {
    LocaleScope c("C");
    EXPECT_EQ(DateTimeText(LocalTimeOf(2026, 12, 7, 14, 5, 9)), "12/07/2026 14:05:09");
    EXPECT_EQ(DateTimeText(LocalTimeOf(2027, 3, 5, 0, 0, 0)), "03/05/2027 00:00:00");
}

#ifndef _WIN32
// setlocale's locales: the Windows build takes the user locale's separator instead.
TEST(DateTimeText, DotLocaleChangesOnlyTheSecondSeparator) {
    LocaleScope de("de_DE.UTF-8");
    if (!de.ok()) {
        if (std::getenv("BRIMLET_TEST_REQUIRE_DB") != nullptr) {
            FAIL() << "locale de_DE.UTF-8 is missing (scripts/test generates it)";
        }
        GTEST_SKIP() << "locale de_DE.UTF-8 not generated";
    }
    EXPECT_EQ(LocaleDateSeparator(), '.');
    EXPECT_EQ(DateTimeText(LocalTimeOf(2026, 12, 7, 14, 5, 9)), "12/07.2026 14:05:09");
    EXPECT_EQ(GeneralDateText(LocalTimeOf(2026, 12, 7, 14, 5, 9)), "07.12.2026 14:05:09");
}

// bg_BG's date format starts with a blank-padded day ("%e.%m.%Y"): the blank is no separator.
TEST(DateTimeText, BlankPaddedDayLocaleStillGivesItsDot) {
    LocaleScope bg("bg_BG.UTF-8");
    if (!bg.ok()) {
        if (std::getenv("BRIMLET_TEST_REQUIRE_DB") != nullptr) {
            FAIL() << "locale bg_BG.UTF-8 is missing (scripts/test generates it)";
        }
        GTEST_SKIP() << "locale bg_BG.UTF-8 not generated";
    }
    EXPECT_EQ(LocaleDateSeparator(), '.');
    EXPECT_EQ(DateTimeText(LocalTimeOf(2026, 12, 9, 14, 5, 9)), "12/09.2026 14:05:09");
}
#endif

#ifdef _WIN32
// The user's short date and long time, as scripts/test-windows sets it up: US English.
TEST(GeneralDateText, UserLocaleShortDateAndLongTimeDateAloneAtMidnight) {
    EXPECT_EQ(GeneralDateText(LocalTimeOf(2026, 12, 7, 0, 0, 0)), "12/7/2026");
    EXPECT_EQ(GeneralDateText(LocalTimeOf(2026, 12, 7, 0, 0, 1)), "12/7/2026 12:00:01 AM");
    EXPECT_EQ(GeneralDateText(LocalTimeOf(2026, 12, 9, 21, 7, 39)), "12/9/2026 9:07:39 PM");
    EXPECT_EQ(LocaleDateSeparator(), '/');
}
#else
TEST(GeneralDateText, DateAloneAtMidnightOnly) {
    LocaleScope c("C");
    EXPECT_EQ(GeneralDateText(LocalTimeOf(2026, 12, 7, 0, 0, 0)), "12/07/2026");
    EXPECT_EQ(GeneralDateText(LocalTimeOf(2026, 12, 7, 0, 0, 1)), "12/07/2026 00:00:01");
}

// The C locales' own %x drops the century; every other locale keeps its form.
TEST(GeneralDateText, FourDigitYearUnderTheCLocales) {
    const std::pair<const char*, const char*> cases[] = {
        {"C", "12/09/2026 21:07:39"},
        {"POSIX", "12/09/2026 21:07:39"},
        {"C.UTF-8", "12/09/2026 21:07:39"},
        {"de_DE.UTF-8", "09.12.2026 21:07:39"},
    };
    for (const auto& [name, expected] : cases) {
        LocaleScope scope(name);
        if (!scope.ok()) {
            ADD_FAILURE() << "locale " << name << " is missing";
            continue;
        }
        EXPECT_EQ(GeneralDateText(LocalTimeOf(2026, 12, 9, 21, 7, 39)), expected) << name;
    }
}
#endif

TEST(DateDigits, DayMonthYearWithLeadingZeros) {
    EXPECT_EQ(DateDigits(LocalTimeOf(2027, 3, 5, 12, 0, 0)), "05032027");
}

}  // namespace
}  // namespace brimlet
