#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/cipher.h"
#include "common/failure.h"
#include "fuzz_input.h"
#include "targets.h"
#include "xml/xml_body.h"

namespace brimlet::fuzz::body_builder {

namespace {

constexpr std::size_t kMaxRows = 64;
constexpr std::string_view kDateTime = "08.12.2026 16:36:27";

// Types the database really sends, and near misses, so that groups form and keys collide.
constexpr std::array<std::string_view, 16> kTypes = {
    "dll", "DLL",   " Dll ", "exe",  "Exe\t",  "config", "zz",
    "a",   "",      " ",     "1dll", "my dll", "ns:dll", "\xC3\xA9t\xC3\xA9",
    "-x",  "_x.y-z"};

struct XmlDocDeleter {
    void operator()(xmlDoc* doc) const { xmlFreeDoc(doc); }
};
struct XmlCharDeleter {
    void operator()(xmlChar* text) const { xmlFree(text); }
};
using XmlDocPtr = std::unique_ptr<xmlDoc, XmlDocDeleter>;
using XmlText = std::unique_ptr<xmlChar, XmlCharDeleter>;

std::string_view AsView(const xmlChar* text) {
    return text == nullptr ? std::string_view()
                           : std::string_view(reinterpret_cast<const char*>(text));
}

std::string NodeName(const xmlNode* node) {
    return std::string(AsView(node->name));
}

std::string Content(const xmlNode* node) {
    const XmlText text(xmlNodeGetContent(node));
    return std::string(AsView(text.get()));
}

std::string Attribute(const xmlNode* node, const char* name) {
    const XmlText text(xmlGetProp(node, reinterpret_cast<const xmlChar*>(name)));
    Check(text != nullptr, std::string("attribute missing: ") + name);
    return std::string(AsView(text.get()));
}

// True when `s` is valid UTF-8 made only of characters XML 1.0 allows, none of them in
// `excluded`: such a value must read back exactly.
bool ReadsBackExactly(std::string_view s, std::string_view excluded) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b0 = static_cast<unsigned char>(s[i]);
        char32_t cp = 0;
        std::size_t len = 0;
        if (b0 < 0x80) {
            cp = b0;
            len = 1;
        } else if ((b0 & 0xE0) == 0xC0) {
            cp = b0 & 0x1FU;
            len = 2;
        } else if ((b0 & 0xF0) == 0xE0) {
            cp = b0 & 0x0FU;
            len = 3;
        } else if ((b0 & 0xF8) == 0xF0) {
            cp = b0 & 0x07U;
            len = 4;
        } else {
            return false;
        }
        if (i + len > s.size()) {
            return false;
        }
        for (std::size_t k = 1; k < len; ++k) {
            const auto b = static_cast<unsigned char>(s[i + k]);
            if ((b & 0xC0) != 0x80) {
                return false;
            }
            cp = (cp << 6) | (b & 0x3FU);
        }
        static constexpr std::array<char32_t, 4> kMin = {0, 0, 0x80, 0x800};
        if ((len == 4 && cp < 0x10000) || (len < 4 && cp < kMin[len]) || cp > 0x10FFFF) {
            return false;
        }
        const bool xmlChar = cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
                             (cp >= 0xE000 && cp <= 0xFFFD) || cp >= 0x10000;
        if (!xmlChar ||
            (cp < 0x80 && excluded.find(static_cast<char>(cp)) != std::string_view::npos)) {
            return false;
        }
        i += len;
    }
    return true;
}

void CheckAttribute(const xmlNode* node, const char* name, std::string_view expected) {
    const std::string got = Attribute(node, name);
    // Literal TAB, CR and LF in an attribute are normalised to blanks by every XML reader.
    if (ReadsBackExactly(expected, "\t\r\n")) {
        Check(got == expected, std::string("attribute ") + name + " read back changed");
    }
}

void CheckCData(const xmlNode* node, const char* name, std::string_view expected) {
    Check(node != nullptr && NodeName(node) == name, std::string("element missing: ") + name);
    const std::string got = Content(node);
    // Readers turn CR LF and lone CR into LF.
    if (ReadsBackExactly(expected, "\r")) {
        Check(got == expected, std::string("CDATA of ") + name + " read back changed");
    }
}

struct ParseErrors {
    std::string text;
};

void CollectError(void* context, xmlError* error) {
    if (error != nullptr && error->level >= XML_ERR_ERROR) {
        auto* errors = static_cast<ParseErrors*>(context);
        errors->text += std::to_string(error->line) + ":" + std::to_string(error->int2) + " " +
                        (error->message != nullptr ? error->message : "?");
    }
}

XmlDocPtr ParseStrict(const std::string& document) {
    ParseErrors errors;
    xmlSetStructuredErrorFunc(&errors, CollectError);
    XmlDocPtr doc(xmlReadMemory(document.data(), static_cast<int>(document.size()), "doc.xml",
                                "UTF-8", XML_PARSE_NONET));
    xmlSetStructuredErrorFunc(nullptr, nullptr);
    Check(doc != nullptr && errors.text.empty(), "not well-formed XML: " + errors.text);
    return doc;
}

struct Rows {
    std::vector<ComponentRow> rows;
    std::string_view purl;
    std::string_view surl;
    std::string_view cipherText;
};

Rows Decode(FuzzInput& in) {
    Rows out;
    out.purl = in.ShortText();
    out.surl = in.ShortText();
    out.cipherText = in.ShortText();
    while (!in.Empty() && out.rows.size() < kMaxRows) {
        ComponentRow row;
        const std::uint8_t typeChoice = in.Byte();
        row.type = typeChoice < kTypes.size() ? kTypes[typeChoice] : in.ShortText();
        // An empty text stands for NULL: the layer below turns NULL into empty text.
        row.name = in.ShortText();
        row.filepath = in.ShortText();
        row.md5Value = in.ShortText();
        row.state = in.ShortText();
        row.agentVersion = in.ShortText();
        row.binaryVersion = in.ShortText();
        row.description = in.ShortText();
        row.dependencyChk = in.ShortText();
        row.isRegRequired = (in.Byte() & 1U) != 0;
        out.rows.push_back(row);
    }
    return out;
}

void CheckRow(const xmlNode* node, const ComponentRow& row, const std::string& key) {
    Check(NodeName(node) == key, "row element not named by its type key");
    CheckAttribute(node, "name", row.name);
    CheckAttribute(node, "version", row.binaryVersion);
    CheckAttribute(node, "agentversion", row.agentVersion);
    CheckAttribute(node, "state", row.state);
    CheckAttribute(node, "path", row.filepath);
    Check(Attribute(node, "isregrequired") == (row.isRegRequired ? "1" : "0"),
          "isregrequired not 0 or 1 as the row says");
    const xmlNode* child = xmlFirstElementChild(const_cast<xmlNode*>(node));
    CheckCData(child, "md5checksum", row.md5Value);
    child = child != nullptr ? xmlNextElementSibling(const_cast<xmlNode*>(child)) : nullptr;
    CheckCData(child, "description", row.description);
    child = child != nullptr ? xmlNextElementSibling(const_cast<xmlNode*>(child)) : nullptr;
    CheckCData(child, "dependencychk", row.dependencyChk);
    Check(xmlNextElementSibling(const_cast<xmlNode*>(child)) == nullptr, "row has extra children");
}

// The document as readers see it: the head, one group per key in key order, rows of a group
// in database order.
void CheckDocument(const xmlDoc* doc, const Rows& in, const std::vector<std::size_t>& order,
                   const std::vector<std::string>& keys) {
    xmlNode* root = xmlDocGetRootElement(const_cast<xmlDoc*>(doc));
    Check(root != nullptr && NodeName(root) == "brimlet", "root element is not brimlet");
    xmlNode* node = xmlFirstElementChild(root);
    Check(node != nullptr && NodeName(node) == "createdatetime" && Content(node) == kDateTime,
          "createdatetime missing or changed");
    node = xmlNextElementSibling(node);
    CheckCData(node, "purl", in.purl);
    node = xmlNextElementSibling(node);
    CheckCData(node, "surl", in.surl);
    node = xmlNextElementSibling(node);

    std::size_t k = 0;
    while (k < order.size()) {
        const std::string& key = keys[order[k]];
        Check(node != nullptr, "group missing for key " + key);
        Check(NodeName(node) == key + "files", "group element not named key + files");
        xmlNode* rowNode = xmlFirstElementChild(node);
        for (; k < order.size() && keys[order[k]] == key; ++k) {
            Check(rowNode != nullptr, "row missing in group " + key);
            CheckRow(rowNode, in.rows[order[k]], key);
            rowNode = xmlNextElementSibling(rowNode);
        }
        Check(rowNode == nullptr, "group " + key + " holds more rows than were given");
        node = xmlNextElementSibling(node);
    }
    Check(node == nullptr, "more groups than distinct keys");
}

void CheckCipher(const std::string& head, const std::string& body, const std::string& document,
                 std::string_view cipherText) {
    const Cipher cipher = DocumentCipher();
    Check(cipher.Ready(), "document cipher has no key");
    const std::string encrypted = cipher.Encrypt(document);
    Check(encrypted.size() == Cipher::EncryptedTextSize(document.size()),
          "EncryptedTextSize disagrees with Encrypt");
    Check(encrypted.find_first_of("\r\n") == std::string::npos, "base64 text is not one line");
    Check(cipher.Decrypt(encrypted) == document, "decrypt round trip changed the document");
    Check(cipher.Decrypt(encrypted + "\r\n") == document, "a trailing line end broke decrypting");

    std::string streamed;
    cipher.EncryptTo({head, body, kDocumentTail}, [&streamed](std::string_view chunk) {
        Check(chunk.size() % 4 == 0, "a chunk is not whole base64 quads");
        streamed.append(chunk);
    });
    Check(streamed == encrypted, "EncryptTo differs from Encrypt of the joined text");

    // Damaged or foreign text must be refused with a Failure, never anything worse.
    try {
        (void)cipher.Decrypt(cipherText);
    } catch (const Failure&) {
    }
}

}  // namespace

int FuzzOne(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(data, size);
    const Rows decoded = Decode(in);

    std::vector<std::string> keys;
    std::vector<std::size_t> order;
    std::vector<std::size_t> invalid;
    for (std::size_t i = 0; i < decoded.rows.size(); ++i) {
        keys.push_back(TypeKey(decoded.rows[i].type));
        const std::string& key = keys.back();
        const bool plain = !key.empty() && std::all_of(key.begin(), key.end(),
                                                       [](char c) { return c >= 'a' && c <= 'z'; });
        if (IsXmlElementName(key)) {
            order.push_back(i);
        } else {
            Check(!plain, "a plain lower-case key was refused: " + key);
            invalid.push_back(i);
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });

    // The program's grouping, checked against the plain stable sort above.
    std::vector<std::string_view> types;
    for (const ComponentRow& row : decoded.rows) {
        types.push_back(row.type);
    }
    const BodyPlan plan = PlanBody(types);
    Check(plan.leftOut == invalid, "rows left out unlike they were refused, or out of order");
    Check(plan.order == order, "the plan's order is not the stable order by key");
    XmlBodyWriter writer;
    std::size_t planned = 0;
    ForEachBodyRow(plan, [&](std::size_t i, const std::string& key) {
        Check(i == order[planned++] && key == keys[i], "a row written under another key");
        writer.Add(decoded.rows[i], key);
    });
    const std::string body = writer.Finish();
    Check(body.empty() == order.empty(), "empty body with rows, or a body without rows");

    const std::string head = DocumentHead(kDateTime, decoded.purl, decoded.surl);
    const std::string document = head + body + std::string(kDocumentTail);
    const XmlDocPtr doc = ParseStrict(document);
    CheckDocument(doc.get(), decoded, order, keys);
    CheckCipher(head, body, document, decoded.cipherText);
    return 0;
}

}  // namespace brimlet::fuzz::body_builder
