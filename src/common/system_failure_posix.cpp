#include <cstring>

#include "common/system_failure.h"

namespace brimlet {

Failure ErrnoFailure(int err, const std::string& context) {
    return Failure(err, context + ": " + std::strerror(err));
}

}  // namespace brimlet
