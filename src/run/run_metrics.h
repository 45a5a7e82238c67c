#pragma once
// The run's figures handed to the metrics file at its end.
#include "run/run_context.h"

namespace brimlet {

// Writes <metricsDir>/brimlet_<link>.prom for a run that read its settings and named a metrics
// directory (relative to the program's directory unless absolute); does nothing otherwise.
// The labels are the program's own names, written as they are. A file that cannot be written costs
// one "MSG" entry and one stderr line, and returns false: monitoring then still shows the run
// before, so the run fails. Never throws.
bool WriteRunMetrics(RunContext& ctx, int exitStatus) noexcept;

}  // namespace brimlet
