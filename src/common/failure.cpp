#include "common/failure.h"

#include <cstring>
#include <new>
#include <system_error>

namespace brimlet {

Failure ErrnoFailure(int err) {
    return Failure(err, std::strerror(err));
}

Failure ErrnoFailure(int err, const std::string& context) {
    return Failure(err, context + ": " + std::strerror(err));
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
