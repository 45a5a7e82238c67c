#include "common/redact.h"

#include <algorithm>

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
    std::string out(text);
    for (const std::string& secret : m_secrets) {
        for (std::size_t at = out.find(secret); at != std::string::npos;
             at = out.find(secret, at + kRedacted.size())) {
            out.replace(at, secret.size(), kRedacted);
        }
    }
    return out;
}

}  // namespace brimlet
