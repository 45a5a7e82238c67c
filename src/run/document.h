#pragma once
// The component list document: what it is published from, and its bytes in order.
#include <exception>
#include <functional>
#include <string>
#include <string_view>

#include "cipher/cipher.h"

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

// Called by a body before it reports a failure of its own: throws the failure of a piece it
// has already handed over, if there is one, since that one came first.
using SinkSettle = std::function<void()>;

// What a document is published from: the component query's outcome and, with rows, the body.
class DocumentBody {
  public:
    virtual ~DocumentBody() = default;
    virtual BodyStatus Status() const = 0;
    // Rows: writes the body into the sink, piece by piece, once. Exceptions of the sink and of
    // `settle` pass through unchanged; the body's own failures are logged and end in
    // BodyAbandoned.
    virtual void WriteTo(const TextSink& sink, const SinkSettle& settle) = 0;
};

// The document's head from the run's texts: the creation date-time and the download URLs,
// which are in the program's code page (settings), written as UTF-8 like the whole document.
std::string RunDocumentHead(std::string_view dateTime, std::string_view purl,
                            std::string_view surl);

// The document's text (`head`, the body, the closing tag) encrypted with `cipher` into `sink`,
// chunk by chunk. The encryption and `sink` run on a second thread behind the body, which has
// ended when this returns or throws; `beforePiece` runs on the caller's thread before each piece
// of the body is handed on. The first failure passes through: of the body, of `beforePiece`, of
// the encryption or of the sink, in the order a single thread would have met them.
void EncryptDocument(const Cipher& cipher, std::string_view head, DocumentBody& body,
                     const TextSink& sink, const std::function<void()>& beforePiece = {});
// What the file holds after the encrypted text.
inline constexpr std::string_view kDocumentEnd = "\r\n";

}  // namespace brimlet
