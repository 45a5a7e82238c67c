#include "run/publisher.h"

#include "common/failure.h"
#include "run/checksum_update.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/e2e.h"
#include "support/md5.h"
#include "support/temp_dir.h"
#include "xml/xml_body.h"

namespace brimlet {
namespace {

class FixedClock : public Clock {
  public:
    std::time_t Now() const override { return 1796652309; }  // 2026-12-07
    void SleepMs(int) const override {}
};

struct Entry {
    std::string function, type, val1, val2, val3;
};

// The directory's entries but the document's lock file, which stays once made.
std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        return names;
    }
    while (const dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != ".." && name != ".Brimlet_A_B.xml.lock") {
            names.push_back(name);
        }
    }
    ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

using Producer = std::function<void(const TextSink&, const SinkSettle&)>;

// The component query's outcome as a test chooses it.
class FakeBody : public DocumentBody {
  public:
    FakeBody(BodyStatus status, Producer producer)
        : m_status(status), m_producer(std::move(producer)) {}
    BodyStatus Status() const override { return m_status; }
    void WriteTo(const TextSink& sink, const SinkSettle& settle) override {
        m_producer(sink, settle);
    }

  private:
    BodyStatus m_status;
    Producer m_producer;
};

class PublisherTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::mkdir((m_dir / "Log").c_str(), 0777);
        ::mkdir((m_dir / "out").c_str(), 0777);
        m_ctx.agentType = "A";
        m_ctx.osType = "B";
        m_ctx.purl = "http://p/x?a=1&b=2";
        m_ctx.surl = "http://s/]]>";
        m_ctx.xmlPath = m_dir / "out/Brimlet_A_B.xml";
        m_ctx.log.clock = &m_clock;
        m_ctx.log.exeDir = m_dir.path();
        m_ctx.log.exeName = "x_A_B";
        InitLogFile(m_ctx.log);
    }

    void Publish(BodyStatus status, const std::string& body = {},
                 const Cipher& cipher = DocumentCipher()) {
        FakeBody fake(status, [&body](const TextSink& sink, const SinkSettle&) { sink(body); });
        Begin();
        PublishDocument(m_ctx, fake, cipher);
        Settle();
    }

    // What Main does once the document's path is known.
    void Begin() { m_ctx.publication = std::make_shared<Publication>(m_ctx.xmlPath); }
    // What SubUpdateXmlCheckSum does once the call's outcome is known.
    void Settle() { SettlePublication(m_ctx.log, *m_ctx.publication, m_record); }

    // Rows whose body comes from `producer`.
    void PublishProduced(Producer producer) {
        FakeBody fake(BodyStatus::Rows, std::move(producer));
        Begin();
        PublishDocument(m_ctx, fake, DocumentCipher());
        Settle();
    }

    std::string Document(const std::string& body) const {
        return DocumentHead(DateTimeText(m_clock.Now()), m_ctx.purl, m_ctx.surl) + body +
               std::string(kDocumentTail);
    }

    std::vector<Entry> Entries() const {
        std::vector<Entry> entries;
        for (const auto& c : test::CheckedEntries(test::ReadLog(m_ctx.log.logFilePath))) {
            entries.push_back({c[1], c[2], c[3], c[4], c[5]});
        }
        return entries;
    }

    std::vector<std::string> Val1s() const {
        std::vector<std::string> v;
        for (const Entry& e : Entries()) {
            v.push_back(e.type + " " + e.val1);
        }
        return v;
    }

    test::TempDir m_dir;
    FixedClock m_clock;
    RunContext m_ctx;
    RecordOutcome m_record = RecordOutcome::Made;
};

const std::string kBody = "<dllfiles><dll name=\"a\"></dll></dllfiles>";

TEST_F(PublisherTest, FirstPublicationWritesTheEncryptedDocumentAndCrLf) {
    Publish(BodyStatus::Rows, kBody);
    EXPECT_EQ(test::ReadFile(m_ctx.xmlPath), DocumentCipher().Encrypt(Document(kBody)) + "\r\n");
    EXPECT_EQ(DocumentCipher().Decrypt(test::ReadFile(m_ctx.xmlPath)), Document(kBody));
    EXPECT_EQ(Val1s(), (std::vector<std::string>{"MSG Created new xml file"}));
    EXPECT_EQ(Entries().back().val2, m_ctx.xmlPath);
    EXPECT_TRUE(m_ctx.published);
    EXPECT_EQ(Listing(m_dir / "out"), std::vector<std::string>{"Brimlet_A_B.xml"});
}

TEST_F(PublisherTest, ReplacingTheOldDocumentIsLoggedAsItsDeletion) {
    test::WriteFile(m_ctx.xmlPath, "old\r\n");
    Publish(BodyStatus::Rows, kBody);
    Publish(BodyStatus::Rows, kBody + kBody);
    EXPECT_EQ(DocumentCipher().Decrypt(test::ReadFile(m_ctx.xmlPath)), Document(kBody + kBody));
    EXPECT_EQ(Val1s(),
              (std::vector<std::string>{"MSG Deleted Old xml file", "MSG Created new xml file",
                                        "MSG Deleted Old xml file", "MSG Created new xml file"}));
    EXPECT_EQ(Listing(m_dir / "out"), std::vector<std::string>{"Brimlet_A_B.xml"});
}

TEST_F(PublisherTest, FailuresKeepTheOldDocumentUntouched) {
    test::WriteFile(m_ctx.xmlPath, "old\r\n");
    Publish(BodyStatus::Failed);
    Publish(BodyStatus::Rows, kBody, Cipher());  // no key: encryption fails
    // A write refused past the file-size limit, from inside the streamed encryption.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit small{rlim_t{64} * 1024, limit.rlim_max};
    ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    Publish(BodyStatus::Rows, std::string(300000, 'x'));
    // The body goes on while the writer has failed behind it, then fails itself: the write
    // came first, so it is the one entry, and the body's own report is never made.
    PublishProduced([&](const TextSink& sink, const SinkSettle& settle) {
        for (int i = 0; i < 64; ++i) {
            sink(std::string(64 * 1024, 'y'));  // may meet the writer's failure: it passes
        }
        settle();
        WriteLog(m_ctx.log, "modMain", "FncCreateXMLString", "ERR", "13", "body", "270");
        throw BodyAbandoned();
    });
    ::setrlimit(RLIMIT_FSIZE, &limit);
    ::signal(SIGXFSZ, SIG_DFL);
    EXPECT_EQ(test::ReadFile(m_ctx.xmlPath), "old\r\n");
    EXPECT_FALSE(m_ctx.published);
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].type, "ERR");
    EXPECT_EQ(entries[0].val2, "Encryption failed: no key set; the old document is kept");
    EXPECT_EQ(entries[0].val3, "150");
    for (const Entry& e : {entries[1], entries[2]}) {
        EXPECT_EQ(e.function + " " + e.type + " " + e.val1 + " " + e.val3,
                  "SubCreateBrimletXML ERR 27 180");
    }
    EXPECT_EQ(Listing(m_dir / "out"), std::vector<std::string>{"Brimlet_A_B.xml"});

    // Without an old document a failed encryption leaves no file at all, not a bare line end.
    ::unlink(m_ctx.xmlPath.c_str());
    Publish(BodyStatus::Rows, kBody, Cipher());
    EXPECT_TRUE(Listing(m_dir / "out").empty());
}

// What the settling did is SubUpdateXmlCheckSum's entry, written once: the files of each case
// are publication_test.cpp's table.
TEST_F(PublisherTest, SettlementIsReportedOnceAsTheChecksumProceduresEntry) {
    const struct {
        const char* name;
        bool previous;
        RecordOutcome outcome;
        const char* entry;  // nullptr: none
    } cases[] = {
        {"recorded", true, RecordOutcome::Made, nullptr},
        {"not recorded", true, RecordOutcome::NotMade,
         "Checksum not updated in the database: the previous xml file is put back"},
        {"not recorded, first document", false, RecordOutcome::NotMade,
         "Checksum not updated in the database: the new xml file is removed"},
        {"outcome unknown", true, RecordOutcome::Unknown,
         "Checksum update outcome unknown: the previous xml file is put back"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ::unlink(m_ctx.xmlPath.c_str());
        if (c.previous) {
            test::WriteFile(m_ctx.xmlPath, "old\r\n");
        }
        m_record = c.outcome;
        Publish(BodyStatus::Rows, kBody);
        if (c.outcome == RecordOutcome::Made) {
            EXPECT_EQ(DocumentCipher().Decrypt(test::ReadFile(m_ctx.xmlPath)), Document(kBody));
        }
        const Entry last = Entries().back();
        EXPECT_EQ(last.function + " " + last.type + " " + last.val1 + " " + last.val2,
                  c.entry == nullptr
                      ? "SubCreateBrimletXML MSG Created new xml file " + m_ctx.xmlPath
                      : "SubUpdateXmlCheckSum MSG " + std::string(c.entry) + " " + m_ctx.xmlPath);
        // Settled once: a second word (the watchdog's) writes nothing.
        const std::size_t entries = Entries().size();
        SettlePublication(m_ctx.log, *m_ctx.publication, RecordOutcome::NotMade);
        EXPECT_EQ(Entries().size(), entries);
    }
    // An undo that fails is the procedure's error entry at its step.
    test::WriteFile(m_ctx.xmlPath, "old\r\n");
    m_record = RecordOutcome::NotMade;
    FakeBody fake(BodyStatus::Rows, [](const TextSink& sink, const SinkSettle&) { sink(kBody); });
    Begin();
    PublishDocument(m_ctx, fake, DocumentCipher());
    ::unlink(Publication::KeptPathFor(m_ctx.xmlPath).c_str());
    Settle();
    const Entry last = Entries().back();
    EXPECT_EQ(last.function + " " + last.type + " " + last.val3, "SubUpdateXmlCheckSum ERR 240");
    EXPECT_NE(last.val2.find("put back " + Publication::KeptPathFor(m_ctx.xmlPath)),
              std::string::npos)
        << last.val2;
}

TEST_F(PublisherTest, ProducedBodyStreamsIntoTheSameBytes) {
    const std::string body = kBody + std::string(200000, 'z') + kBody;
    PublishProduced([&](const TextSink& sink, const SinkSettle&) {
        for (std::size_t i = 0; i < body.size(); i += 7919) {
            sink(std::string_view(body).substr(i, 7919));
        }
    });
    EXPECT_TRUE(m_ctx.published);
    EXPECT_EQ(test::ReadFile(m_ctx.xmlPath), DocumentCipher().Encrypt(Document(body)) + "\r\n");
    EXPECT_EQ(m_ctx.writtenMd5, test::Md5Hex(test::ReadFile(m_ctx.xmlPath)));
    EXPECT_EQ(Val1s(), (std::vector<std::string>{"MSG Created new xml file"}));
}

TEST_F(PublisherTest, AbandonedBodyLeavesNoTraceAndLogsNothingMore) {
    const std::string big(300000, 'q');
    auto abandon = [&](const TextSink& sink, const SinkSettle&) {
        sink(big);  // enough to reach the file before the failure
        throw BodyAbandoned();
    };
    PublishProduced(abandon);
    EXPECT_TRUE(Listing(m_dir / "out").empty());
    test::WriteFile(m_ctx.xmlPath, "old\r\n");
    PublishProduced(abandon);
    EXPECT_EQ(test::ReadFile(m_ctx.xmlPath), "old\r\n");
    EXPECT_EQ(Listing(m_dir / "out"), std::vector<std::string>{"Brimlet_A_B.xml"});
    EXPECT_FALSE(m_ctx.published);
    EXPECT_EQ(Val1s(), std::vector<std::string>{});
}

TEST_F(PublisherTest, NoRowsRemoveTheOldDocument) {
    Publish(BodyStatus::NoRows);
    test::WriteFile(m_ctx.xmlPath, "old\r\n");
    Publish(BodyStatus::NoRows);
    EXPECT_FALSE(test::Exists(m_ctx.xmlPath));
    EXPECT_FALSE(m_ctx.published);
    EXPECT_TRUE(m_ctx.noData);
    EXPECT_EQ(Val1s(),
              (std::vector<std::string>{"MSG No Data available for B", "MSG Deleted Old xml file",
                                        "MSG No Data available for B"}));
    EXPECT_EQ(Entries().back().val2, "A");
}

// Where no document can be: below a plain file (the output root may be one), or a directory
// at the document's path. Nothing to delete: no data, and the entry stays.
TEST_F(PublisherTest, NoRowsWhereNoDocumentCanBeIsNoData) {
    test::WriteFile(m_dir / "root", "a file\n");
    ASSERT_EQ(::mkdir((m_dir / "out/Brimlet_A_B.xml").c_str(), 0755), 0);
    for (const std::string& xmlPath :
         {m_dir / "root/A/Brimlet_A_B.xml", m_dir / "out/Brimlet_A_B.xml"}) {
        SCOPED_TRACE(xmlPath);
        m_ctx.xmlPath = xmlPath;
        m_ctx.noData = false;
        const std::size_t before = Entries().size();
        Publish(BodyStatus::NoRows);
        const std::vector<std::string> all = Val1s();
        EXPECT_EQ(
            std::vector<std::string>(all.begin() + static_cast<std::ptrdiff_t>(before), all.end()),
            (std::vector<std::string>{"MSG No Data available for B"}));
        EXPECT_TRUE(m_ctx.noData);
    }
    EXPECT_EQ(test::ReadFile(m_dir / "root"), "a file\n");
    EXPECT_TRUE(test::Exists(m_dir / "out/Brimlet_A_B.xml"));
}

TEST_F(PublisherTest, NoUsableRowsKeepTheOldDocumentWithOneErrorEntry) {
    test::WriteFile(m_ctx.xmlPath, "old\r\n");
    Publish(BodyStatus::NoUsableRows);
    EXPECT_EQ(test::ReadFile(m_ctx.xmlPath), "old\r\n");
    EXPECT_FALSE(m_ctx.published);
    EXPECT_FALSE(m_ctx.noData);
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(
        entries[0].function + " " + entries[0].type + " " + entries[0].val1 + " " + entries[0].val3,
        "SubCreateBrimletXML ERR -1 80");
    EXPECT_EQ(entries[0].val2,
              "No xml file written: no row has a usable component type; the old document is kept");
    EXPECT_EQ(Listing(m_dir / "out"), std::vector<std::string>{"Brimlet_A_B.xml"});
}

TEST_F(PublisherTest, MissingDirectoryFailsAtTheOpeningStep) {
    m_ctx.xmlPath = m_dir / "missing/Brimlet_A_B.xml";
    Publish(BodyStatus::Rows, kBody);
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type, "ERR");
    EXPECT_EQ(entries[0].val1, "2");
    EXPECT_EQ(entries[0].val3, "170");
    EXPECT_FALSE(m_ctx.published);
}

TEST_F(PublisherTest, UnwritableDirectoryKeepsTheOldDocument) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into read-only directories; run as an ordinary user";
    }
    test::WriteFile(m_ctx.xmlPath, "old\r\n");
    ASSERT_EQ(::chmod((m_dir / "out").c_str(), 0555), 0);
    Publish(BodyStatus::Rows, kBody);
    Publish(BodyStatus::NoRows);
    ::chmod((m_dir / "out").c_str(), 0755);
    EXPECT_EQ(test::ReadFile(m_ctx.xmlPath), "old\r\n");
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type + entries[0].val3, "ERR170");
    EXPECT_EQ(entries[1].type + entries[1].val3, "ERR40");
    EXPECT_EQ(Listing(m_dir / "out"), std::vector<std::string>{"Brimlet_A_B.xml"});
}

// An old document of another account cannot be kept (fs.protected_hardlinks refuses the
// link), so it is not replaced, and the entry names its owner. The root stage of scripts/test
// runs this: the run is brimlet-test, the document brimlet-other's.
TEST_F(PublisherTest, RootStageOldDocumentOfAnotherAccountStaysAndItsOwnerIsNamed) {
    // getpwnam's answer lives in one static buffer: the numbers are copied at once.
    const passwd* other = ::geteuid() == 0 ? ::getpwnam("brimlet-other") : nullptr;
    const uid_t otherUid = other != nullptr ? other->pw_uid : 0;
    const gid_t otherGid = other != nullptr ? other->pw_gid : 0;
    const passwd* runner = ::geteuid() == 0 ? ::getpwnam("brimlet-test") : nullptr;
    if (other == nullptr || runner == nullptr) {
        GTEST_SKIP() << "needs root and the accounts brimlet-test and brimlet-other: run by the "
                        "root stage of scripts/test";
    }
    const uid_t runUid = runner->pw_uid;
    const gid_t runGid = runner->pw_gid;
    for (const std::string& path :
         {m_dir.path(), m_dir / "Log", m_dir / "out", m_ctx.log.logFilePath}) {
        (void)::chown(path.c_str(), runUid, runGid);
    }
    test::WriteFile(m_ctx.xmlPath, "old\r\n");
    ASSERT_EQ(::chmod(m_ctx.xmlPath.c_str(), 0644), 0);
    ASSERT_EQ(::chown(m_ctx.xmlPath.c_str(), otherUid, otherGid), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(runGid) != 0 || ::setuid(runUid) != 0) {
            ::_exit(2);
        }
        Publish(BodyStatus::Rows, kBody);
        ::_exit(m_ctx.published ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(test::ReadFile(m_ctx.xmlPath), "old\r\n");
    EXPECT_EQ(Listing(m_dir / "out"), std::vector<std::string>{"Brimlet_A_B.xml"});
    const auto entries = Entries();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].type + " " + entries[0].val3, "ERR 190");
    EXPECT_NE(entries[0].val2.find(m_ctx.xmlPath + " belongs to brimlet-other, another account, "
                                                   "so it cannot be kept and is not replaced"),
              std::string::npos)
        << entries[0].val2;
}

TEST_F(PublisherTest, ModeFollowsTheUmask) {
    for (const mode_t mask : {mode_t{022}, mode_t{027}, mode_t{077}}) {
        const mode_t old = ::umask(mask);
        Publish(BodyStatus::Rows, kBody);
        ::umask(old);
        struct stat st {};
        ASSERT_EQ(::stat(m_ctx.xmlPath.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0666 & ~mask) << std::oct << mask;
    }
}

TEST_F(PublisherTest, ConcurrentPublishersNeverMixTheirBytes) {
    // Bodies of several chunks each, so a non-atomic write would be caught half done.
    const std::vector<std::string> bodies = {std::string(300000, 'a'), std::string(200000, 'b')};
    std::set<std::string> valid;
    for (const auto& body : bodies) {
        valid.insert(DocumentCipher().Encrypt(Document(body)) + "\r\n");
    }
    std::vector<pid_t> children;
    for (const auto& body : bodies) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            m_ctx.log.logFilePath.clear();
            for (int i = 0; i < 60; ++i) {
                Publish(BodyStatus::Rows, body);
            }
            ::_exit(m_ctx.published ? 0 : 1);
        }
        children.push_back(pid);
    }
    int reads = 0;
    int mixed = 0;
    std::vector<int> statuses(children.size(), -1);
    for (std::size_t done = 0; done < children.size();) {
        if (test::Exists(m_ctx.xmlPath)) {
            const std::string content = test::ReadFile(m_ctx.xmlPath);
            ++reads;
            mixed += valid.count(content) == 0 ? 1 : 0;
        }
        for (std::size_t i = 0; i < children.size(); ++i) {
            int status = 0;
            if (statuses[i] == -1 && ::waitpid(children[i], &status, WNOHANG) == children[i]) {
                statuses[i] = status;
                ++done;
            }
        }
    }
    for (const int status : statuses) {
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    }
    EXPECT_EQ(mixed, 0) << "of " << reads << " reads";
    EXPECT_GT(reads, 0);
    EXPECT_EQ(valid.count(test::ReadFile(m_ctx.xmlPath)), 1u);
    EXPECT_EQ(Listing(m_dir / "out"), std::vector<std::string>{"Brimlet_A_B.xml"});
}

}  // namespace
}  // namespace brimlet
