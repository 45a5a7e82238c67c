#include <windows.h>

#include "xml/case_fold.h"

namespace brimlet {

char32_t LowerCodePoint(char32_t cp) {
    // As UTF-16: one unit, or a surrogate pair beyond the BMP.
    wchar_t in[2];
    int units = 1;
    if (cp >= 0x10000) {
        in[0] = static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10));
        in[1] = static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
        units = 2;
    } else {
        in[0] = static_cast<wchar_t>(cp);
    }
    wchar_t out[4];
    const int n = LCMapStringEx(LOCALE_NAME_INVARIANT, LCMAP_LOWERCASE, in, units, out, 4, nullptr,
                                nullptr, 0);
    char32_t lower = cp;
    if (n == 1 && (out[0] < 0xD800 || out[0] > 0xDFFF)) {
        lower = out[0];
    } else if (n == 2 && out[0] >= 0xD800 && out[0] <= 0xDBFF && out[1] >= 0xDC00 &&
               out[1] <= 0xDFFF) {
        lower = 0x10000 + ((static_cast<char32_t>(out[0]) - 0xD800) << 10) +
                (static_cast<char32_t>(out[1]) - 0xDC00);
    }
    return lower;
}

}  // namespace brimlet
