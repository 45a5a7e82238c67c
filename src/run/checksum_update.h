#pragma once
// SubUpdateXmlCheckSum: the published document's checksum recorded in the database.
#include "checksum/md5_library.h"
#include "common/failure.h"
#include "run/run_context.h"

namespace brimlet {

// Hashes ctx.xmlPath and records the checksum, release date and URLs through
// USP_MstAgentXmlCheckSum_IU on ctx.connection. Never throws; logs under
// "SubUpdateXmlCheckSum". An empty checksum is never sent, nor one that differs from
// ctx.writtenMd5 (the file at the path is then not the one this run wrote: an ERR entry).
// Sets ctx.checksumAccepted when the database reported 1, also when that came after the call's
// time-out (the time-out's ERR entry follows); then settles ctx.publication: kept when
// recorded, else rolled back (a call that timed out or lost its connection without reporting
// 1 counts as of unknown outcome).
void SubUpdateXmlCheckSum(RunContext& ctx, Md5Library& library);

// Settles `publication` with `outcome` and writes SubUpdateXmlCheckSum's entry of what that
// did: an MSG entry of the document put back or removed, the error entry at step 240 of an
// undo that failed, nothing when the document stays or it was settled before. Every settling
// of the run comes here, the watchdog's at the process's end too.
void SettlePublication(LogFile& log, Publication& publication, RecordOutcome outcome) noexcept;

// Whether a failed checksum call may still have been recorded, judged by its SQLSTATE.
bool OutcomeUnknown(const Failure& failure);

}  // namespace brimlet
