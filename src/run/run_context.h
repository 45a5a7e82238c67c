#pragma once
// The run-wide state: created empty at start and kept until the process ends. Each field
// has one writer.
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <memory>
#include <string>

#include "db/odbc.h"
#include "log/log.h"
#include "metrics/status.h"
#include "process/publication.h"
#include "process/run_watchdog.h"
#include "settings/settings.h"

namespace brimlet {

struct RunContext {
    // First, so that it outlives every other member: a connection released at the end still
    // runs under the run's bound.
    RunWatchdog watchdog;
    std::string agentType;          // Main
    std::string osType;             // Main
    std::string iniPath;            // Main
    std::string connectionString;   // getConDtls ("KEMADDONDBstr")
    SecondsSetting connTimeoutSec;  // getConDtls
    SecondsSetting cmdTimeoutSec;   // getConDtls
    std::string purl;               // getConDtls
    std::string surl;               // getConDtls
    std::string srvPath;            // getConDtls; ends in "/" once it returned true
    std::string metricsDir;         // getConDtls ("metricsdir"); "": no metrics
    bool settingsRefused = false;   // getConDtls: the file failed the trust rule
    // Where a run whose settings were refused still reports its failure: the exporter's
    // default, never a directory the refused file names.
    std::string defaultMetricsDir = std::string(metrics::kDefaultStatusDir);
    std::string intervalSec;                     // getConDtls ("intervalsec"): expected seconds
                                                 // between runs, for the metrics; "": none
    std::string xmlPath;                         // Main
    std::unique_ptr<db::Connection> connection;  // getConnected; CloseConnection resets it
    // Main, once the document's path is known; SubCreateBrimletXML locks and fills it, and
    // SettlePublication ends it once its record is made or not (the watchdog's hook too).
    std::shared_ptr<Publication> publication;

    // The log, with the executable's identity (the name it was invoked by) and the clock.
    LogFile log;
    std::time_t startTime = 0;  // Main

    // Outcome, for the exit status.
    bool published = false;         // SubCreateBrimletXML wrote "Created new xml file"
    bool noData = false;            // SubCreateBrimletXML wrote "No Data available for ..."
    std::string writtenMd5;         // SubCreateBrimletXML: lower-case hex MD5 of the bytes it
                                    // wrote to the document it put in place; "": none
    bool checksumAccepted = false;  // SubUpdateXmlCheckSum wrote "Checksum updated ..."
    std::size_t bodyRows = 0;       // CreateXmlBody: components its body lists
    std::size_t bodyGroups = 0;     // CreateXmlBody: component types its body lists
    std::size_t rowsLeftOut = 0;    // CreateXmlBody: rows left out for an unusable type
    int stopSignal = 0;             // the stop signal the log reports (ThrowIfStopped)
};

}  // namespace brimlet
