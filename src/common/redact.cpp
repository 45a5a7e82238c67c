#include "common/redact.h"

#include <algorithm>
#include <utility>

#include "common/text.h"

namespace brimlet {

namespace {

bool IsCredentialKey(std::string_view key) {
    key = TrimWhitespace(key);
    return EqualsIgnoreCaseAscii(key, "PWD") || EqualsIgnoreCaseAscii(key, "Password");
}

void AddValue(std::vector<std::string>& out, std::string_view value) {
    if (!value.empty()) {
        out.emplace_back(value);
    }
}

bool IsAlnum(char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsBlank(char c) {
    return c == ' ' || c == '\t';
}

bool IsSpace(char c) {
    return IsBlank(c) || c == '\r' || c == '\n';
}

bool StartsWithIgnoreCase(std::string_view s, std::size_t at, std::string_view word) {
    return s.size() - at >= word.size() && EqualsIgnoreCaseAscii(s.substr(at, word.size()), word);
}

// Where the value of `key` begins when `key` stands at `at` as a word of its own, followed by
// blanks, "=" and blanks; npos otherwise.
std::size_t ValueAfterKey(std::string_view s, std::size_t at, std::string_view key) {
    if (!StartsWithIgnoreCase(s, at, key) || (at > 0 && (IsAlnum(s[at - 1]) || s[at - 1] == '_'))) {
        return std::string_view::npos;
    }
    std::size_t p = at + key.size();
    while (p < s.size() && IsBlank(s[p])) {
        ++p;
    }
    if (p == s.size() || s[p] != '=') {
        return std::string_view::npos;
    }
    ++p;
    while (p < s.size() && IsBlank(s[p])) {
        ++p;
    }
    return p;
}

// Where the credential key at `at` has its value, or npos.
std::size_t CredentialValueAt(std::string_view s, std::size_t at) {
    const std::size_t v = ValueAfterKey(s, at, "Password");
    return v != std::string_view::npos ? v : ValueAfterKey(s, at, "PWD");
}

// The inside of the {braced} value that begins at `brace`, and where it ends: after the closing
// brace, or at the end of the text when there is none.
struct Braced {
    std::size_t insideEnd;
    std::size_t end;
};

Braced BracedValue(std::string_view s, std::size_t brace) {
    for (std::size_t q = brace + 1; q < s.size(); ++q) {
        if (s[q] == '}') {
            if (q + 1 < s.size() && s[q + 1] == '}') {
                ++q;
                continue;
            }
            return {q, q + 1};
        }
    }
    return {s.size(), s.size()};
}

// A libpq value in single quotes, backslash escaping the next character, from `quote`: the
// inside's end and the closing quote's, or the text's end when it never closes.
std::size_t QuotedInsideEnd(std::string_view s, std::size_t quote) {
    for (std::size_t q = quote + 1; q < s.size(); ++q) {
        if (s[q] == '\\') {
            ++q;
        } else if (s[q] == '\'') {
            return q;
        }
    }
    return s.size();
}

// The spans [begin, end) of the texts inside pqopt={...}.
std::vector<std::pair<std::size_t, std::size_t>> PqoptSpans(std::string_view s) {
    std::vector<std::pair<std::size_t, std::size_t>> spans;
    for (std::size_t at = 0; at < s.size(); ++at) {
        const std::size_t v = ValueAfterKey(s, at, "pqopt");
        if (v != std::string_view::npos && v < s.size() && s[v] == '{') {
            const std::size_t end = BracedValue(s, v).insideEnd;
            spans.emplace_back(v + 1, end);
            at = end;
        }
    }
    return spans;
}

// The password values of libpq's "key=value key='va lue'" options, as written and unescaped.
void AddPqoptPasswords(std::vector<std::string>& out, std::string_view options) {
    for (std::size_t at = 0; at < options.size(); ++at) {
        const std::size_t v = ValueAfterKey(options, at, "password");
        if (v == std::string_view::npos || v == options.size()) {
            continue;
        }
        if (options[v] == '\'') {
            const std::size_t end = QuotedInsideEnd(options, v);
            const std::string_view raw = options.substr(v + 1, end - v - 1);
            std::string plain;
            for (std::size_t i = 0; i < raw.size(); ++i) {
                if (raw[i] == '\\' && i + 1 < raw.size()) {
                    ++i;
                }
                plain += raw[i];
            }
            AddValue(out, raw);
            AddValue(out, plain);
        } else {
            std::size_t end = v;
            while (end < options.size() && !IsSpace(options[end])) {
                ++end;
            }
            AddValue(out, options.substr(v, end - v));
        }
    }
}

}  // namespace

std::vector<std::string> CredentialValues(std::string_view s) {
    std::vector<std::string> values;
    // A key starts the text, or follows ";" or "{" (an unclosed brace swallows the keys after
    // it, and the driver manager echoes them whole).
    for (std::size_t start = 0; start < s.size(); ++start) {
        if (start > 0 && s[start - 1] != ';' && s[start - 1] != '{') {
            continue;
        }
        const std::size_t eq = s.find('=', start);
        if (eq == std::string_view::npos) {
            break;
        }
        const std::string_view key = s.substr(start, eq - start);
        if (key.find_first_of(";{") != std::string_view::npos || !IsCredentialKey(key)) {
            continue;
        }
        const std::size_t valueStart = eq + 1;
        std::size_t p = valueStart;
        while (p < s.size() && (s[p] == ' ' || s[p] == '\t')) {
            ++p;
        }
        std::size_t end = s.size();
        if (p < s.size() && s[p] == '{') {
            std::string unescaped;
            std::size_t q = p + 1;
            for (; q < s.size(); ++q) {
                if (s[q] == '}') {
                    if (q + 1 < s.size() && s[q + 1] == '}') {
                        unescaped += '}';
                        ++q;
                        continue;
                    }
                    break;
                }
                unescaped += s[q];
            }
            end = q < s.size() ? q + 1 : s.size();
            AddValue(values, unescaped);
            AddValue(values, s.substr(p + 1, std::min(q, s.size()) - p - 1));
        } else {
            end = std::min(s.find(';', valueStart), s.size());
        }
        const std::string_view raw = s.substr(valueStart, end - valueStart);
        AddValue(values, raw);
        AddValue(values, TrimWhitespace(raw));
        // Inside an unclosed brace the value may carry that brace's closing "}".
        AddValue(values, Trim(TrimWhitespace(raw), "}"));
    }
    for (const auto& [begin, end] : PqoptSpans(s)) {
        AddPqoptPasswords(values, s.substr(begin, end - begin));
    }
    return values;
}

void Redactor::AddConnectionString(std::string_view connectionString) {
    for (std::string& v : CredentialValues(connectionString)) {
        m_secrets.push_back(std::move(v));
    }
    std::sort(m_secrets.begin(), m_secrets.end(), [](const std::string& a, const std::string& b) {
        return a.size() != b.size() ? a.size() > b.size() : a < b;
    });
    m_secrets.erase(std::unique(m_secrets.begin(), m_secrets.end()), m_secrets.end());
}

std::string Redactor::Apply(std::string_view text) const {
    // By key first: what follows a key goes even where the echo stops inside the secret.
    const auto spans = PqoptSpans(text);
    std::string out;
    std::size_t copied = 0;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const std::size_t v = CredentialValueAt(text, at);
        if (v == std::string_view::npos || v == text.size()) {
            continue;
        }
        const bool inPqopt = std::any_of(spans.begin(), spans.end(), [at](const auto& span) {
            return at >= span.first && at < span.second;
        });
        std::size_t begin = v;
        std::size_t end = 0;
        std::size_t next = 0;
        if (text[v] == '{') {
            begin = v + 1;
            const Braced braced = BracedValue(text, v);
            end = braced.insideEnd;
            next = braced.end;
        } else if (inPqopt && text[v] == '\'') {
            begin = v + 1;
            end = QuotedInsideEnd(text, v);
            next = std::min(end + 1, text.size());
        } else if (inPqopt) {
            end = v;
            while (end < text.size() && !IsSpace(text[end]) && text[end] != '}') {
                ++end;
            }
            next = end;
        } else {
            end = std::min(text.find(';', v), text.size());
            next = end;
        }
        if (end > begin) {
            out.append(text.substr(copied, begin - copied)).append(kRedacted);
            copied = end;
        }
        at = next - 1;
    }
    out.append(text.substr(copied));

    for (const std::string& secret : m_secrets) {
        for (std::size_t at = out.find(secret); at != std::string::npos;
             at = out.find(secret, at)) {
            const std::size_t after = at + secret.size();
            const bool token =
                (at == 0 || !IsAlnum(out[at - 1])) && (after == out.size() || !IsAlnum(out[after]));
            if (secret.size() >= 4 || token) {
                out.replace(at, secret.size(), kRedacted);
                at += kRedacted.size();
            } else {
                ++at;
            }
        }
    }
    return out;
}

std::string Redactor::Describe(const Failure& failure) const {
    if (failure.driverText().empty()) {
        return failure.description();
    }
    return failure.context() + FlattenLine(Apply(failure.driverText()));
}

}  // namespace brimlet
