#pragma once
// A run's report lines in the Application event log, source "brimlet".
#include <string_view>

#include "log/severity.h"

namespace brimlet {

// Reports `line` (a stderr report line, "brimlet[NAME]: text\n" or without the prefix) as one
// event: NAME and the text as its two strings, in UTF-16 from the ANSI text, its type from
// `severity`. Never fails and never waits: an unregistered source, a stopped event log service
// or any other failure drops the event, the run goes on.
void ReportToEventLog(std::string_view line, Severity severity) noexcept;

}  // namespace brimlet
