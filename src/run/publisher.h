#pragma once
// Assembly and atomic publication of the encrypted component list document.
#include <cstddef>
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "cipher/cipher.h"
#include "run/run_context.h"
#include "xml/xml_body.h"

namespace brimlet {

enum class BodyStatus {
    Rows,          // the body holds at least one group
    NoRows,        // the query succeeded and returned no rows
    Failed,        // the query failed; its entries are already logged
    NoUsableRows,  // rows came, but none has a type key that can name an element
};

// Thrown by a body producer that failed and has already written its own error entry.
class BodyAbandoned : public std::exception {
  public:
    const char* what() const noexcept override { return "body abandoned"; }
};

// Writes the body into the sink, piece by piece. Exceptions of the sink pass through
// unchanged; its own failures are logged and end in BodyAbandoned.
using BodyProducer = std::function<void(const TextSink&)>;

struct BodyOutcome {
    BodyStatus status = BodyStatus::Failed;
    // Rows: writes the body; call it at most once.
    BodyProducer writeBody = {};
    // Bytes the produced body takes at most, escaping aside (for reserving).
    std::size_t bodyBytes = 0;
};

// The publication steps of SubCreateBrimletXML with the body and the cipher supplied by the
// caller; a producer's body streams into the encryption. Rows: the encrypted document plus CR LF
// replaces ctx.xmlPath atomically, and ctx.published is set. NoRows: the old document is removed
// and ctx.noData is set. Failed, NoUsableRows (with an error entry), or any failure of
// encryption or writing: the old document stays untouched. Never throws.
void PublishDocument(RunContext& ctx, const std::function<BodyOutcome(RunContext&)>& createBody,
                     const Cipher& cipher) noexcept;

}  // namespace brimlet
