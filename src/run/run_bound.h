#pragma once
// The run's hard bound: what its steps may take together, for the watchdog's LimitRun.
#include <cstdint>

namespace brimlet {

// What a run with both time-outs set may take beyond conntimeoutsec + 3 x cmdtimeoutsec
// (query, checksum, disconnect) and the wait for the document's lock: the 2 s pause, the grace
// of each of the four calls and the program's own work on the document.
inline constexpr std::int32_t kRunBoundMarginSec = 30;
// The wait for the document's lock beyond cmdtimeoutsec: the holder's checksum call may take
// its whole time-out, then it settles its document.
inline constexpr std::int32_t kLockWaitGraceSec = 5;

// conntimeoutsec + 3 x cmdtimeoutsec + (cmdtimeoutsec + kLockWaitGraceSec) +
// kRunBoundMarginSec, or 0 (no bound) when either is 0.
constexpr std::int32_t RunBoundSeconds(std::int32_t connTimeout, std::int32_t cmdTimeout) {
    if (connTimeout <= 0 || cmdTimeout <= 0) {
        return 0;
    }
    const std::int64_t bound = std::int64_t{connTimeout} + std::int64_t{4} * cmdTimeout +
                               kLockWaitGraceSec + std::int64_t{kRunBoundMarginSec};
    return bound > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(bound);
}

}  // namespace brimlet
