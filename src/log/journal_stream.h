#pragma once
// Whether the standard error stream is the journal's, and the priority prefix it reads there.
#include <cstdint>
#include <string_view>

#include "log/severity.h"

namespace brimlet {

// True when `journalStream` (the environment's JOURNAL_STREAM, "DEVICE:INODE" in decimal) names
// the stream whose device and inode are given. A stream inherited by a child that redirected its
// stderr does not match, so a pipe or a file never gets the prefix.
bool IsJournalStream(std::string_view journalStream, std::uint64_t device, std::uint64_t inode);

// The syslog priority prefix the journal takes off a line and files it at.
std::string_view JournalPriorityPrefix(Severity severity);

}  // namespace brimlet
