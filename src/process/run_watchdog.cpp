#include "process/run_watchdog.h"

#include <algorithm>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "process/process.h"
#include "process/stop_signals.h"

namespace brimlet {

namespace {

using SteadyClock = std::chrono::steady_clock;

// What the watchdog writes when a deadline passes; copied in full when armed, so the thread
// shares nothing with the run but this object's own state.
struct Deadline {
    std::uint64_t id = 0;
    SteadyClock::time_point at;
    LogFile log;
    std::string function;
    int step = 0;
    std::string description;
    bool onStop = false;  // no limit: ends on a stop signal
};

constexpr auto kStopPoll = std::chrono::milliseconds(50);

}  // namespace

struct RunWatchdog::Impl {
    const SteadyClock::time_point start = SteadyClock::now();
    std::mutex mutex;
    std::condition_variable wake;
    std::vector<Deadline> steps;  // innermost last
    std::optional<Deadline> run;
    std::uint64_t nextId = 1;
    bool stop = false;
    std::atomic<int> runStep{0};
    std::function<void(LogFile&)> exitHook;
    std::thread thread;

    // Registers an innermost step; returns its id.
    std::uint64_t Push(Deadline d) {
        std::uint64_t id = 0;
        {
            const std::lock_guard lock(mutex);
            id = d.id = nextId++;
            steps.push_back(std::move(d));
            StartLocked();
        }
        wake.notify_one();
        return id;
    }

    void StartLocked() {
        if (!thread.joinable()) {
            thread = std::thread([this] { Loop(); });
        }
    }

    void Loop() {
        std::unique_lock lock(mutex);
        while (!stop) {
            SteadyClock::time_point next = SteadyClock::time_point::max();
            const int sig = StopSignalReceived();
            for (const Deadline& d : steps) {
                next = std::min(next, d.onStop && sig != 0 ? SteadyClock::now() : d.at);
            }
            if (run) {
                next = std::min(next, run->at);
            }
            // A signal handler cannot wake a condition variable, so a step watched for a stop
            // signal is looked at every kStopPoll.
            const bool watchingStop =
                std::any_of(steps.begin(), steps.end(), [](const Deadline& d) { return d.onStop; });
            if (next == SteadyClock::time_point::max() && !watchingStop) {
                wake.wait(lock);
                continue;
            }
            if (SteadyClock::now() < next) {
                wake.wait_until(
                    lock, watchingStop ? std::min(next, SteadyClock::now() + kStopPoll) : next);
                continue;
            }
            Deadline entry;
            for (const Deadline& d : steps) {
                if (d.onStop ? sig != 0 : d.at <= next) {
                    entry = d;
                    if (d.onStop) {
                        entry.description = StopSignalText(sig);
                    }
                    break;
                }
            }
            if (entry.id == 0) {
                // The bound passed: the entry belongs to the step running now.
                entry = *run;
                if (!steps.empty()) {
                    entry.function = steps.back().function;
                    entry.step = steps.back().step;
                } else {
                    entry.step = runStep.load();
                }
            }
            const std::function<void(LogFile&)> hook = exitHook;
            lock.unlock();
            WriteErrorEntry(entry.log, entry.function, Failure(-1, entry.description), entry.step);
            if (hook) {
                hook(entry.log);
            }
            ReportRunFailed(entry.log, 1);
            // No unwinding: the main thread is stuck in a driver, and nothing it holds may be
            // released under it. The kernel closes the connection and drops the unnamed
            // temporary document.
            EndProcessNow(1);
        }
    }

    void Disarm(std::uint64_t id) noexcept {
        const std::lock_guard lock(mutex);
        for (auto it = steps.begin(); it != steps.end(); ++it) {
            if (it->id == id) {
                steps.erase(it);
                break;
            }
        }
    }
};

RunWatchdog::RunWatchdog() : m_impl(std::make_unique<Impl>()) {}

RunWatchdog::~RunWatchdog() {
    if (!m_impl) {
        return;
    }
    {
        const std::lock_guard lock(m_impl->mutex);
        m_impl->stop = true;
    }
    m_impl->wake.notify_one();
    if (m_impl->thread.joinable()) {
        m_impl->thread.join();
    }
}

RunWatchdog::RunWatchdog(RunWatchdog&&) noexcept = default;
RunWatchdog& RunWatchdog::operator=(RunWatchdog&&) noexcept = default;

RunWatchdog::Step::~Step() {
    if (m_owner != nullptr) {
        m_owner->Disarm(m_id);
    }
}

RunWatchdog::Step::Step(Step&& other) noexcept : m_owner(other.m_owner), m_id(other.m_id) {
    other.m_owner = nullptr;
}

RunWatchdog::Step RunWatchdog::Arm(const LogFile& log, std::string_view function, int step,
                                   std::int32_t limitSeconds, std::string description) {
    if (limitSeconds <= 0) {
        return Step();
    }
    Deadline d;
    d.at = SteadyClock::now() + std::chrono::seconds(limitSeconds) + kStallGrace;
    d.log = log;
    d.function = std::string(function);
    d.step = step;
    d.description = std::move(description);
    return Step(m_impl.get(), m_impl->Push(std::move(d)));
}

RunWatchdog::Step RunWatchdog::ArmForStop(const LogFile& log, std::string_view function, int step) {
    Deadline d;
    d.at = SteadyClock::time_point::max();
    d.log = log;
    d.function = std::string(function);
    d.step = step;
    d.onStop = true;
    return Step(m_impl.get(), m_impl->Push(std::move(d)));
}

void RunWatchdog::SetExitHook(std::function<void(LogFile&)> hook) {
    const std::lock_guard lock(m_impl->mutex);
    m_impl->exitHook = std::move(hook);
}

void RunWatchdog::LimitRun(const LogFile& log, std::string_view function, std::int32_t seconds) {
    if (seconds <= 0) {
        return;
    }
    Deadline d;
    d.id = 0;
    d.at = m_impl->start + std::chrono::seconds(seconds);
    d.log = log;
    d.function = std::string(function);
    d.description = "Run time limit of " + std::to_string(seconds) + " s exceeded";
    {
        const std::lock_guard lock(m_impl->mutex);
        m_impl->run = std::move(d);
        m_impl->StartLocked();
    }
    m_impl->wake.notify_one();
}

void RunWatchdog::SetStep(int step) noexcept {
    m_impl->runStep.store(step);
}

}  // namespace brimlet
