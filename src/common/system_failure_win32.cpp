#include <windows.h>

#include <cstdint>

#include "common/handle_win32.h"
#include "common/system_failure.h"

namespace brimlet {

Failure SystemFailure(unsigned long code, const std::string& context) {
    return Failure(static_cast<std::int32_t>(code), context + ": " + SystemErrorText(code));
}

}  // namespace brimlet
