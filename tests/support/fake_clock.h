#pragma once
// A clock that stands still at a chosen local time (or moves on by a set step after each
// reading) and records pauses instead of sleeping.
#include <ctime>

#include "common/clock.h"

namespace brimlet::test {

class FakeClock : public Clock {
  public:
    explicit FakeClock(std::time_t t) : m_now(t) {}
    std::time_t Now() const override {
        const std::time_t now = m_now;
        m_now += m_step;
        return now;
    }
    void SleepMs(int milliseconds) const override { m_sleptMs += milliseconds; }
    void Set(std::time_t t) { m_now = t; }
    void StepEachReading(std::time_t seconds) { m_step = seconds; }
    int SleptMs() const { return m_sleptMs; }

  private:
    mutable std::time_t m_now;
    std::time_t m_step = 0;
    mutable int m_sleptMs = 0;
};

// time_t of a local date and time.
inline std::time_t LocalTimeOf(int year, int month, int day, int hour, int minute, int second) {
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

}  // namespace brimlet::test
