#include "common/integer.h"

#include <charconv>

#include "common/failure.h"
#include "common/text.h"

namespace brimlet {

std::int32_t ParseInt32(std::string_view text) {
    std::string_view t = TrimWhitespace(text);
    // from_chars takes a minus but no plus; one sign at most, directly before the digits.
    if (!t.empty() && t.front() == '+') {
        t.remove_prefix(1);
        if (!t.empty() && t.front() == '-') {
            throw Failure(kErrTypeMismatch, "Type mismatch");
        }
    }
    std::int32_t value = 0;
    const char* end = t.data() + t.size();
    const auto [ptr, ec] = std::from_chars(t.data(), end, value);
    if (t.empty() || ec != std::errc() || ptr != end) {
        throw Failure(kErrTypeMismatch, "Type mismatch");
    }
    return value;
}

}  // namespace brimlet
