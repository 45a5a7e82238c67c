#pragma once
// The settings of the run: the "Brimlet" section of the settings file, validated.
#include "run/run_context.h"

namespace brimlet {

// Reads the six settings of section "Brimlet" of ctx.iniPath into ctx, insists on a connection
// string and both download URLs, and settles ctx.srvPath (falling back to the executable directory
// when it is blank or names nothing that exists), completed with a trailing "/". True when the
// settings are usable. Writes its own log entries ("modMain", "getConDtls") and never throws.
bool getConDtls(RunContext& ctx) noexcept;

}  // namespace brimlet
