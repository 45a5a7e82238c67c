#include "run/publisher.h"

#include <chrono>

#include "cipher/crypto.h"
#include "common/clock.h"
#include "common/failure.h"
#include "fsutil/atomic_file.h"
#include "log/log.h"
#include "process/files.h"
#include "process/run_watchdog.h"
#include "process/stop_signals.h"
#include "run/component_query.h"
#include "run/document.h"
#include "run/run_bound.h"
#include "run/run_stop.h"
#include "xml/xml_body.h"

namespace brimlet {

namespace {

constexpr std::string_view kFunction = "SubCreateBrimletXML";

void Msg(RunContext& ctx, std::string_view val1, std::string_view val2 = {}) {
    WriteLog(ctx.log, "modMain", kFunction, "MSG", val1, val2, "");
}

// A failed write of the temporary file from inside the encryption, reported at step 180.
struct WriteFailure {
    Failure failure;
};

// From before the document changes until its record is made or undone, runs of other links for
// the same document wait here.
void LockDocument(RunContext& ctx) {
    if (!ctx.publication || ctx.publication->Settled()) {
        throw Failure(-1, "No publication of " + ctx.xmlPath + " under way");
    }
    const auto wait = std::chrono::seconds(ctx.cmdTimeoutSec.SecondsOr(0) + kLockWaitGraceSec);
    switch (ctx.publication->lock().Acquire(ctx.xmlPath, wait,
                                            [] { return StopSignalReceived() != 0; })) {
        case DocumentLock::Result::Acquired:
        case DocumentLock::Result::NothingToGuard:
        case DocumentLock::Result::Stopped:  // reported below
            break;
        case DocumentLock::Result::TimedOut:
            throw Failure(-1, "Another run still writes " + ctx.xmlPath + " after " +
                                  std::to_string(wait.count()) + " s; the old document is kept");
    }
    ThrowIfStopped(ctx);
}

}  // namespace

void SubCreateBrimletXML(RunContext& ctx) noexcept {
    Msg(ctx, "Creating Brimlet xml...");
    ComponentBody body = CreateXmlBody(ctx);
    PublishDocument(ctx, body, DocumentCipher());
}

void PublishDocument(RunContext& ctx, DocumentBody& body, const Cipher& cipher) noexcept {
    int step = 80;
    try {
        if (body.Status() == BodyStatus::Failed) {
            // The query has logged why; the published document stays as it is.
            return;
        }
        if (body.Status() == BodyStatus::NoUsableRows) {
            throw Failure(-1,
                          "No xml file written: no row has a usable component type; the "
                          "old document is kept");
        }
        ThrowIfStopped(ctx);
        if (body.Status() == BodyStatus::NoRows) {
            step = 160;
            LockDocument(ctx);
            step = 40;
            if (RemoveFileIfPresent(ctx.xmlPath, "delete " + ctx.xmlPath)) {
                step = 50;
                Msg(ctx, "Deleted Old xml file");
            }
            step = 220;
            ctx.noData = true;
            Msg(ctx, "No Data available for " + ctx.osType, ctx.agentType);
            return;
        }

        step = 100;
        const std::string dateTime = DateTimeText(ctx.log.clock->Now());
        step = 110;
        const std::string head = RunDocumentHead(dateTime, ctx.purl, ctx.surl);

        step = 150;
        // Checked before any file exists, so a cipher without a key never leaves a trace.
        if (!cipher.Ready()) {
            throw Failure(-1, "Encryption failed: no key set; the old document is kept");
        }
        step = 160;
        LockDocument(ctx);
        step = 170;
        AtomicFile file(ctx.xmlPath);
        // The checksum is taken of the bytes as they go out: what the library later reads at
        // the path must be these bytes, or the file there is not this run's.
        crypto::Md5 written;
        const auto put = [&](std::string_view bytes) {
            written.Add(bytes);
            file.Write(bytes);
        };
        step = 150;
        EncryptDocument(
            cipher, head, body,
            [&](std::string_view chunk) {
                try {
                    put(chunk);
                } catch (...) {
                    throw WriteFailure{CurrentFailure()};
                }
            },
            [&ctx] { ThrowIfStopped(ctx); });
        step = 180;
        put(kDocumentEnd);
        const std::string writtenMd5 = written.Hex();

        step = 190;
        ThrowIfStopped(ctx);
        const bool replacing = EntryExists(ctx.xmlPath);
        ctx.publication->KeepPrevious();
        try {
            file.Commit();
        } catch (...) {
            ctx.publication->DropKept();
            throw;
        }
        ctx.publication->MarkReplaced();
        ctx.writtenMd5 = writtenMd5;
        if (replacing) {
            step = 50;
            Msg(ctx, "Deleted Old xml file");
        }
        step = 200;
        ctx.published = true;
        Msg(ctx, "Created new xml file", ctx.xmlPath);
    } catch (const BodyAbandoned&) {
        // The body has logged why; the temporary file goes, the old document stays.
    } catch (const WriteFailure& write) {
        WriteErrorEntry(ctx.log, kFunction, write.failure, 180);
    } catch (...) {
        WriteErrorEntry(ctx.log, kFunction, CurrentFailure(), step);
    }
}

}  // namespace brimlet
