#pragma once
// The local clock and the pause, behind one seam so tests can fix the time.
#include <ctime>
#include <string>

namespace brimlet {

class Clock {
  public:
    virtual ~Clock() = default;
    // Current time, to the whole second.
    virtual std::time_t Now() const;
    virtual void SleepMs(int milliseconds) const;
};

// The process-wide real clock.
const Clock& SystemClock();

// Local broken-down time of t.
std::tm LocalTime(std::time_t t);

// The locale's general date form: short date, blank, long time; the date alone at 00:00:00.
std::string GeneralDateText(std::time_t t);

// "MM/DD<sep>YYYY HH:NN:SS" where <sep> is the locale's date separator.
std::string DateTimeText(std::time_t t);

// The locale's date separator: the first character of the date format, expanded for a
// two-digit day, that is neither a letter, a digit nor a blank.
char LocaleDateSeparator();

// "ddmmyyyy" of the local date.
std::string DateDigits(std::time_t t);

}  // namespace brimlet
