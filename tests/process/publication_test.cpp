// The publication's settling, on both platforms: what stays at the document's path for each
// outcome of its record, and what Settle says it did.
#include "process/publication.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace brimlet {
namespace {

// Windows' read-only attribute, which refuses a rename over the file and its removal; Linux has
// none (a file's mode does not hinder either), so there the cases run with writable files.
void SetReadOnly([[maybe_unused]] const std::string& path, [[maybe_unused]] bool on) {
#ifdef _WIN32
    const DWORD a = GetFileAttributesA(path.c_str());
    ASSERT_NE(a, INVALID_FILE_ATTRIBUTES) << path;
    SetFileAttributesA(path.c_str(),
                       on ? a | FILE_ATTRIBUTE_READONLY : a & ~DWORD{FILE_ATTRIBUTE_READONLY});
#endif
}

#ifdef _WIN32
bool IsReadOnly(const std::string& path) {
    const DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY) != 0;
}
#endif

using Action = Settlement::Action;

// The directory's entries but the document's lock file, which stays once made.
std::vector<std::string> Listing(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        const std::string name = e.path().filename().string();
        if (name != ".Brimlet_A_B.xml.lock") {
            names.push_back(name);
        }
    }
    return names;
}

// The new document renamed over the path, as the atomic file's commit does.
void PutNew(const std::string& doc) {
    test::WriteFile(doc + ".new", "new");
    std::filesystem::rename(doc + ".new", doc);
}

TEST(PublicationSettle, TheNewDocumentStaysOnlyWithItsRecord) {
    const struct {
        const char* name;
        bool previous;  // a document was served before
        bool leftover;  // a killed run left its kept copy
        bool replaced;  // the new document reached the path
        bool keptGone;  // the kept copy vanished before the settling
        RecordOutcome outcome;
        Action action;
        const char* after;      // what the path holds then; nullptr: nothing
        bool readOnly = false;  // the old document and the leftover are read-only (Windows)
    } cases[] = {
        {"recorded", true, false, true, false, RecordOutcome::Made, Action::Kept, "new"},
        {"not recorded", true, true, true, false, RecordOutcome::NotMade, Action::PreviousPutBack,
         "old"},
        {"not recorded, first document", false, false, true, false, RecordOutcome::NotMade,
         Action::NewRemoved, nullptr},
        {"outcome unknown", true, false, true, false, RecordOutcome::Unknown,
         Action::PreviousPutBack, "old"},
        {"failed before the rename", true, false, false, false, RecordOutcome::NotMade,
         Action::Kept, "old"},
        {"kept copy gone", true, false, true, true, RecordOutcome::NotMade, Action::UndoFailed,
         "new"},
        // Published over, and nothing left behind that would refuse the next run.
        {"read-only, recorded", true, true, true, false, RecordOutcome::Made, Action::Kept, "new",
         true},
        {"read-only, not recorded", true, false, true, false, RecordOutcome::NotMade,
         Action::PreviousPutBack, "old", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const std::string doc = dir / "Brimlet_A_B.xml";
        const std::string kept = Publication::KeptPathFor(doc);
        EXPECT_EQ(kept, dir / ".Brimlet_A_B.xml.previous");
        if (c.previous) {
            test::WriteFile(doc, "old");
            SetReadOnly(doc, c.readOnly);
        }
        if (c.leftover) {
            test::WriteFile(kept, "left by a killed run");
            SetReadOnly(kept, c.readOnly);
        }
        Publication publication(doc);
        ASSERT_EQ(publication.lock().Acquire(doc, std::chrono::milliseconds(0), nullptr),
                  DocumentLock::Result::Acquired);
        publication.KeepPrevious();
        EXPECT_EQ(test::Exists(kept), c.previous);
        if (c.previous) {
            EXPECT_EQ(test::ReadFile(kept), "old");
        }
        if (c.replaced) {
            PutNew(doc);
            publication.MarkReplaced();
        }
        if (c.keptGone) {
            std::filesystem::remove(kept);
        }

        const Settlement done = publication.Settle(c.outcome);
        EXPECT_EQ(done.action, c.action);
        EXPECT_EQ(done.failure.has_value(), c.action == Action::UndoFailed);
        EXPECT_EQ(test::Exists(doc), c.after != nullptr);
        if (c.after != nullptr) {
            EXPECT_EQ(test::ReadFile(doc), c.after);
#ifdef _WIN32
            EXPECT_EQ(IsReadOnly(doc), c.readOnly);
            SetReadOnly(doc, false);
#endif
        }
        const bool rolledBack =
            c.action == Action::PreviousPutBack || c.action == Action::NewRemoved;
        EXPECT_EQ(publication.RolledBack(), rolledBack);
        EXPECT_TRUE(publication.Settled());
        EXPECT_EQ(Listing(dir.path()), c.after != nullptr
                                           ? std::vector<std::string>{"Brimlet_A_B.xml"}
                                           : std::vector<std::string>{});
        // The lock is free for the next run.
        DocumentLock next;
        EXPECT_EQ(next.Acquire(doc, std::chrono::milliseconds(0), nullptr),
                  DocumentLock::Result::Acquired);
        // Settled once: a second word (the watchdog's) changes nothing.
        EXPECT_EQ(publication.Settle(RecordOutcome::NotMade).action, Action::AlreadySettled);
        EXPECT_EQ(publication.RolledBack(), rolledBack);
        EXPECT_EQ(test::Exists(doc), c.after != nullptr);
    }
}

// A publication that ends unsettled (its run ended by an exception) keeps what is served and
// leaves no kept copy behind.
TEST(PublicationSettle, UnsettledPublicationDropsItsKeptCopy) {
    test::TempDir dir;
    const std::string doc = dir / "Brimlet_A_B.xml";
    test::WriteFile(doc, "old");
    {
        Publication publication(doc);
        publication.KeepPrevious();
        EXPECT_TRUE(test::Exists(Publication::KeptPathFor(doc)));
    }
    EXPECT_EQ(test::ReadFile(doc), "old");
    EXPECT_EQ(Listing(dir.path()), std::vector<std::string>{"Brimlet_A_B.xml"});
}

}  // namespace
}  // namespace brimlet
