#pragma once
// SubCreateBrimletXML: assembly and atomic publication of the encrypted component list document.
#include <exception>

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

// Thrown by a body that failed while writing and has already written its own error entry.
class BodyAbandoned : public std::exception {
  public:
    const char* what() const noexcept override { return "body abandoned"; }
};

// What a document is published from: the component query's outcome and, with rows, the body.
class DocumentBody {
  public:
    virtual ~DocumentBody() = default;
    virtual BodyStatus Status() const = 0;
    // Rows: writes the body into the sink, piece by piece, once. Exceptions of the sink pass
    // through unchanged; the body's own failures are logged and end in BodyAbandoned.
    virtual void WriteTo(const TextSink& sink) = 0;
};

// Runs the component query (CreateXmlBody) and publishes its body with the document cipher
// through PublishDocument. Never throws.
void SubCreateBrimletXML(RunContext& ctx) noexcept;

// The publication steps of SubCreateBrimletXML once the body is known; the body streams into
// the encryption. Rows: the encrypted document plus CR LF replaces ctx.xmlPath atomically, and
// ctx.published is set. NoRows: the old document is removed and ctx.noData is set. Failed,
// NoUsableRows (with an error entry), or any failure of encryption or writing: the old
// document stays untouched. The document changes only under ctx.publication, the one Main
// began for ctx.xmlPath (none, or one settled: an error entry, nothing changes). Never throws.
void PublishDocument(RunContext& ctx, DocumentBody& body, const Cipher& cipher) noexcept;

}  // namespace brimlet
