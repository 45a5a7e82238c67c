#pragma once
// Assembly and atomic publication of the encrypted component list document.
#include <functional>
#include <string>
#include <string_view>

#include "document/cipher.h"
#include "run/run_context.h"

namespace brimlet {

enum class BodyStatus {
    Rows,    // the body holds at least one group
    NoRows,  // the query succeeded and returned no rows
    Failed,  // the query failed or gave no usable rows; its entries are already logged
};

struct BodyOutcome {
    BodyStatus status = BodyStatus::Failed;
    std::string body;
};

// Everything of the document before the body: root start tag, creation date-time, purl and
// surl in CDATA sections.
std::string DocumentHead(std::string_view dateTime, std::string_view purl, std::string_view surl);
inline constexpr std::string_view kDocumentTail = "</brimlet>";

// The publication steps of SubCreateBrimletXML with the body and the cipher supplied by the
// caller. Rows: the encrypted document plus CR LF replaces ctx.xmlPath atomically, and
// ctx.published is set. NoRows: the old document is removed. Failed, or any failure of
// encryption or writing: the old document stays untouched. Never throws.
void PublishDocument(RunContext& ctx, const std::function<BodyOutcome(RunContext&)>& createBody,
                     const Cipher& cipher) noexcept;

}  // namespace brimlet
