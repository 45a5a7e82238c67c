#include "run/document.h"

#include "common/code_page.h"
#include "xml/xml_body.h"

namespace brimlet {

std::string RunDocumentHead(std::string_view dateTime, std::string_view purl,
                            std::string_view surl) {
    return DocumentHead(Utf8FromAnsi(dateTime), Utf8FromAnsi(purl), Utf8FromAnsi(surl));
}

void EncryptDocument(const Cipher& cipher, std::string_view head, DocumentBody& body,
                     const TextSink& sink) {
    EncryptStream stream(cipher, sink);
    stream.Update(head);
    body.WriteTo([&stream](std::string_view piece) { stream.Update(piece); });
    stream.Update(kDocumentTail);
    stream.Finish();
}

}  // namespace brimlet
