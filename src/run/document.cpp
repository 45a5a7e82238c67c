#include "run/document.h"

#include "xml/xml_body.h"

namespace brimlet {

void EncryptDocument(const Cipher& cipher, std::string_view head, DocumentBody& body,
                     const TextSink& sink) {
    EncryptStream stream(cipher, sink);
    stream.Update(head);
    body.WriteTo([&stream](std::string_view piece) { stream.Update(piece); });
    stream.Update(kDocumentTail);
    stream.Finish();
}

}  // namespace brimlet
