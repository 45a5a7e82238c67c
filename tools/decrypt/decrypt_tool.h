#pragma once
// brimlet-decrypt: turns a published document file back into its plain XML.
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace brimlet::tools {

// The plain text of a published document's file content (base64 on one line, one trailing
// line end allowed), decrypted with the document's cipher. Throws Failure with a one-line
// description for text that is not base64, bad padding, or a wrong key (including a result
// that is not UTF-8 text, which is what a wrong key yields when the padding happens to fit).
std::string DecryptDocumentText(std::string_view fileText);

// Whole content of the file at `path`. Throws Failure ("<path>: <strerror>") when it cannot
// be opened or read.
std::string ReadWholeFile(const std::string& path);

// The command: `args` without the program name. Writes the plain XML to `out` and one-line
// errors to `err`. Returns 0 on success, 1 when the document cannot be read or decrypted
// (or the output cannot be written), 2 for a usage error.
int RunDecryptTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace brimlet::tools
