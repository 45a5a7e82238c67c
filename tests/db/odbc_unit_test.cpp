// Parts of the ODBC layer that need no server: conversions, connection-string handling, the
// in-memory sort.
#include <functional>
#include <initializer_list>
#include <string>

#include <gtest/gtest.h>

#include "db/odbc.h"
#include "db/odbc_testing.h"

namespace brimlet::db {
namespace {

TEST(Timeouts, NegativeSecondsAreRefusedWhereTheyAreSet) {
    Connection c;
    EXPECT_NO_THROW(c.SetConnectionTimeout(0));
    EXPECT_NO_THROW(c.SetCommandTimeout(2147483647));
    Command cmd;
    EXPECT_NO_THROW(cmd.SetCommandTimeout(0));
    for (const auto& set : std::initializer_list<std::function<void()>>{
             [&] { c.SetConnectionTimeout(-1); }, [&] { c.SetCommandTimeout(-1); },
             [&] { cmd.SetCommandTimeout(-2147483647 - 1); }}) {
        try {
            set();
            ADD_FAILURE() << "a negative time-out was accepted";
        } catch (const Failure& f) {
            EXPECT_EQ(f.number(), 3001);
        }
    }
    // Opening an unconfigured connection fails with the driver manager's text.
    EXPECT_THROW(c.Open(), Failure);
}

TEST(AppendParameter, ConvertsInputsAtOnceAndRefusesADateOutput) {
    Command cmd;
    EXPECT_NO_THROW(cmd.AppendParameter("@n", ParamType::Integer, ParamDirection::Input, 0, " -7"));
    EXPECT_EQ(cmd.ParameterValue("@n"), " -7");
    EXPECT_THROW(cmd.AppendParameter("@n", ParamType::Integer, ParamDirection::Input, 0, "7.0"),
                 Failure);
    EXPECT_THROW(cmd.AppendParameter("@d", ParamType::Date, ParamDirection::Input, 0, "today"),
                 Failure);
    EXPECT_THROW(cmd.AppendParameter("@d", ParamType::Date, ParamDirection::Output, 0), Failure);
    EXPECT_THROW(cmd.AppendParameter("@v", ParamType::VarChar, ParamDirection::Input, -1, "x"),
                 Failure);
}

TEST(TimestampFromText, ReadsMonthDayYearWithAnyDateSeparator) {
    auto ts = TimestampFromText("02/29/2024 23:05:09");
    EXPECT_EQ(ts.year, 2024);
    EXPECT_EQ(ts.month, 2);
    EXPECT_EQ(ts.day, 29);
    EXPECT_EQ(ts.hour, 23);
    EXPECT_EQ(ts.minute, 5);
    EXPECT_EQ(ts.second, 9);
    ts = TimestampFromText(" 12/31.1999 00:00:00 ");
    EXPECT_EQ(ts.year, 1999);
    EXPECT_EQ(ts.month, 12);
    EXPECT_EQ(ts.day, 31);
    for (const char* bad : {"", "02/30/2024 10:00:00", "02/29/2023 10:00:00", "13/01/2024 10:00:00",
                            "01/01/2024 24:00:00", "01/01/2024 10:60:00", "1/1/2024 10:00:00",
                            "01012024 10:00:00", "01/01/2024T10:00:00", "01/01/2024 10:00",
                            "00/10/2024 10:00:00", "01/00/2024 10:00:00"}) {
        EXPECT_THROW(TimestampFromText(bad), Failure) << bad;
    }
}

TEST(EffectiveConnectionString, AddsTheConnectTimeOutAndCharsetForMariaDbOnly) {
    EXPECT_EQ(EffectiveConnectionString("Driver=MariaDB Unicode;Server=h", 7, ""),
              "Driver=MariaDB Unicode;Server=h;CONN_TIMEOUT=7;CHARSET=utf8mb4");
    EXPECT_EQ(EffectiveConnectionString("DRIVER={MariaDB Unicode};Server=h;", 3, ""),
              "DRIVER={MariaDB Unicode};Server=h;CONN_TIMEOUT=3;CHARSET=utf8mb4");
    EXPECT_EQ(EffectiveConnectionString("Driver=/usr/lib/libmaodbc.so;Server=h", 3, ""),
              "Driver=/usr/lib/libmaodbc.so;Server=h;CONN_TIMEOUT=3;CHARSET=utf8mb4");
    EXPECT_EQ(EffectiveConnectionString("DSN=shop", 4, "MariaDB Unicode"),
              "DSN=shop;CONN_TIMEOUT=4;CHARSET=utf8mb4");
    // A character set of the string's or the DSN's own is kept.
    EXPECT_EQ(EffectiveConnectionString("DSN=shop", 4, "MariaDB Unicode", "latin1"),
              "DSN=shop;CONN_TIMEOUT=4");
    EXPECT_EQ(EffectiveConnectionString("Driver=MariaDB;charset=latin1", 0, ""),
              "Driver=MariaDB;charset=latin1");
    // The string's own setting wins; 0 (no limit) adds nothing; other drivers are left alone.
    EXPECT_EQ(EffectiveConnectionString("Driver=MariaDB;conn_timeout=9", 3, ""),
              "Driver=MariaDB;conn_timeout=9;CHARSET=utf8mb4");
    EXPECT_EQ(EffectiveConnectionString("Driver=MariaDB;Server=h", 0, ""),
              "Driver=MariaDB;Server=h;CHARSET=utf8mb4");
    EXPECT_EQ(EffectiveConnectionString("Driver=FreeTDS;Server=h", 3, ""),
              "Driver=FreeTDS;Server=h");
    // psqlODBC: no communication log, and rows fetched through a cursor, unless the string or
    // the DSN sets its own.
    const std::string fetch = ";UseDeclareFetch=1;Fetch=" + std::to_string(kPsqlOdbcFetchRows);
    EXPECT_EQ(EffectiveConnectionString("Driver=PostgreSQL Unicode;Server=h", 3, ""),
              "Driver=PostgreSQL Unicode;Server=h;CommLog=0" + fetch);
    EXPECT_EQ(EffectiveConnectionString("Driver=/usr/lib/psqlodbcw.so;", 3, ""),
              "Driver=/usr/lib/psqlodbcw.so;CommLog=0" + fetch);
    EXPECT_EQ(EffectiveConnectionString("DSN=pg", 3, "PostgreSQL Unicode"),
              "DSN=pg;CommLog=0" + fetch);
    EXPECT_EQ(EffectiveConnectionString("DSN=pg", 3, "PostgreSQL Unicode", "", true),
              "DSN=pg" + fetch);
    EXPECT_EQ(EffectiveConnectionString("DSN=pg", 3, "PostgreSQL Unicode", "", false, true),
              "DSN=pg;CommLog=0");
    EXPECT_EQ(
        EffectiveConnectionString("Driver=PostgreSQL ANSI;commlog=1;usedeclarefetch=0", 3, ""),
        "Driver=PostgreSQL ANSI;commlog=1;usedeclarefetch=0");
    EXPECT_EQ(EffectiveConnectionString("Driver=PostgreSQL ANSI;Debug=1;Fetch=50", 3, ""),
              "Driver=PostgreSQL ANSI;Debug=1;Fetch=50");
    EXPECT_EQ(ConnectionStringValue("Driver={a;b};Pwd= x ", "PWD"), "x");
    EXPECT_EQ(ConnectionStringValue("Driver={a;b};Pwd=x", "Driver"), "a;b");
}

// psqlODBC reads a "{call}" result whole even in its cursor mode, so calls with inputs only
// go to it as the SELECT it would make of them.
TEST(CallText, EscapeOrTheDriversOwnSelect) {
    EXPECT_EQ(CallText("P", 2, false), "{call P(?, ?)}");
    EXPECT_EQ(CallText("P", 0, false), "{call P}");
    EXPECT_EQ(CallText("P", 2, true), "SELECT * FROM P(?, ?)");
    EXPECT_EQ(CallText("P", 0, true), "SELECT * FROM P()");
}

TEST(ChooseTextBinding, NarrowOnlyWhereTheDriverIsKnownToDeliverUtf8) {
    constexpr auto N = TextBinding::Narrow;
    constexpr auto W = TextBinding::Wide;
    struct Case {
        const char* driver;
        const char* options;
        const char* dsnOptions;
        TextBinding expected;
    };
    for (const Case& c : std::initializer_list<Case>{
             {"psqlodbcw.so", "", "", N},
             {"/usr/lib/x86_64-linux-gnu/odbc/PSQLODBCW.SO", "", "", N},
             {"psqlodbca.so", "", "", W},  // the ANSI driver: client encoding not fixed
             {"libmaodbc.so", "CHARSET=utf8mb4", "", N},
             {"libmaodbc.so", "charset={UTF8}", "", N},
             {"libmaodbc.so", "CHARSET=utf8mb3", "", N},
             {"libmaodbc.so", "CHARSET=latin1", "", W},
             {"libmaodbc.so", "", "", W},  // none at all: the driver's default is not assumed
             {"libmaodbc.so", "", "CHARSET=utf8mb4", N},
             {"libmaodbc.so", "CHARSET=latin1", "CHARSET=utf8mb4", W},  // the string wins
             {"libtdsodbc.so", "ClientCharset=UTF-8", "", N},
             {"libtdsodbc.so", "clientcharset=utf8", "", N},
             {"libtdsodbc.so", "", "", W},
             {"libtdsodbc.so", "ClientCharset=ISO-8859-1", "", W},
             {"libtdsodbc.so", "", "ClientCharset=UTF-8", N},
             {"libtdsodbc.so", "CHARSET=utf8mb4", "", W},  // another driver's option
             {"libsqlite3odbc.so", "CHARSET=utf8mb4;ClientCharset=UTF-8", "", W},
             {"", "", "", W},
         }) {
        EXPECT_EQ(ChooseTextBinding(c.driver, c.options, c.dsnOptions), c.expected)
            << c.driver << " / " << c.options << " / " << c.dsnOptions;
    }
}

TEST(AppendUtf16AsUtf8, PairsSurrogatesAndReplacesLoneOnes) {
    struct Case {
        std::u16string units;
        std::string utf8;
    };
    for (const Case& c : std::initializer_list<Case>{
             {u"a\u00e9\u4e2d", "a\xc3\xa9\xe4\xb8\xad"},
             {u"\U0001F600x", "\xf0\x9f\x98\x80x"},
             {std::u16string(1, char16_t{0xD83D}) + u"x", "\xef\xbf\xbdx"},  // high alone
             {std::u16string(1, char16_t{0xDE00}), "\xef\xbf\xbd"},          // low alone
             {std::u16string(1, char16_t{0xD83D}), "\xef\xbf\xbd"},          // high at the end
             {u"\u07ff\u0800\uffff", "\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf"},
         }) {
        std::string out = "p";
        AppendUtf16AsUtf8(reinterpret_cast<const SQLWCHAR*>(c.units.data()), c.units.size(), out);
        EXPECT_EQ(out, "p" + c.utf8);
    }
}

// A set filled by hand, as the fetch fills it.
RecordSet MakeSet(const std::vector<std::string>& names,
                  const std::vector<std::vector<std::optional<std::string>>>& rows) {
    RecordSet rs;
    auto& d = OdbcTesting::Inside(rs);
    d.names = names;
    for (const auto& row : rows) {
        d.BeginRow();
        for (const auto& cell : row) {
            if (cell) {
                d.AddCell(cell->data(), cell->size());
            } else {
                d.AddNull();
            }
        }
    }
    for (std::uint32_t i = 0; i < rows.size(); ++i) {
        d.order.push_back(i);
    }
    d.open = true;
    return rs;
}

std::vector<std::string> Column(RecordSet& rs, std::string_view name) {
    std::vector<std::string> out;
    for (rs.MoveFirst(); !rs.Eof(); rs.MoveNext()) {
        auto v = rs.Field(name);
        out.push_back(v ? std::string(*v) : "<null>");
    }
    return out;
}

TEST(RecordSetKeepRows, SelectsAndOrdersByCurrentPositions) {
    RecordSet rs = MakeSet({"Type", "Name"}, {{"b", "1"}, {"A", "2"}, {"a ", "3"}, {"B", "4"}});
    rs.KeepRows({3, 1, 0});
    EXPECT_EQ(rs.RowCount(), 3u);
    EXPECT_EQ(Column(rs, "Name"), (std::vector<std::string>{"4", "2", "1"}));
    rs.KeepRows({2, 0});  // positions of the order just kept
    EXPECT_EQ(Column(rs, "Name"), (std::vector<std::string>{"1", "4"}));
    EXPECT_THROW(rs.KeepRows({2}), Failure);
    rs.KeepRows({});
    EXPECT_TRUE(rs.Eof());
}

TEST(RecordSet, EmptyClosedAndBooleanReads) {
    RecordSet closed;
    EXPECT_FALSE(closed.IsOpen());
    EXPECT_THROW(closed.Close(), Failure);
    EXPECT_THROW(closed.Eof(), Failure);

    RecordSet empty = MakeSet({"a"}, {});
    EXPECT_TRUE(empty.Bof());
    EXPECT_TRUE(empty.Eof());
    EXPECT_THROW(empty.Field("a"), Failure);
    empty.Close();
    EXPECT_THROW(empty.Close(), Failure);

    RecordSet flags =
        MakeSet({"f"}, {{"1"}, {"0"}, {std::nullopt}, {"true"}, {"f"}, {"-1"}, {"0.0"}, {"maybe"}});
    std::vector<bool> seen;
    for (int i = 0; i < 7; ++i) {
        seen.push_back(flags.FieldBool(0));
        flags.MoveNext();
    }
    EXPECT_EQ(seen, (std::vector<bool>{true, false, false, true, false, true, false}));
    EXPECT_THROW(flags.FieldBool(0), Failure);
    // NULL and the empty text stay apart.
    RecordSet cells = MakeSet({"a", "b", "c"}, {{std::nullopt, "", "x"}, {"yz", std::nullopt, ""}});
    EXPECT_EQ(cells.Field("a"), std::nullopt);
    EXPECT_EQ(cells.Field("b"), "");
    EXPECT_EQ(cells.Field("c"), "x");
    cells.MoveNext();
    EXPECT_EQ(cells.Field("a"), "yz");
    EXPECT_EQ(cells.Field("b"), std::nullopt);
    EXPECT_EQ(cells.Field("c"), "");
}

}  // namespace
}  // namespace brimlet::db
