#include "run/run_metrics.h"

#include <optional>

#include "common/failure.h"
#include "common/path.h"
#include "log/log.h"
#include "metrics/metrics.h"
#include "process/files.h"

namespace brimlet {

bool WriteRunMetrics(RunContext& ctx, int exitStatus) noexcept {
    // A refused file would otherwise leave the pair looking healthy until it is overdue. Where
    // the exporter's default directory is missing or closed, that report is left out unsaid:
    // the refusal itself is on stderr.
    const bool refused = ctx.metricsDir.empty() && ctx.settingsRefused;
    if (ctx.metricsDir.empty() && !refused) {
        return true;
    }
    std::optional<Failure> failure;
    try {
        metrics::RunFigures run;
        run.link = ctx.log.exeName;
        run.agent = ctx.agentType;
        run.os = ctx.osType;
        run.startTime = ctx.startTime;
        run.endTime = ctx.log.clock->Now();
        run.exitStatus = exitStatus;
        run.rowsLeftOut = static_cast<std::int64_t>(ctx.rowsLeftOut);
        run.errorEntries = ctx.log.errEntries;
        run.expectedInterval = metrics::ParseInterval(ctx.intervalSec);
        // A document put back is not what this run published.
        if (ctx.published && !(ctx.publication && ctx.publication->RolledBack())) {
            run.published = true;
            run.publishedTime = run.endTime;
            run.componentsPublished = static_cast<std::int64_t>(ctx.bodyRows);
            if (const std::optional<FileFacts> facts = PlainFileFacts(ctx.xmlPath)) {
                run.documentBytes = facts->bytes;
                run.publishedTime = facts->modified;
            }
        }
        failure = metrics::WriteMetricsFile(
            refused ? ctx.defaultMetricsDir : Anchored(ctx.log.exeDir, ctx.metricsDir), run);
    } catch (...) {
        failure = CurrentFailure();
    }
    if (failure && !refused) {
        const std::string why = ctx.log.redactor.Describe(*failure);
        WriteLog(ctx.log, "modMain", "WriteRunMetrics", "MSG", "Metrics not written", why, "");
        WriteStderrLine(ctx.log, Severity::kWarning, "metrics not written: " + why);
        return false;
    }
    return true;
}

}  // namespace brimlet
