#include "common/code_page.h"

namespace brimlet {

// POSIX text is UTF-8 end to end: files, paths and settings are bytes handed on unchanged.
std::string Utf8FromAnsi(std::string_view text) {
    return std::string(text);
}

std::string AnsiFromUtf8(std::string_view text) {
    return std::string(text);
}

}  // namespace brimlet
