#pragma once
// brimlet-decrypt: turns a published document file back into its plain XML.
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "cipher/cipher.h"

namespace brimlet::tools {

// The plain text of a published document's file content (base64 on one line, one trailing
// line end allowed), decrypted with the document's cipher. Throws Failure with a one-line
// description for text that is not base64, bad padding, or a wrong key (including a result
// that is not UTF-8 text, which is what a wrong key yields when the padding happens to fit).
std::string DecryptDocumentText(std::string_view fileText);

// The same decryption of file content that arrives in pieces: plain text goes to the sink as
// it decrypts, each piece checked as document text before the sink sees it. Update and
// Finish throw Failure as DecryptDocumentText does; the sink may have had part of the text.
class DocumentDecryption {
  public:
    explicit DocumentDecryption(TextSink sink);
    ~DocumentDecryption();
    DocumentDecryption(const DocumentDecryption&) = delete;
    DocumentDecryption& operator=(const DocumentDecryption&) = delete;

    void Update(std::string_view piece);
    void Finish();

  private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The command: `args` without the program name. Writes the plain XML to `out` (or to the file
// of -o) and one-line errors to `err`. Returns 0 on success, 1 when the document cannot be
// read or decrypted (or the output cannot be written), 2 for a usage error.
int RunDecryptTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace brimlet::tools
