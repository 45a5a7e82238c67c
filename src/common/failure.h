#pragma once
// The one failure type of the system: a signed 32-bit number and a one-line text, with what
// of that text a database driver said kept apart.
#include <cstdint>
#include <exception>
#include <string>
#include <string_view>

namespace brimlet {

class Failure : public std::exception {
  public:
    // A failure in the program's own words.
    Failure(std::int32_t number, std::string description);
    // A failure an ODBC driver or the driver manager reported. `sqlState` is the state the
    // description begins with, `context` the program's own text before the driver's, and
    // `driverText` the driver's as it came, line breaks included: the description holds it as
    // one line.
    Failure(std::int32_t number, std::string sqlState, std::string context, std::string driverText);

    std::int32_t number() const noexcept { return m_number; }
    const std::string& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }
    // Empty for a failure that did not come through ODBC.
    const std::string& sqlState() const noexcept { return m_sqlState; }
    // The whole description when there is no driver text.
    const std::string& context() const noexcept { return m_context; }
    // May hold what the driver echoed of the connection string, password included: a text
    // written anywhere passes the log's redactor (Redactor::Describe).
    const std::string& driverText() const noexcept { return m_driverText; }

    // The same failure behind more of the program's own words, under `sqlState` when that is
    // not empty.
    Failure Behind(std::string_view prefix, std::string_view sqlState = {}) const;

  private:
    std::int32_t m_number;
    std::string m_sqlState;
    std::string m_context;
    std::string m_driverText;
    std::string m_description;
};

// Turns whatever is in flight inside a catch block into a Failure, so that every guarded
// procedure can log a number and a description for any exception.
Failure CurrentFailure() noexcept;

// Error numbers for failures that do not come from the OS or a driver.
inline constexpr std::int32_t kErrOutOfMemory = 7;
inline constexpr std::int32_t kErrTypeMismatch = 13;
inline constexpr std::int32_t kErrFileNotFound = 53;
inline constexpr std::int32_t kErrEntryPointNotFound = 453;
inline constexpr std::int32_t kErrInternal = 51;

}  // namespace brimlet
