#pragma once

namespace brimlet {

// How a run's stderr line ranks where a service manager or an event log files it.
enum class Severity { kError, kWarning, kNotice };

}  // namespace brimlet
