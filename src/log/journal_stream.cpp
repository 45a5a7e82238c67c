#include "log/journal_stream.h"

#include <charconv>
#include <optional>

namespace brimlet {

namespace {

// A whole decimal number, nothing before or after it.
std::optional<std::uint64_t> Decimal(std::string_view text) {
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (text.empty() || ec != std::errc() || ptr != end) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

bool IsJournalStream(std::string_view journalStream, std::uint64_t device, std::uint64_t inode) {
    const std::size_t colon = journalStream.find(':');
    if (colon == std::string_view::npos) {
        return false;
    }
    const std::optional<std::uint64_t> dev = Decimal(journalStream.substr(0, colon));
    const std::optional<std::uint64_t> ino = Decimal(journalStream.substr(colon + 1));
    return dev && ino && *dev == device && *ino == inode;
}

std::string_view JournalPriorityPrefix(Severity severity) {
    switch (severity) {
        case Severity::kError:
            return "<3>";
        case Severity::kWarning:
            return "<4>";
        case Severity::kNotice:
            return "<5>";
    }
    return {};
}

}  // namespace brimlet
