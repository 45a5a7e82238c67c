#include <locale.h>
#include <wctype.h>

#include "xml/case_fold.h"

namespace brimlet {

namespace {

// Case mapping of glibc's built-in C.UTF-8 locale, held apart from the process locale.
class CaseLocale {
  public:
    CaseLocale() : m_locale(::newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{})) {}
    ~CaseLocale() {
        if (m_locale != locale_t{}) {
            ::freelocale(m_locale);
        }
    }
    CaseLocale(const CaseLocale&) = delete;
    CaseLocale& operator=(const CaseLocale&) = delete;

    char32_t Lower(char32_t cp) const {
        if (m_locale == locale_t{}) {
            return cp;
        }
        const wint_t lower = ::towlower_l(static_cast<wint_t>(cp), m_locale);
        // Only a valid scalar value may come back into the key.
        return (lower > 0x10FFFF || (lower >= 0xD800 && lower <= 0xDFFF))
                   ? cp
                   : static_cast<char32_t>(lower);
    }

  private:
    locale_t m_locale;
};

}  // namespace

char32_t LowerCodePoint(char32_t cp) {
    static const CaseLocale kCase;
    return kCase.Lower(cp);
}

}  // namespace brimlet
