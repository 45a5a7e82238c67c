#include "common/clock.h"

#include <langinfo.h>

#include <cctype>
#include <clocale>
#include <cstring>
#include <ctime>
#include <string>

namespace brimlet {

std::tm LocalTime(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return tm;
}

namespace {
std::string Format(const std::tm& tm, const char* pattern) {
    char buf[256];
    const std::size_t n = std::strftime(buf, sizeof buf, pattern, &tm);
    return std::string(buf, n);
}

// The C locale's %x has a two-digit year; a log read years later needs its century.
bool IsCLocale() {
    const char* name = std::setlocale(LC_TIME, nullptr);
    return name != nullptr && (std::strcmp(name, "C") == 0 || std::strcmp(name, "POSIX") == 0 ||
                               std::strncmp(name, "C.", 2) == 0);
}
}  // namespace

std::string GeneralDateText(std::time_t t) {
    const std::tm tm = LocalTime(t);
    const bool c = IsCLocale();
    if (tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0) {
        return Format(tm, c ? "%m/%d/%Y" : "%x");
    }
    return Format(tm, c ? "%m/%d/%Y %X" : "%x %X");
}

char LocaleDateSeparator() {
    // Expand the locale's date format on a date whose fields are all two or more digits, so a
    // blank-padded day (%e) stays a number, then take the first character that is neither a
    // letter, a digit nor a blank.
    std::tm probe{};
    probe.tm_year = 2026 - 1900;
    probe.tm_mon = 11;
    probe.tm_mday = 17;
    const std::string text = Format(probe, nl_langinfo(D_FMT));
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && !std::isalnum(u) && !std::isspace(u)) {
            return c;
        }
    }
    return '/';
}

}  // namespace brimlet
