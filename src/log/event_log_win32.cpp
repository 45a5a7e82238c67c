#include "log/event_log_win32.h"

#include <windows.h>

#include <memory>
#include <string>
#include <type_traits>

#include "common/code_page_win32.h"
#include "event_messages.h"

namespace brimlet {

namespace {

constexpr std::string_view kSourceName = "brimlet";
constexpr std::string_view kPrefixStart = "brimlet[";
constexpr std::string_view kPrefixEnd = "]: ";

struct EventSourceCloser {
    void operator()(HANDLE source) const { (void)DeregisterEventSource(source); }
};
using EventSource = std::unique_ptr<std::remove_pointer_t<HANDLE>, EventSourceCloser>;

WORD EventType(Severity severity) {
    switch (severity) {
        case Severity::kError:
            return EVENTLOG_ERROR_TYPE;
        case Severity::kWarning:
            return EVENTLOG_WARNING_TYPE;
        case Severity::kNotice:
            break;
    }
    return EVENTLOG_INFORMATION_TYPE;
}

}  // namespace

void ReportToEventLog(std::string_view line, Severity severity) noexcept {
    try {
        if (!line.empty() && line.back() == '\n') {
            line.remove_suffix(1);
        }
        // The link's name from the stderr prefix; a line without one (a refused name) is the
        // program's own.
        std::string_view name = kSourceName;
        std::string_view text = line;
        if (line.starts_with(kPrefixStart)) {
            const std::size_t end = line.find(kPrefixEnd, kPrefixStart.size());
            if (end != std::string_view::npos) {
                name = line.substr(kPrefixStart.size(), end - kPrefixStart.size());
                text = line.substr(end + kPrefixEnd.size());
            }
        }
        const std::wstring strings[] = {WideFromAnsi(name), WideFromAnsi(text)};
        LPCWSTR pointers[] = {strings[0].c_str(), strings[1].c_str()};
        // Registered or not, the source is accepted: Event Viewer then shows the strings
        // without the message DLL's text.
        const EventSource source(RegisterEventSourceW(nullptr, L"brimlet"));
        if (!source) {
            return;
        }
        (void)ReportEventW(source.get(), EventType(severity), 0, BRIMLET_EVENT_REPORT_LINE, nullptr,
                           2, 0, pointers, nullptr);
    } catch (...) {
        // The event log is a courtesy beside stderr and the log file.
    }
}

}  // namespace brimlet
