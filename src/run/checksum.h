#pragma once
// Checksum: the MD5 of the published document through the library.
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

}  // namespace brimlet
