#pragma once
// The run's one database connection: opened once after the settings are read, closed once.
#include <memory>
#include <string>

#include "run/run_context.h"

namespace brimlet {

// Reads and validates the settings (getConDtls), then creates and opens the connection.
// True when the connection is open.
bool OpenConnection(RunContext& ctx);

// Creates a new connection into `connection` (kept whatever happens next), configures it from
// the settings and opens it. True when open.
bool getConnected(RunContext& ctx, std::unique_ptr<db::Connection>& connection,
                  const std::string& connectionString);

// Closes and releases the connection; never fails and writes nothing.
void CloseConnection(RunContext& ctx) noexcept;

}  // namespace brimlet
