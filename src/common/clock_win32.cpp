#include <windows.h>

#include <ctime>
#include <string>

#include "common/clock.h"

namespace brimlet {

std::tm LocalTime(std::time_t t) {
    std::tm tm{};
    localtime_s(&tm, &t);
    return tm;
}

namespace {

SYSTEMTIME ToSystemTime(const std::tm& tm) {
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(tm.tm_year + 1900);
    st.wMonth = static_cast<WORD>(tm.tm_mon + 1);
    st.wDayOfWeek = static_cast<WORD>(tm.tm_wday);
    st.wDay = static_cast<WORD>(tm.tm_mday);
    st.wHour = static_cast<WORD>(tm.tm_hour);
    st.wMinute = static_cast<WORD>(tm.tm_min);
    st.wSecond = static_cast<WORD>(tm.tm_sec);
    return st;
}

// The user's short date or long time form, in the ANSI code page like the rest of the log.
std::string LocaleText(const SYSTEMTIME& st, bool date) {
    char buf[128];
    const int n = date ? GetDateFormatA(LOCALE_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buf,
                                        static_cast<int>(sizeof buf))
                       : GetTimeFormatA(LOCALE_USER_DEFAULT, 0, &st, nullptr, buf,
                                        static_cast<int>(sizeof buf));
    // n counts the terminating NUL.
    return n > 0 ? std::string(buf, static_cast<std::size_t>(n - 1)) : std::string();
}

}  // namespace

std::string GeneralDateText(std::time_t t) {
    const std::tm tm = LocalTime(t);
    const SYSTEMTIME st = ToSystemTime(tm);
    std::string text = LocaleText(st, true);
    if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0) {
        return text;
    }
    text += ' ';
    text += LocaleText(st, false);
    return text;
}

char LocaleDateSeparator() {
    char buf[8];
    if (GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_SDATE, buf, static_cast<int>(sizeof buf)) > 1) {
        return buf[0];
    }
    return '/';
}

}  // namespace brimlet
