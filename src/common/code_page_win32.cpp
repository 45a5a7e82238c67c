#include "common/code_page.h"

#include "common/code_page_win32.h"

namespace brimlet {

std::string Utf8FromAnsi(std::string_view text) {
    return NarrowFrom(CP_UTF8, WideFromAnsi(text));
}

std::string AnsiFromUtf8(std::string_view text) {
    return AnsiFromWide(WideFrom(CP_UTF8, text));
}

}  // namespace brimlet
