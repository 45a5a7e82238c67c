#include "run/document.h"

#include "common/code_page.h"
#include "process/writer_thread.h"
#include "xml/xml_body.h"

namespace brimlet {

namespace {

// What waits between the body and the encryption: a few pieces of the body's size, so the
// memory it takes stays a few MiB whatever the document's size.
constexpr std::size_t kHandoverBytes = std::size_t{1} * 1024 * 1024;
constexpr std::size_t kHandoverDepth = 8;

}  // namespace

std::string RunDocumentHead(std::string_view dateTime, std::string_view purl,
                            std::string_view surl) {
    return DocumentHead(Utf8FromAnsi(dateTime), Utf8FromAnsi(purl), Utf8FromAnsi(surl));
}

void EncryptDocument(const Cipher& cipher, std::string_view head, DocumentBody& body,
                     const TextSink& sink, const std::function<void()>& beforePiece) {
    EncryptStream stream(cipher, sink);
    // Declared after the stream, so that the thread has ended before the stream goes.
    WriterThread behind([&stream](std::string_view piece) { stream.Update(piece); }, kHandoverBytes,
                        kHandoverDepth);
    behind.Put(head);
    body.WriteTo(
        [&](std::string_view piece) {
            if (beforePiece) {
                beforePiece();
            }
            behind.Put(piece);
        },
        [&behind] { behind.Settle(); });
    behind.Put(kDocumentTail);
    behind.Finish();
    stream.Finish();
}

}  // namespace brimlet
