#pragma once
// The one failure type of the system: a signed 32-bit number and a one-line text.
#include <cstdint>
#include <exception>
#include <string>

namespace brimlet {

class Failure : public std::exception {
  public:
    Failure(std::int32_t number, std::string description)
        : m_number(number), m_description(std::move(description)) {}

    std::int32_t number() const noexcept { return m_number; }
    const std::string& description() const noexcept { return m_description; }
    const char* what() const noexcept override { return m_description.c_str(); }

  private:
    std::int32_t m_number;
    std::string m_description;
};

// A Failure from an errno value: the number is errno, the text strerror's.
Failure ErrnoFailure(int err);
// Same, with a leading context such as the path ("open /x: No such file or directory").
Failure ErrnoFailure(int err, const std::string& context);

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
