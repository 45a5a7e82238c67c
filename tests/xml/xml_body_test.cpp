#include "xml/xml_body.h"

#include <gtest/gtest.h>

#include <chrono>
#include <clocale>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/temp_dir.h"

namespace brimlet {
namespace {

ComponentRow Row(std::string_view type, std::string_view name = "n") {
    ComponentRow row;
    row.type = type;
    row.name = name;
    return row;
}

// The body of rows in database order, planned and written as the program does it; the rows
// left out go to `onLeftOut` in database order.
std::string Body(const std::vector<ComponentRow>& rows,
                 const std::function<void(const ComponentRow&)>& onLeftOut = {}) {
    std::vector<std::string_view> types;
    for (const ComponentRow& row : rows) {
        types.push_back(row.type);
    }
    const BodyPlan plan = PlanBody(types);
    if (onLeftOut) {
        for (const std::size_t i : plan.leftOut) {
            onLeftOut(rows[i]);
        }
    }
    XmlBodyWriter writer;
    ForEachBodyRow(plan, [&](std::size_t i, const std::string& key) { writer.Add(rows[i], key); });
    return writer.Finish();
}

// The row element the grammar gives for a row with only a name set.
std::string Element(const std::string& key, const std::string& name) {
    return "<" + key + " name=\"" + name +
           "\" version=\"\" agentversion=\"\" state=\"\" path=\"\" isregrequired=\"0\">"
           "<md5checksum><![CDATA[]]></md5checksum><description><![CDATA[]]></description>"
           "<dependencychk><![CDATA[]]></dependencychk></" +
           key + ">";
}

TEST(XmlBodyTest, SingleRowGivesTheDocumentedBodyByteForByte) {
    ComponentRow row;
    row.type = " DLL";
    row.name = "a.dll";
    row.binaryVersion = "1.2";
    row.agentVersion = "3.4";
    row.state = "A";
    row.filepath = "bin";
    row.isRegRequired = true;
    row.md5Value = "m";
    row.description = "d";
    row.dependencyChk = "c";
    EXPECT_EQ(Body({row}),
              "<dllfiles><dll name=\"a.dll\" version=\"1.2\" agentversion=\"3.4\" state=\"A\" "
              "path=\"bin\" isregrequired=\"1\"><md5checksum><![CDATA[m]]></md5checksum>"
              "<description><![CDATA[d]]></description><dependencychk><![CDATA[c]]>"
              "</dependencychk></dll></dllfiles>");
}

TEST(XmlBodyTest, NoRowsGiveEmptyBodyAndNullsGiveEmptyValues) {
    EXPECT_EQ(Body({}), "");
    EXPECT_EQ(Body({Row("exe", "")}), "<exefiles>" + Element("exe", "") + "</exefiles>");
}

TEST(XmlBodyTest, TypesWithTheSameKeyFormOneGroupInDatabaseOrder) {
    const std::vector<ComponentRow> rows = {Row("DLL", "1"), Row("sys", "2"),  Row(" dll", "3"),
                                            Row("Exe", "4"), Row("dll ", "5"), Row("SYS", "6")};
    EXPECT_EQ(Body(rows), "<dllfiles>" + Element("dll", "1") + Element("dll", "3") +
                              Element("dll", "5") + "</dllfiles><exefiles>" + Element("exe", "4") +
                              "</exefiles><sysfiles>" + Element("sys", "2") + Element("sys", "6") +
                              "</sysfiles>");
}

// Whatever locale the run was started with: the scheduler's is often C.
TEST(XmlBodyTest, KeysAreLowerCasedAsUnicodeUnderEveryLocale) {
    const std::string saved = std::setlocale(LC_ALL, nullptr);
    const std::vector<std::pair<std::string, std::string>> keys = {
        {"\xC3\x84pp", "\xC3\xA4pp"},                              // Äpp
        {"\xC3\x84PP ", "\xC3\xA4pp"},                             // "ÄPP "
        {"\xD0\x94\xD0\x9B\xD0\x9B", "\xD0\xB4\xD0\xBB\xD0\xBB"},  // ДЛЛ
        {"\xF0\x90\x90\x80x", "\xF0\x90\x90\xA8x"},                // Deseret capital long I
        {"A\xFF\xC3\x84", "a\xFF\xC3\xA4"},                        // invalid byte kept
    };
    for (const char* locale : {"C", "C.UTF-8", "de_DE.UTF-8"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr) {
            continue;
        }
        SCOPED_TRACE(locale);
        for (const auto& [type, key] : keys) {
            EXPECT_EQ(TypeKey(type), key) << type;
        }
        const std::vector<ComponentRow> rows = {Row("\xC3\xA4pp", "1"), Row("\xC3\x84pp", "2"),
                                                Row("Exe", "3"), Row("\xC3\x84PP ", "4")};
        const std::string a = "\xC3\xA4pp";
        EXPECT_EQ(Body(rows), "<exefiles>" + Element("exe", "3") + "</exefiles><" + a + "files>" +
                                  Element(a, "1") + Element(a, "2") + Element(a, "4") + "</" + a +
                                  "files>");
    }
    std::setlocale(LC_ALL, saved.c_str());
}

TEST(XmlBodyTest, TypesThatCannotNameAnElementAreLeftOutAndReported) {
    const std::vector<ComponentRow> rows = {
        Row("", "empty"),     Row("   ", "blank"), Row("my dll", "inner"), Row("1dll", "digit"),
        Row("dl<l", "angle"), Row("a:b", "colon"), Row("dll\t", "tab"),    Row("\xff", "utf8"),
        Row("-x", "dash"),    Row("_x", "ok1"),    Row("d-1.x", "ok2"),    Row("\xC3\xBC", "ok3"),
    };
    std::vector<std::string> reported;
    const std::string body =
        Body(rows, [&](const ComponentRow& row) { reported.emplace_back(row.name); });
    EXPECT_EQ(reported, (std::vector<std::string>{"empty", "blank", "inner", "digit", "angle",
                                                  "colon", "tab", "utf8", "dash"}));
    EXPECT_EQ(body, "<_xfiles>" + Element("_x", "ok1") + "</_xfiles><d-1.xfiles>" +
                        Element("d-1.x", "ok2") +
                        "</d-1.xfiles><\xC3\xBC"
                        "files>" +
                        Element("\xC3\xBC", "ok3") +
                        "</\xC3\xBC"
                        "files>");
}

TEST(XmlBodyPlanTest, GroupsByKeyInByteOrderAndKeepsDatabaseOrderInside) {
    struct Case {
        std::vector<std::string_view> types;
        std::vector<std::size_t> order;
        std::vector<std::pair<std::string, std::size_t>> groups;
        std::vector<std::size_t> leftOut;
    };
    const std::vector<Case> cases = {
        {{}, {}, {}, {}},
        {{"b", "a", "B ", "A", " a"}, {1, 3, 4, 0, 2}, {{"a", 3}, {"b", 2}}, {}},
        // Keys compare as bytes: "Z" sorts before "a" only until it is lower-cased.
        {{"Zz", "a_", "\xC3\xA4", "_"},
         {3, 1, 0, 2},
         {{"_", 1}, {"a_", 1}, {"zz", 1}, {"\xC3\xA4", 1}},
         {}},
        {{"1x", "x", "", "x y", "X"}, {1, 4}, {{"x", 2}}, {0, 2, 3}},
        {{"", " "}, {}, {}, {0, 1}},
    };
    for (const Case& c : cases) {
        const BodyPlan plan = PlanBody(c.types);
        EXPECT_EQ(plan.order, c.order);
        std::vector<std::pair<std::string, std::size_t>> groups;
        for (const BodyGroup& g : plan.groups) {
            groups.emplace_back(g.key, g.rows);
        }
        EXPECT_EQ(groups, c.groups);
        EXPECT_EQ(plan.leftOut, c.leftOut);
    }
}

// Against the plain definition: a stable sort by TypeKey of the rows with a valid key.
TEST(XmlBodyPlanTest, AgreesWithAStableSortByKeyOnManyMixedTypes) {
    const std::vector<std::string> pool = {"dll", "DLL ", " Dll",       "exe",        "EXE", "1bad",
                                           "",    "a:b",  "\xC3\x84pp", "\xC3\xA4PP", "sys", "_"};
    std::mt19937 gen(11);
    std::uniform_int_distribution<std::size_t> pick(0, pool.size() - 1);
    std::vector<std::string_view> types;
    for (int i = 0; i < 5000; ++i) {
        types.push_back(pool[pick(gen)]);
    }
    std::vector<std::size_t> expected;
    std::vector<std::size_t> leftOut;
    for (std::size_t i = 0; i < types.size(); ++i) {
        (IsXmlElementName(TypeKey(types[i])) ? expected : leftOut).push_back(i);
    }
    std::stable_sort(expected.begin(), expected.end(), [&](std::size_t a, std::size_t b) {
        return TypeKey(types[a]) < TypeKey(types[b]);
    });
    const BodyPlan plan = PlanBody(types);
    EXPECT_EQ(plan.order, expected);
    EXPECT_EQ(plan.leftOut, leftOut);
    std::size_t row = 0;
    ForEachBodyRow(plan, [&](std::size_t i, const std::string& key) {
        EXPECT_EQ(i, expected[row++]);
        EXPECT_EQ(key, TypeKey(types[i]));
    });
    EXPECT_EQ(row, expected.size());
}

TEST(XmlBodyTest, AttributeValuesAreEscapedAndForbiddenCharactersDropped) {
    std::string out;
    AppendAttributeValue(out, "a\"b<c>&d");
    EXPECT_EQ(out, "a&quot;b&lt;c&gt;&amp;d");
    out.clear();
    // Controls go, TAB CR LF stay, U+FFFE goes, a stray byte becomes U+FFFD, valid UTF-8 stays.
    AppendAttributeValue(out, std::string("x\x01\x1f\x7f\t\r\n\xEF\xBF\xBEy\xC3(\xE2\x82\xAC", 16) +
                                  std::string(1, '\0') + "z");
    EXPECT_EQ(out,
              "x\x7f\t\r\ny\xEF\xBF\xBD(\xE2\x82\xAC"
              "z");
}

TEST(XmlBodyTest, CDataTerminatorsAreSplitEvenWhenADroppedCharacterHidesThem) {
    const auto cdata = [](std::string_view v) {
        std::string out;
        AppendCDataContent(out, v);
        return out;
    };
    EXPECT_EQ(cdata("x]]>y"), "x]]]]><![CDATA[>y");
    EXPECT_EQ(cdata("]]]>"), "]]]]]><![CDATA[>");
    EXPECT_EQ(cdata("]]\x01>"), "]]]]><![CDATA[>");
    EXPECT_EQ(cdata("a>b]]c<&\""), "a>b]]c<&\"");
    // Surrogates and overlong forms are not UTF-8.
    EXPECT_EQ(cdata("\xED\xA0\x80|\xC0\xAF"),
              "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD|"
              "\xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(XmlBodyTest, DocumentHeadFollowsTheWrapperLayout) {
    EXPECT_EQ(DocumentHead("12/07/2026 14:05:09", "", "u]]>v"),
              "<brimlet><createdatetime>12/07/2026 14:05:09</createdatetime><purl><![CDATA[]]>"
              "</purl><surl><![CDATA[u]]]]><![CDATA[>v]]></surl>");
}

TEST(XmlBodyTest, HostileValuesStillGiveWellFormedXml) {
    if (std::system("command -v xmllint >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "xmllint not installed";
    }
    ComponentRow row;
    row.type = "Dll";
    row.name = "\"><evil a='&amp;";
    row.binaryVersion = "1<2";
    row.agentVersion = "&";
    row.state = "\x02";
    row.filepath = "C:\\a\\b\xff";
    row.md5Value = "]]>";
    row.description = "]]]]>>]]\x0b><![CDATA[";
    row.dependencyChk = "\xEF\xBF\xBF</dependencychk>";
    const std::string body = Body({row, Row("dll", "second")});
    test::TempDir dir;
    test::WriteFile(dir / "body.xml", "<brimlet>" + body + "</brimlet>");
    EXPECT_EQ(std::system(("xmllint --noout " + (dir / "body.xml")).c_str()), 0) << body;
    EXPECT_NE(body.find("<dll name=\"second\""), std::string::npos);
}

TEST(XmlBodyTest, StreamedBodyIsTheHeldBodyInPiecesBetweenRows) {
    std::vector<std::string> names;
    for (int i = 0; i < 40; ++i) {
        names.push_back(std::string("n").append(std::to_string(i)).append("]]"));
    }
    auto build = [&](XmlBodyWriter& writer) {
        for (std::size_t i = 0; i < names.size(); ++i) {
            ComponentRow row = Row("x", names[i]);
            row.description = "]]>";
            writer.Add(row, i < 25 ? "dll" : "exe");
        }
        return writer.Finish();
    };
    XmlBodyWriter held;
    const std::string whole = build(held);
    std::vector<std::string> pieces;
    XmlBodyWriter streamed;
    streamed.StreamTo([&](std::string_view piece) { pieces.emplace_back(piece); }, 1000);
    EXPECT_EQ(build(streamed), "");
    ASSERT_GT(pieces.size(), 3u);
    std::string joined;
    for (const std::string& piece : pieces) {
        EXPECT_EQ(piece.back(), '>');
        joined += piece;
    }
    EXPECT_EQ(joined, whole);
}

TEST(XmlBodyTest, ManyRowsBuildInLinearTime) {
    std::vector<std::string> types = {"DLL", "exe", " sys", "Ini ", "drv"};
    const std::string name = "component_name_00.dll";
    const std::string path = "/opt/agent/bin/component_name_00.dll";
    const std::string md5 = "0123456789abcdef0123456789abcdef";
    const std::string text = "A component of the agent with a description of ordinary length.";
    std::vector<ComponentRow> rows(250'000);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        rows[i] = ComponentRow{types[i % types.size()],
                               name,
                               path,
                               md5,
                               "A",
                               "10.2.3",
                               "1.0.0.17",
                               text,
                               "none",
                               i % 2 == 0};
    }
    const auto start = std::chrono::steady_clock::now();
    const std::string body = Body(rows);
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // Generous for sanitizer builds; a quadratic build would take hours.
    EXPECT_LT(seconds, 15.0);
    // Every key has three letters, so every row element has the same length.
    const std::size_t groupTags = std::string("<dllfiles></dllfiles>").size();
    const std::size_t element = Body({rows[0]}).size() - groupTags;
    EXPECT_EQ(body.size(), 5 * groupTags + rows.size() * element);
    std::size_t groupStart = 0;
    for (const char* group :
         {"<dllfiles>", "<drvfiles>", "<exefiles>", "<inifiles>", "<sysfiles>"}) {
        const std::size_t at = body.find(group);
        ASSERT_NE(at, std::string::npos) << group;
        EXPECT_GE(at, groupStart) << group;
        EXPECT_EQ(body.find(group, at + 1), std::string::npos) << group;
        groupStart = at;
    }
}

}  // namespace
}  // namespace brimlet
