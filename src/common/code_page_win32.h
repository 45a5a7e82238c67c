#pragma once
// UTF-16 to and from the ANSI code page and UTF-8, for the places where the program's text
// meets a wide interface (ODBC's W calls, the console). Header-only, beside handle_win32.h.
#include <windows.h>

#include <string>
#include <string_view>

namespace brimlet {

// `text` in code page `codePage` as UTF-16. Bytes that are not valid there become U+FFFD.
inline std::wstring WideFrom(UINT codePage, std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        (void)MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                  wide.data(), length);
    }
    return wide;
}

// UTF-16 in code page `codePage`. For the ANSI code page, a character it lacks becomes its best
// fit (the default of WideCharToMultiByte) or the code page's default character, "?".
inline std::string NarrowFrom(UINT codePage, std::wstring_view wide) {
    if (wide.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        (void)WideCharToMultiByte(codePage, 0, wide.data(), static_cast<int>(wide.size()),
                                  text.data(), length, nullptr, nullptr);
    }
    return text;
}

inline std::wstring WideFromAnsi(std::string_view text) {
    return WideFrom(CP_ACP, text);
}

inline std::string AnsiFromWide(std::wstring_view wide) {
    return NarrowFrom(CP_ACP, wide);
}

}  // namespace brimlet
