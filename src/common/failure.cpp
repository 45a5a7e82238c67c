#include "common/failure.h"

#include <new>
#include <system_error>

#include "common/text.h"

namespace brimlet {

Failure::Failure(std::int32_t number, std::string description)
    : m_number(number), m_context(description), m_description(std::move(description)) {}

Failure::Failure(std::int32_t number, std::string sqlState, std::string context,
                 std::string driverText)
    : m_number(number),
      m_sqlState(std::move(sqlState)),
      m_context(std::move(context)),
      m_driverText(std::move(driverText)),
      m_description(m_context + FlattenLine(m_driverText)) {}

Failure Failure::Behind(std::string_view prefix, std::string_view sqlState) const {
    return Failure(m_number, sqlState.empty() ? m_sqlState : std::string(sqlState),
                   std::string(prefix) + m_context, m_driverText);
}

Failure CurrentFailure() noexcept {
    try {
        throw;
    } catch (const Failure& f) {
        return f;
    } catch (const std::bad_alloc&) {
        return Failure(kErrOutOfMemory, "Out of memory");
    } catch (const std::system_error& e) {
        return Failure(e.code().value(), e.what());
    } catch (const std::exception& e) {
        return Failure(kErrInternal, e.what());
    } catch (...) {
        return Failure(kErrInternal, "Unknown failure");
    }
}

}  // namespace brimlet
