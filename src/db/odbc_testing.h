#pragma once
// The layer's inside, for its own tests only; the program never includes this header.
#include "db/odbc.h"
#include "db/odbc_internal.h"

namespace brimlet::db {

struct OdbcTesting {
    // A set to fill by hand as the fetch fills it; the binding Open() chose, to read or override.
    static RecordSet::Impl& Inside(const RecordSet& rs) { return rs.impl(); }
    static Connection::Impl& Inside(const Connection& c) { return c.impl(); }
};

}  // namespace brimlet::db
