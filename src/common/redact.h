#pragma once
// Credentials kept out of every text the program writes: drivers and the driver manager echo
// parts of the connection string in their messages, password included.
#include <string>
#include <string_view>
#include <vector>

namespace brimlet {

inline constexpr std::string_view kRedacted = "***";

// The literal values of the PWD and Password keys (any case) of an ODBC connection string, in
// every form a driver may echo: as written, trimmed, and a {braced} value without its braces
// and with "}}" read as "}". A value whose brace is never closed runs to the end of the text;
// a key is also found inside such a value, where the driver manager gives up parsing.
std::vector<std::string> CredentialValues(std::string_view connectionString);

class Redactor {
  public:
    // Adds the credential values of a connection string to the secrets.
    void AddConnectionString(std::string_view connectionString);
    // `text` with every secret replaced by kRedacted, the longest first.
    std::string Apply(std::string_view text) const;
    bool Empty() const { return m_secrets.empty(); }

  private:
    std::vector<std::string> m_secrets;
};

}  // namespace brimlet
