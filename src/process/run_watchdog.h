#pragma once
// The last resort that makes every run end: a database step that outlives its limit by more
// than a short grace, or a run that outlives its hard bound, gets its ERR entry and the
// process ends with status 1 at once. The kernel then drops the connection, and the unnamed
// temporary document vanishes with the process, so the published document stays as it was.
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "log/log.h"

namespace brimlet {

// Time a database call may take beyond its limit before the run is ended: the database layer
// cancels half a second after the limit, and a cancel that works gives the call back well
// within the rest.
inline constexpr std::chrono::milliseconds kStallGrace{2000};

class RunWatchdog {
  public:
    struct Impl;

    // The run's clock starts here.
    RunWatchdog();
    ~RunWatchdog();
    RunWatchdog(RunWatchdog&&) noexcept;
    RunWatchdog& operator=(RunWatchdog&&) noexcept;
    RunWatchdog(const RunWatchdog&) = delete;
    RunWatchdog& operator=(const RunWatchdog&) = delete;

    // One database step under watch; leaving the scope ends the watch.
    class Step {
      public:
        Step() = default;
        ~Step();
        Step(Step&& other) noexcept;
        Step& operator=(Step&&) = delete;
        Step(const Step&) = delete;
        Step& operator=(const Step&) = delete;

      private:
        friend class RunWatchdog;
        Step(Impl* owner, std::uint64_t id) : m_owner(owner), m_id(id) {}
        Impl* m_owner = nullptr;
        std::uint64_t m_id = 0;
    };

    // Watches a database step of `function` with a limit of `limitSeconds` (0: none, nothing
    // watched). When the step is still running kStallGrace after its limit, writes
    // ("modMain", function, "ERR", -1, description, step) to `log` and ends the process with
    // status 1. The log's state is copied now.
    [[nodiscard]] Step Arm(const LogFile& log, std::string_view function, int step,
                           std::int32_t limitSeconds, std::string description);
    // Watches a step that has no limit for a stop signal: when one arrives, writes
    // ("modMain", function, "ERR", -1, StopSignalText, step) and ends the process with
    // status 1 as above (what cancels a call without a time-out at once).
    [[nodiscard]] Step ArmForStop(const LogFile& log, std::string_view function, int step);

    // Runs before the process is ended (with the log as the watchdog writes it), so that the
    // run can undo what it must not leave; nullptr: nothing. The hook may run on the
    // watchdog's thread while the run's thread is stuck.
    void SetExitHook(std::function<void(LogFile&)> hook);

    // Bounds the whole run to `seconds` from the watchdog's start (0: no bound). When the
    // bound passes, the ERR entry goes to the step watched then, or else to `function` at the
    // step last given to SetStep, and the process ends with status 1.
    void LimitRun(const LogFile& log, std::string_view function, std::int32_t seconds);
    // The step of the run-level function, for the entry of an exceeded bound.
    void SetStep(int step) noexcept;

  private:
    std::unique_ptr<Impl> m_impl;
};

// A guarded procedure's step number that the watchdog also sees: `step = 20;` as with a plain
// int, and it reads as one for WriteErrorEntry.
class WatchedStep {
  public:
    WatchedStep(RunWatchdog& watchdog, int step) : m_watchdog(watchdog), m_step(step) {
        m_watchdog.SetStep(step);
    }
    WatchedStep& operator=(int step) noexcept {
        m_step = step;
        m_watchdog.SetStep(step);
        return *this;
    }
    operator int() const noexcept { return m_step; }  // NOLINT(google-explicit-constructor)

  private:
    RunWatchdog& m_watchdog;
    int m_step;
};

}  // namespace brimlet
