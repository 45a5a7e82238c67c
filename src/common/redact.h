#pragma once
// Credentials kept out of what the program writes: drivers and the driver manager echo parts of
// the connection string in their messages, password included, and sometimes cut it short.
// Only a driver's text is redacted; the program's own texts are written as they are.
#include <string>
#include <string_view>
#include <vector>

#include "common/failure.h"

namespace brimlet {

inline constexpr std::string_view kRedacted = "***";

// The literal values of the PWD and Password keys (any case) of an ODBC connection string, in
// every form a driver may echo: as written, trimmed, and a {braced} value without its braces
// and with "}}" read as "}". A value whose brace is never closed runs to the end of the text;
// a key is also found inside such a value, where the driver manager gives up parsing. The
// password of libpq's options inside pqopt={...} too, quoted or not.
std::vector<std::string> CredentialValues(std::string_view connectionString);

class Redactor {
  public:
    // Adds the credential values of a connection string to the secrets.
    void AddConnectionString(std::string_view connectionString);
    // A driver's text without credentials. After every PWD or Password key (any case, blanks
    // around "=" allowed), the value up to its ";" or closing brace, and inside pqopt={...} up
    // to a blank, "}" or its closing quote, becomes kRedacted, running to the end of the text
    // when the delimiter never comes (an echo cut short). Then every secret goes, the longest
    // first: anywhere when it has 4 characters or more, else as a whole token (between
    // non-alphanumerics). TABs and line breaks are left for the caller to flatten, after this.
    std::string Apply(std::string_view driverText) const;
    // The failure's description with only its driver text passed through Apply: what a writer
    // writes of a failure.
    std::string Describe(const Failure& failure) const;

  private:
    std::vector<std::string> m_secrets;
};

}  // namespace brimlet
