#include "common/clock.h"

#include <chrono>
#include <cstdio>
#include <thread>

namespace brimlet {

std::time_t Clock::Now() const {
    return std::time(nullptr);
}

void Clock::SleepMs(int milliseconds) const {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

const Clock& SystemClock() {
    static const Clock clock;
    return clock;
}

std::string DateTimeText(std::time_t t) {
    const std::tm tm = LocalTime(t);
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d/%02d%c%04d %02d:%02d:%02d", tm.tm_mon + 1, tm.tm_mday,
                  LocaleDateSeparator(), tm.tm_year + 1900, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string DateDigits(std::time_t t) {
    const std::tm tm = LocalTime(t);
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02d%02d%04d", tm.tm_mday, tm.tm_mon + 1, tm.tm_year + 1900);
    return buf;
}

}  // namespace brimlet
