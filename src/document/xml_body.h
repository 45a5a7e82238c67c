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

// The whole body for rows in database order: rows are ordered by type key (stable, so equal
// keys keep their order), rows whose key is not a valid element name are left out and passed
// to `onInvalidType` in database order.
std::string BuildXmlBody(const std::vector<ComponentRow>& rows,
                         const std::function<void(const ComponentRow&)>& onInvalidType = {});

}  // namespace brimlet
