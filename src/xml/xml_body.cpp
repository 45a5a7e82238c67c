#include "xml/xml_body.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <unordered_map>

#include "common/text.h"
#include "common/utf8.h"
#include "xml/case_fold.h"

namespace brimlet {

namespace {

constexpr std::string_view kReplacementChar = "\xEF\xBF\xBD";

bool IsXmlChar(char32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// XML 1.0's name characters less ':', which a name may hold but which would make the type an
// undeclared namespace prefix: a namespace-aware parser rejects the whole document.
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
        if (cp >= 'A' && cp <= 'Z') {
            cp += 'a' - 'A';
        } else if (cp >= 0x80) {
            cp = LowerCodePoint(cp);
        }
        AppendUtf8(key, cp);
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

BodyPlan PlanBody(const std::vector<std::string_view>& types) {
    struct Key {
        std::string key;
        bool valid = false;
        std::size_t rows = 0;
        std::size_t next = 0;  // where its next row goes in the order
    };
    // Row -> distinct key, through the raw type text: texts that differ only in case or
    // surrounding spaces share one key.
    std::vector<Key> keys;
    std::unordered_map<std::string, std::uint32_t> keyIndex;
    std::unordered_map<std::string_view, std::uint32_t> textKey;
    std::vector<std::uint32_t> rowKey(types.size());
    BodyPlan plan;
    for (std::size_t i = 0; i < types.size(); ++i) {
        auto [text, addedText] = textKey.try_emplace(types[i], 0);
        if (addedText) {
            std::string key = TypeKey(types[i]);
            auto [known, addedKey] =
                keyIndex.try_emplace(key, static_cast<std::uint32_t>(keys.size()));
            if (addedKey) {
                const bool valid = IsXmlElementName(key);
                keys.push_back(Key{std::move(key), valid, 0, 0});
            }
            text->second = known->second;
        }
        Key& key = keys[text->second];
        rowKey[i] = text->second;
        ++key.rows;
        if (!key.valid) {
            plan.leftOut.push_back(i);
        }
    }
    std::vector<std::uint32_t> sorted(keys.size());
    for (std::size_t k = 0; k < sorted.size(); ++k) {
        sorted[k] = static_cast<std::uint32_t>(k);
    }
    std::sort(sorted.begin(), sorted.end(),
              [&keys](std::uint32_t a, std::uint32_t b) { return keys[a].key < keys[b].key; });
    std::size_t placed = 0;
    for (const std::uint32_t k : sorted) {
        if (keys[k].valid) {
            keys[k].next = placed;
            placed += keys[k].rows;
            plan.groups.push_back(BodyGroup{keys[k].key, keys[k].rows});
        }
    }
    // One pass in database order keeps equal keys in their order without a comparison sort.
    plan.order.resize(placed);
    for (std::size_t i = 0; i < types.size(); ++i) {
        Key& key = keys[rowKey[i]];
        if (key.valid) {
            plan.order[key.next++] = i;
        }
    }
    return plan;
}

std::string DocumentHead(std::string_view dateTime, std::string_view purl, std::string_view surl) {
    std::string head;
    head.reserve(96 + dateTime.size() + purl.size() + surl.size());
    head.append("<brimlet>");
    head.append("<createdatetime>");
    head.append(dateTime);
    head.append("</createdatetime>");
    head.append("<purl><![CDATA[");
    AppendCDataContent(head, purl);
    head.append("]]></purl>");
    head.append("<surl><![CDATA[");
    AppendCDataContent(head, surl);
    head.append("]]></surl>");
    return head;
}

}  // namespace brimlet
