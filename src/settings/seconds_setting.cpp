#include "common/integer.h"
#include "settings/settings.h"

namespace brimlet {

SecondsSetting::SecondsSetting(std::string text) : m_text(std::move(text)) {
    try {
        m_seconds = ParseInt32(m_text);
    } catch (const Failure& failure) {
        m_error = failure;
    }
}

std::int32_t SecondsSetting::Seconds() const {
    if (!m_seconds) {
        throw *m_error;
    }
    return *m_seconds;
}

std::int32_t SecondsSetting::SecondsOr(std::int32_t fallback) const noexcept {
    return m_seconds.value_or(fallback);
}

}  // namespace brimlet
