#pragma once
// The fault cases' databases, earlier documents and the checks every case makes on what a run
// (in a test::RunSite) left behind.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/text.h"
#include "support/md5.h"
#include "support/run_site.h"
#include "support/temp_dir.h"
#include "support/test_db.h"

namespace brimlet::faults {

inline constexpr const char* kPassPhrase = "Qm7RtX2bLw9PzK4nHc8VjE5sYa3FdU6g";

using test::SqlDir;
// Loads the schema and both procedures, and `rows` component rows for agent/os.
void LoadSchema(test::TestDatabase& db, int rows, const std::string& agent = "FA",
                const std::string& os = "LNX");
// Replaces USP_AgentComponent_Details by one that sleeps `seconds` before its one row (whole on
// MariaDB, where a cancel may end the sleep and let the procedure go on to it).
void MakeComponentQuerySleep(test::TestDatabase& db, test::Backend backend, int seconds = 30);
// Recreates USP_MstAgentXmlCheckSum_IU as shipped with `pg` or `mariadb` (one statement of
// the backend's procedure language) run first, for calls whose download URL starts with
// `urlPrefix` ("" for every call).
void PrefixChecksumProcedure(test::TestDatabase& db, const std::string& pg,
                             const std::string& mariadb, const std::string& urlPrefix = "");
// Ends every other session of the test's database (pg_terminate_backend, KILL CONNECTION).
void KillOtherSessions(test::TestDatabase& db);
// The MD5 recorded for FA/LNX in upper-case hex, "" when there is no record.
std::string RecordedMd5(test::TestDatabase& db);
// The component rows of LoadSchema as INSERT statements (for a server of one's own).
std::string ComponentInserts(test::Backend backend, int rows, const std::string& agent,
                             const std::string& os);
// `connectionString` with key set to value (replaced where present, else appended).
std::string WithKey(const std::string& connectionString, const std::string& key,
                    const std::string& value);

using test::kPurl;
using test::kSurl;
using test::Md5Hex;
using test::RunSite;

// Writes a valid earlier document over the site's xml and returns its bytes.
std::string SeedPrevious(const RunSite& site);

// True when some entry's "Module|Function|Type|Val1|Val2|Val3" starts with prefix.
bool HasEntry(const std::vector<std::string>& texts, const std::string& prefix);
// Number of entries that start with prefix.
int CountEntries(const std::vector<std::string>& texts, const std::string& prefix);

// Decrypts a document file's bytes and checks the whole shape: wrapper, both URLs, a body
// of exactly `rows` components, the closing tag. `purl` "" accepts any URL.
::testing::AssertionResult IsCompleteDocument(const std::string& file, int rows,
                                              const std::string& purl = kPurl);
// Every entry is seven columns on one line; the connection string, its password and the pass
// phrase appear nowhere in the log.
void ExpectCleanLog(const test::LogFileContent& log, const std::string& connectionString);

}  // namespace brimlet::faults
