#include "decrypt/decrypt_tool.h"

#include <optional>
#include <ostream>

#include "common/failure.h"
#include "common/utf8.h"
#include "decrypt/tool_files.h"

namespace brimlet::tools {

namespace {

constexpr std::string_view kProgram = "brimlet-decrypt";
constexpr std::int32_t kErrNotText = -1;
constexpr std::size_t kReadBytes = std::size_t{256} * 1024;
// The end of the plain text is written only once the whole document has decrypted, so output
// cut short by a late fault never ends like a whole document.
constexpr std::size_t kHeldBytes = std::size_t{64} * 1024;
constexpr std::size_t kWriteBytes = std::size_t{256} * 1024;

Failure NotText() {
    return Failure(kErrNotText, "Decryption failed: wrong key (the result is not text)");
}

// Bytes of the UTF-8 sequence that `lead` starts (1 for anything that starts none).
std::size_t SequenceLength(unsigned char lead) {
    return lead >= 0xf0 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc0 ? 2 : 1;
}

// A document holds UTF-8 text without the control characters XML forbids. Data decrypted
// with a wrong key passes the padding check about once in 256 keys; it is never such text.
bool LooksLikeDocumentText(std::string_view s) {
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c >= 0x20 && c < 0x80) {
            ++i;
            continue;
        }
        if (c < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
        char32_t cp = 0;
        const std::size_t n = DecodeUtf8(s, i, cp);
        if (n == 0) {
            return false;
        }
        i += n;
    }
    return true;
}

// LooksLikeDocumentText over text that arrives in pieces, which may split a sequence.
class TextCheck {
  public:
    void Feed(std::string_view s) {
        if (!m_carry.empty()) {
            const std::size_t want = SequenceLength(static_cast<unsigned char>(m_carry[0]));
            const std::size_t take = std::min(want - m_carry.size(), s.size());
            m_carry.append(s.substr(0, take));
            s.remove_prefix(take);
            if (m_carry.size() < want) {
                return;
            }
            if (!LooksLikeDocumentText(m_carry)) {
                throw NotText();
            }
            m_carry.clear();
        }
        const std::size_t whole = WholeSequences(s);
        if (!LooksLikeDocumentText(s.substr(0, whole))) {
            throw NotText();
        }
        m_carry.assign(s.substr(whole));
    }
    void Finish() const {
        if (!m_carry.empty()) {
            throw NotText();
        }
    }

  private:
    // Length of `s` without a sequence its end cuts short.
    static std::size_t WholeSequences(std::string_view s) {
        for (std::size_t k = 1; k <= std::min<std::size_t>(3, s.size()); ++k) {
            const auto c = static_cast<unsigned char>(s[s.size() - k]);
            if ((c & 0xc0) != 0x80) {
                return SequenceLength(c) > k ? s.size() - k : s.size();
            }
        }
        return s.size();
    }

    std::string m_carry;
};

// Passes text on in large writes, always holding back its last kHeldBytes until Finish.
class HeldBackWriter {
  public:
    explicit HeldBackWriter(TextSink write) : m_write(std::move(write)) {
        m_pending.reserve(kHeldBytes + 2 * kWriteBytes);
    }
    void Add(std::string_view s) {
        m_pending.append(s);
        if (m_pending.size() >= kHeldBytes + kWriteBytes) {
            const std::size_t n = m_pending.size() - kHeldBytes;
            m_write(std::string_view(m_pending).substr(0, n));
            m_pending.erase(0, n);
        }
    }
    void Finish() {
        m_write(m_pending);
        m_pending.clear();
    }

  private:
    TextSink m_write;
    std::string m_pending;
};

void Usage(std::ostream& stream) {
    stream << "usage: " << kProgram << " [-o OUTPUT] FILE\n"
           << "Prints the plain XML of a published document (base64 of AES-256-CBC).\n"
           << "  -o OUTPUT  write it to OUTPUT instead, which is replaced only once the whole\n"
           << "             document has decrypted (a failed run leaves OUTPUT as it was)\n"
           << "The plain text is written as it decrypts. A fault found late (damaged data,\n"
           << "bad padding, a truncated file) ends the run with status 1 and one line on\n"
           << "standard error; standard output then holds an incomplete text, never the\n"
           << "document's end.\n";
}

}  // namespace

struct DocumentDecryption::State {
    explicit State(TextSink s)
        : sink(std::move(s)), stream(DocumentCipher(), [this](std::string_view plain) {
              check.Feed(plain);
              sink(plain);
          }) {}

    TextSink sink;
    TextCheck check;
    DecryptStream stream;
};

DocumentDecryption::DocumentDecryption(TextSink sink)
    : m_state(std::make_unique<State>(std::move(sink))) {}

DocumentDecryption::~DocumentDecryption() = default;

void DocumentDecryption::Update(std::string_view piece) {
    m_state->stream.Update(piece);
}

void DocumentDecryption::Finish() {
    m_state->stream.Finish();
    m_state->check.Finish();
}

std::string DecryptDocumentText(std::string_view fileText) {
    std::string plain;
    plain.reserve(fileText.size() / 4 * 3);
    DocumentDecryption decryption([&plain](std::string_view chunk) { plain.append(chunk); });
    decryption.Update(fileText);
    decryption.Finish();
    return plain;
}

int RunDecryptTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    std::vector<std::string> files;
    std::optional<std::string> output;
    bool optionsDone = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (!optionsDone && (arg == "-h" || arg == "--help")) {
            Usage(out);
            return 0;
        }
        if (!optionsDone && arg == "--") {
            optionsDone = true;
            continue;
        }
        if (!optionsDone && arg == "-o") {
            if (output || i + 1 == args.size()) {
                Usage(err);
                return 2;
            }
            output = args[++i];
            continue;
        }
        if (!optionsDone && arg.size() > 1 && arg[0] == '-') {
            err << kProgram << ": unknown option " << arg << " (try --help)\n";
            return 2;
        }
        files.push_back(arg);
    }
    if (files.size() != 1 || (output && output->empty())) {
        Usage(err);
        return 2;
    }
    const std::string& path = files.front();
    try {
        DocumentFile input(path);
        std::optional<ReplacingFile> file;
        if (output) {
            file.emplace(*output);
        }
        HeldBackWriter writer([&](std::string_view data) {
            if (file) {
                file->Write(data);
            } else if (!out.write(data.data(), static_cast<std::streamsize>(data.size()))) {
                throw ToolFault{"cannot write the output"};
            }
        });
        DocumentDecryption decryption([&writer](std::string_view plain) { writer.Add(plain); });
        std::string buffer(kReadBytes, '\0');
        for (;;) {
            const std::size_t n = input.Read(buffer.data(), buffer.size());
            if (n == 0) {
                break;
            }
            try {
                decryption.Update(std::string_view(buffer.data(), n));
            } catch (const Failure& f) {
                throw ToolFault{path + ": " + f.description()};
            }
        }
        try {
            decryption.Finish();
        } catch (const Failure& f) {
            throw ToolFault{path + ": " + f.description()};
        }
        writer.Finish();
        if (file) {
            file->Commit();
        } else if (!out.flush()) {
            throw ToolFault{"cannot write the output"};
        }
    } catch (const ToolFault& fault) {
        out.flush();
        err << kProgram << ": " << fault.line << "\n";
        return 1;
    } catch (...) {
        out.flush();
        err << kProgram << ": " << CurrentFailure().description() << "\n";
        return 1;
    }
    return 0;
}

}  // namespace brimlet::tools
