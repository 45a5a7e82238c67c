#pragma once
// The body procedure (logged as FncCreateXMLString) and SubCreateBrimletXML, run against
// ctx.connection.
#include <string>

#include "run/publisher.h"
#include "run/run_context.h"

namespace brimlet {

// Runs "USP_AgentComponent_Details" for ctx.osType and ctx.agentType on the open
// ctx.connection and builds the grouped body. Rows with a type that cannot name an element
// are left out, the first 20 with an "ERR" entry each, the others counted in one more; when
// that leaves no row, the status is NoUsableRows. Failures end in the procedure's error entry
// and status Failed. Never throws.
BodyOutcome CreateXmlBody(RunContext& ctx) noexcept;

// Builds, encrypts and publishes the document at ctx.xmlPath (PublishDocument with the
// database body and the document cipher). Never throws.
void SubCreateBrimletXML(RunContext& ctx) noexcept;

}  // namespace brimlet
