// The link's name and the settings decide where a run writes, on PostgreSQL: names whose parts
// would lead outside <srvpath>/<AGENT>/, names with dots, a relative srvpath.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <regex>

#include "fault_case.h"

namespace brimlet::faults {
namespace {

using test::Backend;

// Every entry below root (symlinks not followed) with what a creation, replacement or write
// changes: inode, size and, for regular files, the bytes.
std::map<std::string, std::string> Snapshot(const std::string& root) {
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        struct stat st {};
        EXPECT_EQ(::lstat(e.path().c_str(), &st), 0) << e.path();
        std::string& entry = out[e.path().string()];
        entry.append(std::to_string(st.st_ino)).append(" ").append(std::to_string(st.st_size));
        if (S_ISREG(st.st_mode)) {
            entry.append(" ").append(test::ReadFile(e.path().string()));
        }
    }
    return out;
}

class NameFaultTest : public ::testing::Test {
  protected:
    void SetUp() override {
        BRIMLET_REQUIRE_BACKEND(Backend::Pg);
        db = std::make_unique<test::TestDatabase>(Backend::Pg);
        LoadSchema(*db, 0);
    }
    std::size_t ChecksumRows() {
        return db->Query("SELECT md5_string FROM mst_agent_xml_checksum").size();
    }
    std::unique_ptr<test::TestDatabase> db;
};

TEST_F(NameFaultTest, PartsThatLeadOutOfTheAgentFolderAreRefused) {
    // Agent and OS as a plain split gives them, and rows for that pair, so that a run that
    // took the name would publish at <srvpath>/<agent>/Brimlet_<agent>_<os>.xml.
    const std::vector<std::pair<std::string, std::string>> pairs = {
        {"..", "X"}, {"", "X"}, {"A", ""}, {".", "X"}, {"A", ".."}};
    for (const auto& [agent, os] : pairs) {
        db->Exec(ComponentInserts(Backend::Pg, 2, agent, os));
    }
    for (const auto& [agent, os] : pairs) {
        const std::string name = std::string("p_").append(agent).append("_").append(os);
        SCOPED_TRACE(name);
        // The tree above the output root, with a document wherever such a run would write.
        RunSite site(name, agent, os, "www/out");
        const std::string www = site.dir / "www";
        std::filesystem::create_directories(site.out + "/A");
        test::WriteFile(site.xml, "previous document\r\n");
        site.WriteSettings(db->ConnectionString());
        const auto before = Snapshot(www);
        const auto r = site.Run();
        EXPECT_EQ(r.exitStatus, 1);
        EXPECT_EQ(Snapshot(www), before);
        const auto log = site.Log();
        EXPECT_EQ(
            test::EntryTexts(log),
            (std::vector<std::string>{"modMain|Main|MSG|START||",
                                      "modMain|Main|MSG|OS Type and Agent Type not supplied.||",
                                      "modMain|Main|MSG|END||"}))
            << log.raw;
        EXPECT_EQ(ChecksumRows(), 0u);
    }
}

TEST_F(NameFaultTest, DotsBelongToTheOsPart) {
    db->Exec(ComponentInserts(Backend::Pg, 2, "KA", "WIN.64"));
    db->Exec(ComponentInserts(Backend::Pg, 4, "KA", "WIN"));
    RunSite site("pub_KA_WIN.64", "KA", "WIN.64");
    site.WriteSettings(db->ConnectionString());
    const std::string other = site.agentDir + "/Brimlet_KA_WIN.xml";
    test::WriteFile(other, "the KA/WIN document\r\n");
    const auto r = site.Run();
    EXPECT_EQ(r.exitStatus, 0) << site.Log().raw;
    EXPECT_EQ(site.xml, site.agentDir + "/Brimlet_KA_WIN.64.xml");
    EXPECT_TRUE(IsCompleteDocument(site.Document(), 2));
    EXPECT_EQ(test::ReadFile(other), "the KA/WIN document\r\n");
    const std::string logFile = test::FindLogFile(site.dir.path());
    EXPECT_TRUE(std::regex_match(logFile.substr(logFile.rfind('/') + 1),
                                 std::regex(R"(pub_KA_WIN\.64_\d{8}\.log)")))
        << logFile;
    const auto log = site.Log();
    ASSERT_FALSE(log.header.empty());
    EXPECT_EQ(log.header[0], "#Software: TULO.KEM.DC.pub_KA_WIN.64");
    const auto rows = db->Query("SELECT agent_type, os FROM mst_agent_xml_checksum");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "KA");
    EXPECT_EQ(rows[0][1], "WIN.64");
}

TEST_F(NameFaultTest, RelativeSrvpathIsBesideTheProgramNotTheWorkingDirectory) {
    db->Exec(ComponentInserts(Backend::Pg, 3, "FA", "LNX"));
    RunSite site;
    site.WriteSettings(db->ConnectionString(), "10", "30", {"srvpath=out"});
    // A working directory with an output tree of the same relative name.
    const std::string cwd = site.dir / "elsewhere";
    for (const std::string& d : {cwd, cwd + "/out", cwd + "/out/FA"}) {
        ASSERT_EQ(::mkdir(d.c_str(), 0755), 0);
    }
    const auto before = Snapshot(cwd);
    const auto r = test::RunProgram(site.link, site.link, cwd, {"LC_ALL=C"});
    EXPECT_EQ(r.exitStatus, 0) << site.Log().raw;
    EXPECT_TRUE(IsCompleteDocument(site.Document(), 3));
    EXPECT_EQ(Snapshot(cwd), before);
    EXPECT_FALSE(HasEntry(site.Texts(), "modMain|getConDtls|ERR|"));
}

}  // namespace
}  // namespace brimlet::faults
