#pragma once
// The grouped XML body of the component list: pure text building over rows, no database.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brimlet {

// One component row as text (NULL already turned into empty text). The views must outlive
// the builder call that reads them.
struct ComponentRow {
    std::string_view type;
    std::string_view name;
    std::string_view filepath;
    std::string_view md5Value;
    std::string_view state;
    std::string_view agentVersion;
    std::string_view binaryVersion;
    std::string_view description;
    std::string_view dependencyChk;
    bool isRegRequired = false;
};

// The row's group and element name: `type` without surrounding spaces, lower-cased as Unicode
// text whatever the locale (bytes that are not valid UTF-8 are kept).
std::string TypeKey(std::string_view type);

// True when `key` can name an element: a non-empty XML 1.0 Name in valid UTF-8, without ":"
// (a colon would make it a namespace prefix that nothing declares).
bool IsXmlElementName(std::string_view key);

// Appends `value` for use between double quotes: & < > " become entity references.
void AppendAttributeValue(std::string& out, std::string_view value);
// Appends `value` for use inside a CDATA section: "]]>" is split across two sections.
void AppendCDataContent(std::string& out, std::string_view value);
// Both of the above leave out characters XML 1.0 forbids (controls other than TAB, CR, LF;
// U+FFFE, U+FFFF) and write U+FFFD for each byte that is not part of valid UTF-8.

// Builds the body from rows that arrive already ordered by type key: a run of rows with the
// same key forms one group. Callers pass only rows whose key is a valid element name.
class XmlBodyWriter {
  public:
    // Bytes one row adds at most (escaping aside), for reserving ahead.
    static std::size_t RowSizeHint(const ComponentRow& row, std::string_view key);
    void Reserve(std::size_t bytes) { m_body.reserve(bytes); }
    // From now on, whenever the text held reaches `threshold` bytes after a row, it goes to
    // `sink` and is dropped; Finish hands the rest to the sink as well.
    void StreamTo(std::function<void(std::string_view)> sink, std::size_t threshold);
    void Add(const ComponentRow& row, std::string_view key);
    // Closes the last group and hands over the body (empty when no row was added, or what
    // was not streamed yet is handed to the sink and the result is empty).
    std::string Finish();

  private:
    void CloseGroup();

    std::string m_body;
    std::string m_groupKey;
    bool m_groupOpen = false;
    std::function<void(std::string_view)> m_sink;
    std::size_t m_threshold = 0;
};

// One group of the body: its type key and how many rows it holds.
struct BodyGroup {
    std::string key;
    std::size_t rows = 0;
};

// How rows in database order become the body: groups in ascending byte order of their key,
// rows inside a group in database order.
struct BodyPlan {
    // Indices of the rows to write, in body order.
    std::vector<std::size_t> order;
    // The groups, in body order; their row counts add up to order.size().
    std::vector<BodyGroup> groups;
    // Indices of the rows whose key is not a valid element name, in database order.
    std::vector<std::size_t> leftOut;
};

// The plan for rows whose type texts are `types`, in database order. Each distinct type text
// is keyed and judged once, as rows share a handful of types.
BodyPlan PlanBody(const std::vector<std::string_view>& types);

// Calls `visit(index, key)` for each row of `plan.order`, in body order, with its group's key.
template <typename Visit>
void ForEachBodyRow(const BodyPlan& plan, Visit&& visit) {
    std::size_t next = 0;
    for (const BodyGroup& group : plan.groups) {
        for (std::size_t k = 0; k < group.rows; ++k) {
            visit(plan.order[next++], group.key);
        }
    }
}

// Everything of the document before the body: root start tag, creation date-time, purl and
// surl in CDATA sections.
std::string DocumentHead(std::string_view dateTime, std::string_view purl, std::string_view surl);
inline constexpr std::string_view kDocumentTail = "</brimlet>";

}  // namespace brimlet
