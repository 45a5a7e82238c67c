#pragma once
// The checksum of the published document and its recording in the database.
#include <string>

#include "checksum/md5_library.h"
#include "run/run_context.h"

namespace brimlet {

// MD5 of filePath through the library: whole-file first, block-wise (32 KB) when that fails.
// Returns the library's checksum text trimmed of spaces and upper-cased (empty when both
// calls fail or on any error). Never throws; logs under "Checksum". Sets errorText to
// "File not found: VelGnMD5" only when the library cannot be loaded.
std::string Checksum(RunContext& ctx, Md5Library& library, const std::string& filePath,
                     std::string& errorText);

// Hashes ctx.xmlPath and records the checksum, release date and URLs through
// USP_MstAgentXmlCheckSum_IU on ctx.connection. Never throws; logs under
// "SubUpdateXmlCheckSum". An empty checksum is never sent. Sets ctx.checksumAccepted when the
// database reported 1; then settles ctx.publication: kept when recorded, else rolled back
// (a call that timed out or lost its connection counts as of unknown outcome).
void SubUpdateXmlCheckSum(RunContext& ctx, Md5Library& library);

}  // namespace brimlet
