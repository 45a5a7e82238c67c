#include "md5lib/velgnmd5_win32.h"

#include <new>
#include <optional>
#include <string>
#include <string_view>

#include "md5lib/md5_file.h"

namespace velgnmd5 {
namespace {

// The text an argument holds: a BSTR, or a reference to one.
const BSTR* TextOf(const VARIANT& v) {
    if (v.vt == VT_BSTR) {
        return &v.bstrVal;
    }
    if (v.vt == (VT_BSTR | VT_BYREF)) {
        return v.pbstrVal;
    }
    return nullptr;
}

// `text` in the ANSI code page, where the library's file names and messages live. When `exact`,
// false if a character has no form there: a best-fit stand-in could name another file.
bool ToAnsi(BSTR text, bool exact, std::string& out) {
    out.clear();
    const int len = static_cast<int>(SysStringLen(text));
    if (len == 0) {
        return true;
    }
    const UINT cp = GetACP();
    // UTF-8 has a form for every character and takes neither the flag nor the question.
    const bool utf8 = cp == CP_UTF8;
    const DWORD flags = exact && !utf8 ? WC_NO_BEST_FIT_CHARS : 0;
    BOOL lossy = FALSE;
    BOOL* ask = exact && !utf8 ? &lossy : nullptr;
    const int n = WideCharToMultiByte(cp, flags, text, len, nullptr, 0, nullptr, ask);
    if (n <= 0 || lossy) {
        return false;
    }
    out.assign(static_cast<std::size_t>(n), '\0');
    return WideCharToMultiByte(cp, flags, text, len, out.data(), n, nullptr, ask) == n && !lossy;
}

// Replaces the output's content by `text` (ANSI) as a BSTR. False when memory ran out; the
// output is then empty.
bool SetText(VARIANT* out, std::string_view text) noexcept {
    VariantClear(out);
    const int len = static_cast<int>(text.size());
    const int n = len == 0 ? 0 : MultiByteToWideChar(CP_ACP, 0, text.data(), len, nullptr, 0);
    const BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(n));
    if (bstr == nullptr) {
        return false;
    }
    if (n > 0) {
        MultiByteToWideChar(CP_ACP, 0, text.data(), len, bstr, n);
    }
    out->vt = VT_BSTR;
    out->bstrVal = bstr;
    return true;
}

// Writes the outcome into the outputs; the result convention of the API.
SHORT Deliver(const Outcome& o, VARIANT* checksumOut, VARIANT* spareOut,
              VARIANT* errorOut) noexcept {
    if (!o.ok) {
        SetText(errorOut, o.error);
        return 0;
    }
    const std::string size = std::to_string(o.size);
    if (!SetText(checksumOut, o.checksum) || !SetText(spareOut, size)) {
        SetText(errorOut, "Out of memory");
        return 0;
    }
    VariantClear(errorOut);
    return 1;
}

SHORT Run(const VARIANT& filePath, const VARIANT* blockSizeKB, VARIANT* checksumOut,
          VARIANT* spareOut, VARIANT* errorOut) noexcept {
    if (checksumOut == nullptr || spareOut == nullptr || errorOut == nullptr) {
        if (errorOut != nullptr) {
            SetText(errorOut, "An output argument is missing");
        }
        return 0;
    }
    try {
        const BSTR* pathText = TextOf(filePath);
        if (pathText == nullptr) {
            return Deliver(Fail("File path is not text"), checksumOut, spareOut, errorOut);
        }
        std::string path;
        if (!ToAnsi(*pathText, true, path)) {
            return Deliver(Fail("File path has a character outside the ANSI code page"),
                           checksumOut, spareOut, errorOut);
        }
        std::string sizeText;
        if (blockSizeKB != nullptr) {
            const BSTR* text = TextOf(*blockSizeKB);
            if (text == nullptr) {
                return Deliver(Fail("Block size is not text"), checksumOut, spareOut, errorOut);
            }
            // Anything but digits is refused with its text, so a stand-in character will do.
            ToAnsi(*text, false, sizeText);
        }
        const std::optional<std::string_view> kb =
            blockSizeKB != nullptr ? std::optional<std::string_view>(sizeText) : std::nullopt;
        return Deliver(Compute(path, kb), checksumOut, spareOut, errorOut);
    } catch (const std::bad_alloc&) {
        SetText(errorOut, "Out of memory");
    } catch (...) {
        SetText(errorOut, "Unexpected failure");
    }
    return 0;
}

}  // namespace
}  // namespace velgnmd5

extern "C" SHORT WINAPI VelGetMD5(VARIANT filePath, VARIANT* checksumOut, VARIANT* spareOut,
                                  VARIANT* errorOut) {
    return velgnmd5::Run(filePath, nullptr, checksumOut, spareOut, errorOut);
}

extern "C" SHORT WINAPI VelGetMD5WBlock(VARIANT filePath, VARIANT blockSizeKB, VARIANT* checksumOut,
                                        VARIANT* spareOut, VARIANT* errorOut) {
    return velgnmd5::Run(filePath, &blockSizeKB, checksumOut, spareOut, errorOut);
}
