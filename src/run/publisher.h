#pragma once
// SubCreateBrimletXML: assembly and atomic publication of the encrypted component list document.
#include "cipher/cipher.h"
#include "run/document.h"
#include "run/run_context.h"

namespace brimlet {

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
