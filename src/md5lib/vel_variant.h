#pragma once
// Library-side helpers for VelVariant outputs; shared by every build of the library.
#include <string_view>

#include "md5lib/velgnmd5.h"

namespace velgnmd5 {

// Replaces the output's content by a copy of `text`. False when memory ran out; the output
// is then empty.
bool SetText(VelVariant* out, std::string_view text) noexcept;

// The text of an input variant, or false when it is missing, not text, or malformed.
bool InputText(const VelVariant* in, std::string_view& text) noexcept;

}  // namespace velgnmd5
