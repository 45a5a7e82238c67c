#include "document/xml_body.h"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "common/text.h"

namespace brimlet {

namespace {

constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at s[i] and its code point; 0 when invalid.
std::size_t DecodeUtf8(std::string_view s, std::size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    std::size_t len = 0;
    char32_t min = 0;
    if (b0 < 0x80) {
        cp = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        len = 2;
        cp = b0 & 0x1F;
        min = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        len = 3;
        cp = b0 & 0x0F;
        min = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        len = 4;
        cp = b0 & 0x07;
        min = 0x10000;
    } else {
        return 0;
    }
    if (i + len > s.size()) {
        return 0;
    }
    for (std::size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

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
        if (cp < 0x80) {
            return (cp >= 'A' && cp <= 'Z') ? cp + ('a' - 'A') : cp;
        }
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

bool IsXmlChar(char32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

bool IsNameStartChar(char32_t c) {
    return (c >= 'A' && c <= 'Z') || c == '_' || (c >= 'a' && c <= 'z') ||
           (c >= 0xC0 && c <= 0xD6) || (c >= 0xD8 && c <= 0xF6) || (c >= 0xF8 && c <= 0x2FF) ||
           (c >= 0x370 && c <= 0x37D) || (c >= 0x37F && c <= 0x1FFF) ||
           (c >= 0x200C && c <= 0x200D) || (c >= 0x2070 && c <= 0x218F) ||
           (c >= 0x2C00 && c <= 0x2FEF) || (c >= 0x3001 && c <= 0xD7FF) ||
           (c >= 0xF900 && c <= 0xFDCF) || (c >= 0xFDF0 && c <= 0xFFFD) ||
           (c >= 0x10000 && c <= 0xEFFFF);
}

bool IsNameChar(char32_t c) {
    return IsNameStartChar(c) || c == '-' || c == '.' || (c >= '0' && c <= '9') || c == 0xB7 ||
           (c >= 0x300 && c <= 0x36F) || (c >= 0x203F && c <= 0x2040);
}

enum class Context { Attribute, CData };

// Bytes copied as they stand: printable ASCII, TAB, LF and CR, less the context's specials.
template <Context kContext>
constexpr std::array<bool, 256> PlainBytes() {
    std::array<bool, 256> plain{};
    for (std::size_t b = 0x20; b < 0x80; ++b) {
        plain[b] = true;
    }
    plain['\t'] = plain['\n'] = plain['\r'] = true;
    if constexpr (kContext == Context::Attribute) {
        plain['&'] = plain['<'] = plain['>'] = plain['"'] = false;
    } else {
        plain['>'] = false;
    }
    return plain;
}

template <Context kContext>
void AppendSanitized(std::string& out, std::string_view value) {
    static constexpr std::array<bool, 256> kPlain = PlainBytes<kContext>();
    const std::size_t n = value.size();
    std::size_t runStart = 0;
    std::size_t i = 0;
    for (;;) {
        // Most values are plain throughout: one table look-up per byte, one append per run.
        while (i < n && kPlain[static_cast<unsigned char>(value[i])]) {
            ++i;
        }
        out.append(value.data() + runStart, i - runStart);
        if (i == n) {
            return;
        }
        const auto b = static_cast<unsigned char>(value[i]);
        if (b >= 0x20 && b < 0x80) {
            if constexpr (kContext == Context::Attribute) {
                switch (b) {
                    case '&':
                        out.append("&amp;");
                        break;
                    case '<':
                        out.append("&lt;");
                        break;
                    case '>':
                        out.append("&gt;");
                        break;
                    default:
                        out.append("&quot;");
                        break;
                }
            } else {
                // Checked on the output, so "]]" + dropped character + ">" cannot slip through.
                if (out.size() >= 2 && out.compare(out.size() - 2, 2, "]]") == 0) {
                    out.append("]]><![CDATA[>");
                } else {
                    out.push_back('>');
                }
            }
            i += 1;
        } else if (b < 0x80) {
            // A control character XML 1.0 does not allow: left out.
            i += 1;
        } else {
            char32_t cp = 0;
            const std::size_t len = DecodeUtf8(value, i, cp);
            if (len == 0) {
                out.append(kReplacementChar);
                i += 1;
            } else {
                if (IsXmlChar(cp)) {
                    out.append(value.data() + i, len);
                }
                i += len;
            }
        }
        runStart = i;
    }
}

constexpr std::string_view kRowFixed =
    " name=\"\" version=\"\" agentversion=\"\" state=\"\" path=\"\" isregrequired=\"0\">"
    "<md5checksum><![CDATA[]]></md5checksum><description><![CDATA[]]></description>"
    "<dependencychk><![CDATA[]]></dependencychk><></>";

}  // namespace

std::string TypeKey(std::string_view type) {
    const std::string_view trimmed = TrimSpaces(type);
    if (std::all_of(trimmed.begin(), trimmed.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        return ToLowerAscii(trimmed);
    }
    // Unicode case folding, the same under every locale a run may be started with: "Äpp"
    // and "äpp" must form one group. Bytes that are not valid UTF-8 are kept as they are.
    static const CaseLocale kCase;
    std::string key;
    key.reserve(trimmed.size());
    for (std::size_t i = 0; i < trimmed.size();) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(trimmed, i, cp);
        if (len == 0) {
            key.push_back(trimmed[i]);
            i += 1;
            continue;
        }
        AppendUtf8(key, kCase.Lower(cp));
        i += len;
    }
    return key;
}

bool IsXmlElementName(std::string_view key) {
    if (key.empty()) {
        return false;
    }
    std::size_t i = 0;
    bool first = true;
    while (i < key.size()) {
        char32_t cp = 0;
        const std::size_t len = DecodeUtf8(key, i, cp);
        if (len == 0 || !(first ? IsNameStartChar(cp) : IsNameChar(cp))) {
            return false;
        }
        first = false;
        i += len;
    }
    return true;
}

void AppendAttributeValue(std::string& out, std::string_view value) {
    AppendSanitized<Context::Attribute>(out, value);
}

void AppendCDataContent(std::string& out, std::string_view value) {
    AppendSanitized<Context::CData>(out, value);
}

std::size_t XmlBodyWriter::RowSizeHint(const ComponentRow& row, std::string_view key) {
    // Group tags are counted per row as well; the excess is small next to the row itself.
    return kRowFixed.size() + 4 * key.size() + 13 + row.name.size() + row.binaryVersion.size() +
           row.agentVersion.size() + row.state.size() + row.filepath.size() + row.md5Value.size() +
           row.description.size() + row.dependencyChk.size();
}

void XmlBodyWriter::CloseGroup() {
    m_body.append("</");
    m_body.append(m_groupKey);
    m_body.append("files>");
}

void XmlBodyWriter::StreamTo(std::function<void(std::string_view)> sink, std::size_t threshold) {
    m_sink = std::move(sink);
    m_threshold = threshold;
}

void XmlBodyWriter::Add(const ComponentRow& row, std::string_view key) {
    if (!m_groupOpen || key != m_groupKey) {
        if (m_groupOpen) {
            CloseGroup();
        }
        m_groupKey.assign(key);
        m_groupOpen = true;
        m_body.push_back('<');
        m_body.append(key);
        m_body.append("files>");
    }
    std::string& out = m_body;
    out.push_back('<');
    out.append(key);
    out.append(" name=\"");
    AppendAttributeValue(out, row.name);
    out.append("\" version=\"");
    AppendAttributeValue(out, row.binaryVersion);
    out.append("\" agentversion=\"");
    AppendAttributeValue(out, row.agentVersion);
    out.append("\" state=\"");
    AppendAttributeValue(out, row.state);
    out.append("\" path=\"");
    AppendAttributeValue(out, row.filepath);
    out.append("\" isregrequired=\"");
    out.push_back(row.isRegRequired ? '1' : '0');
    out.append("\"><md5checksum><![CDATA[");
    AppendCDataContent(out, row.md5Value);
    out.append("]]></md5checksum><description><![CDATA[");
    AppendCDataContent(out, row.description);
    out.append("]]></description><dependencychk><![CDATA[");
    AppendCDataContent(out, row.dependencyChk);
    out.append("]]></dependencychk></");
    out.append(key);
    out.push_back('>');
    // Only between rows: the CDATA check above looks back into the text held.
    if (m_sink && m_body.size() >= m_threshold) {
        m_sink(m_body);
        m_body.clear();
    }
}

std::string XmlBodyWriter::Finish() {
    if (m_groupOpen) {
        CloseGroup();
        m_groupOpen = false;
    }
    m_groupKey.clear();
    if (m_sink) {
        if (!m_body.empty()) {
            m_sink(m_body);
        }
        m_body.clear();
        return {};
    }
    return std::move(m_body);
}

std::string BuildXmlBody(const std::vector<ComponentRow>& rows,
                         const std::function<void(const ComponentRow&)>& onInvalidType) {
    std::vector<std::string> keys;
    keys.reserve(rows.size());
    std::vector<std::size_t> order;
    order.reserve(rows.size());
    std::size_t size = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        keys.push_back(TypeKey(rows[i].type));
        if (!IsXmlElementName(keys.back())) {
            if (onInvalidType) {
                onInvalidType(rows[i]);
            }
            continue;
        }
        order.push_back(i);
        size += XmlBodyWriter::RowSizeHint(rows[i], keys.back());
    }
    std::stable_sort(order.begin(), order.end(),
                     [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    XmlBodyWriter writer;
    writer.Reserve(size);
    for (const std::size_t i : order) {
        writer.Add(rows[i], keys[i]);
    }
    return writer.Finish();
}

}  // namespace brimlet
