#include "md5lib/vel_variant.h"

#include <cstdlib>
#include <cstring>

namespace velgnmd5 {

bool SetText(VelVariant* out, std::string_view text) noexcept {
    VelVariantClear(out);
    // malloc/free keep the allocation on the library's side of the boundary: the caller only
    // ever releases through VelVariantClear.
    // NOLINTNEXTLINE(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory)
    char* copy = static_cast<char*>(std::malloc(text.size() + 1));
    if (copy == nullptr) {
        return false;
    }
    if (!text.empty()) {
        std::memcpy(copy, text.data(), text.size());
    }
    copy[text.size()] = '\0';
    out->text = copy;
    out->length = text.size();
    out->type = VEL_VARIANT_TEXT;
    return true;
}

bool InputText(const VelVariant* in, std::string_view& text) noexcept {
    if (in == nullptr || in->type != VEL_VARIANT_TEXT || in->text == nullptr) {
        return false;
    }
    text = std::string_view(in->text, in->length);
    return true;
}

}  // namespace velgnmd5

extern "C" void VelVariantClear(VelVariant* value) {
    if (value == nullptr) {
        return;
    }
    if (value->type == VEL_VARIANT_TEXT) {
        // The text was allocated with malloc on the library's side of the C boundary.
        // NOLINTNEXTLINE(cppcoreguidelines-no-malloc,cppcoreguidelines-owning-memory)
        std::free(value->text);
    }
    value->type = VEL_VARIANT_EMPTY;
    value->text = nullptr;
    value->length = 0;
}
