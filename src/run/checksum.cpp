#include "run/checksum.h"

#include "common/failure.h"
#include "common/text.h"
#include "log/log.h"

namespace brimlet {

namespace {
constexpr std::string_view kModule = "modMain";
constexpr std::string_view kFunction = "Checksum";
}  // namespace

// This procedure's error entry carries no step number, so no step is tracked.
std::string Checksum(RunContext& ctx, Md5Library& library, const std::string& filePath,
                     std::string& errorText) {
    try {
        WriteLog(ctx.log, kModule, kFunction, "MSG", "Getting MD5 checksum of : " + filePath, "",
                 "");

        // The same outputs for both calls on purpose: whatever the first call left in them
        // stays visible.
        Md5Outputs outputs;
        if (!library.GetMD5(filePath, outputs)) {
            const std::string blockSize = "32";
            if (!library.GetMD5WBlock(filePath, blockSize, outputs)) {
                WriteLog(ctx.log, kModule, kFunction, "MSG",
                         "Failed to Get MD5 check Sum for File " + filePath +
                             " Error = " + std::string(TrimSpaces(outputs.ErrorText())) + " with " +
                             blockSize + " KB Block Size",
                         "", "");
            }
        }

        std::string result = ToUpperAscii(TrimSpaces(outputs.ChecksumText()));
        WriteLog(ctx.log, kModule, kFunction, "MSG", "FileMD5CheckSum : " + result, "", "");
        return result;
    } catch (...) {
        const Failure failure = CurrentFailure();
        const std::string number = std::to_string(failure.number());
        const std::string& description = failure.description();
        WriteLog(ctx.log, kModule, kFunction, "ERR",
                 number + " (" + description + ") in procedure Checksum of Module", "", "");
        if (!library.Refusal().empty()) {
            WriteStderrLine(ctx.log, Severity::kError, library.Refusal());
        }
        if (number == "53" && EqualsIgnoreCaseAscii(description, kMd5LibraryMissing)) {
            errorText = std::string(kMd5LibraryMissing);
        }
        return {};
    }
}

}  // namespace brimlet
