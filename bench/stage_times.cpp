// Stage timings of one run, through the program's own libraries and settings file:
//
//   brimlet_stage_times EXE_DIR EXE_NAME
//
// EXE_DIR holds Ini/dbstring.Ini, Log/ and libVelGnMD5.so as beside the program; EXE_NAME is
// the name the program would be invoked by (prefix_AGENT_OS). Each stage is printed as
// "<stage> <seconds> <peak RSS KiB> <current RSS KiB>". The fetch runs twice (once alone, once
// inside the body procedure), so "sort and body" is the body procedure less the lone fetch;
// encryption runs twice (once into nothing, once streamed into the file), so "write" is the
// publication less the lone encryption.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "cipher/cipher.h"
#include "common/clock.h"
#include "common/integer.h"
#include "common/text.h"
#include "db/odbc.h"
#include "fsutil/fsutil.h"
#include "held_body.h"
#include "log/log.h"
#include "run/checksum.h"
#include "run/checksum_update.h"
#include "run/component_query.h"
#include "run/connection_procs.h"
#include "run/publisher.h"
#include "run/run_context.h"

namespace {

using Seconds = std::chrono::duration<double>;

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long CurrentRssKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) {
            return std::stol(line.substr(6));
        }
    }
    return -1;
}

class Stopwatch {
  public:
    double Lap() {
        const auto now = std::chrono::steady_clock::now();
        const double s = Seconds(now - m_start).count();
        m_start = now;
        return s;
    }

  private:
    std::chrono::steady_clock::time_point m_start = std::chrono::steady_clock::now();
};

void Report(const char* stage, double seconds) {
    std::printf("%s %.4f %ld %ld\n", stage, seconds, PeakRssKiB(), CurrentRssKiB());
    std::fflush(stdout);
}

int Run(const std::string& exeDir, const std::string& exeName) {
    brimlet::RunContext ctx;
    ctx.log.exeDir = exeDir;
    ctx.log.exeName = exeName;
    (void)brimlet::CreateDir(ctx.log, exeDir + "/Log/");
    brimlet::InitLogFile(ctx.log);
    const auto parts = brimlet::Split(exeName, '_');
    if (parts.size() != 3) {
        std::fprintf(stderr, "EXE_NAME must be prefix_AGENT_OS\n");
        return 2;
    }
    ctx.agentType = parts[1];
    ctx.osType = parts[2];
    ctx.iniPath = exeDir + "/Ini/dbstring.Ini";

    Stopwatch watch;
    if (!brimlet::OpenConnection(ctx)) {
        std::fprintf(stderr, "no connection; see the log in %s/Log\n", exeDir.c_str());
        return 1;
    }
    ctx.xmlPath =
        ctx.srvPath + ctx.agentType + "/Brimlet_" + ctx.agentType + "_" + ctx.osType + ".xml";
    Report("connect", watch.Lap());

    {
        brimlet::db::Command command;
        command.SetActiveConnection(*ctx.connection);
        command.SetCommandText("USP_AgentComponent_Details");
        command.SetCommandTimeout(ctx.cmdTimeoutSec.Seconds());
        command.AppendParameter("@InOSType", brimlet::db::ParamType::VarChar,
                                brimlet::db::ParamDirection::Input, 50, ctx.osType);
        command.AppendParameter("@InAgentType", brimlet::db::ParamType::VarChar,
                                brimlet::db::ParamDirection::Input, 10, ctx.agentType);
        brimlet::db::RecordSet rows = command.Execute();
        const double fetch = watch.Lap();
        std::printf("rows %zu\n", rows.IsOpen() ? rows.RowCount() : std::size_t{0});
        Report("fetch", fetch);
        rows.Close();
    }
    watch.Lap();

    brimlet::ComponentBody produced = brimlet::CreateXmlBody(ctx);
    // The program streams the body into the cipher; held whole here so that building it and
    // encrypting it can be timed apart (this driver's memory is therefore not the program's).
    std::string body;
    if (produced.Status() == brimlet::BodyStatus::Rows) {
        body.reserve(produced.SizeHint());
        produced.WriteTo([&body](std::string_view piece) { body.append(piece); }, [] {});
    }
    Report("fetch_sort_body", watch.Lap());
    if (produced.Status() != brimlet::BodyStatus::Rows) {
        std::fprintf(stderr, "the body procedure gave no rows; see the log\n");
        return 1;
    }

    const std::string head =
        brimlet::DocumentHead(brimlet::DateTimeText(ctx.log.clock->Now()), ctx.purl, ctx.surl);
    Report("document", watch.Lap());
    std::printf("plain_bytes %zu\n", head.size() + body.size() + brimlet::kDocumentTail.size());

    const brimlet::Cipher cipher = brimlet::DocumentCipher();
    std::size_t encoded = 0;
    cipher.EncryptTo({head, body, brimlet::kDocumentTail},
                     [&encoded](std::string_view chunk) { encoded += chunk.size(); });
    Report("encryption", watch.Lap());
    std::printf("encrypted_bytes %zu\n", encoded);

    HeldBody held(body);
    ctx.publication = std::make_shared<brimlet::Publication>(ctx.xmlPath);
    brimlet::PublishDocument(ctx, held, cipher);
    Report("encryption_write", watch.Lap());
    if (!ctx.published) {
        std::fprintf(stderr, "the document was not published; see the log\n");
        return 1;
    }

    brimlet::Md5Library md5(ctx.log.exeDir);
    std::string errorText;
    const std::string checksum = brimlet::Checksum(ctx, md5, ctx.xmlPath, errorText);
    Report("hash", watch.Lap());
    std::printf("checksum %s\n", checksum.c_str());

    brimlet::SubUpdateXmlCheckSum(ctx, md5);
    Report("hash_update", watch.Lap());
    brimlet::CloseConnection(ctx);
    Report("close", watch.Lap());
    return ctx.checksumAccepted && ctx.log.errEntries == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s EXE_DIR EXE_NAME\n", argv[0]);
        return 2;
    }
    try {
        return Run(argv[1], argv[2]);
    } catch (...) {
        const brimlet::Failure failure = brimlet::CurrentFailure();
        std::fprintf(stderr, "failure %d: %s\n", failure.number(), failure.description().c_str());
        return 1;
    }
}
