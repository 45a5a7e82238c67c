#include "fsutil/fsutil.h"

#include <cstdint>
#include <limits>

#include "common/failure.h"
#include "common/text.h"

namespace brimlet {

namespace {

// The utilities' own error layout: every value one column to the left of an "ERR" entry's.
void WriteUtilityError(LogFile& log, const char* utility, const Failure& f) {
    WriteLog(log, utility, "ERROR", std::to_string(f.number()), f.description(), "", "");
}

}  // namespace

std::string QualifyPath(LogFile& log, std::string path) {
    try {
        if (path.empty() || path.back() != kPathSeparator) {
            path.push_back(kPathSeparator);
        }
        return path;
    } catch (...) {
        WriteUtilityError(log, "QualifyPath", CurrentFailure());
        return {};
    }
}

bool CreateDir(LogFile& log, std::string path) {
    try {
        path = QualifyPath(log, std::move(path));
        const std::vector<std::string> elements = Split(path, kPathSeparator);
        // A path always has at least two elements once qualified ("x/" gives "x" and "").
        std::string prefix = elements[0] + kPathSeparator + elements[1];
        const std::size_t highest = elements.size() - 1;
        // A 16-bit loop index overflows on its step past the highest index, so 32767 elements
        // (highest index 32766) are the most a path can have; refused before any work.
        if (highest >= static_cast<std::size_t>(std::numeric_limits<std::int16_t>::max())) {
            throw Failure(6, "Overflow");
        }
        for (std::size_t i = 2; i <= highest; ++i) {
            if (!PathExists(prefix)) {
                if (!MakeDirectory(prefix)) {
                    return false;
                }
            }
            prefix += kPathSeparator;
            prefix += elements[i];
        }
        return true;
    } catch (...) {
        WriteUtilityError(log, "CreateDir", CurrentFailure());
        return false;
    }
}

}  // namespace brimlet
