// The document's lock on Linux: modes, group sharing, links planted in its place.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "common/failure.h"
#include "process/publication.h"
#include "support/temp_dir.h"

namespace brimlet {
namespace {

// The lock beside the document: one holder at a time, a bounded wait that a stop ends, and a
// file that only this account can open, never one planted there.
TEST(DocumentLock, TakesTurnsAndRefusesFilesNotItsOwn) {
    test::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "out").c_str(), 0777), 0);
    const std::string doc = dir / "out/Brimlet_A_B.xml";
    using Result = DocumentLock::Result;
    const auto never = [] { return false; };
    const std::string lockPath = DocumentLock::PathFor(doc);
    EXPECT_EQ(lockPath, dir / "out/.Brimlet_A_B.xml.lock");
    DocumentLock first;
    DocumentLock second;
    ASSERT_EQ(first.Acquire(doc, std::chrono::milliseconds(0), never), Result::Acquired);
    struct stat st {};
    ASSERT_EQ(::stat(lockPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(second.Acquire(doc, std::chrono::milliseconds(300), never), Result::TimedOut);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
    EXPECT_EQ(second.Acquire(doc, std::chrono::seconds(30), [] { return true; }), Result::Stopped);
    first.Release();
    EXPECT_EQ(second.Acquire(doc, std::chrono::milliseconds(0), never), Result::Acquired);
    second.Release();

    // A group-shared directory lets the group's accounts take turns too.
    ASSERT_EQ(::chmod((dir / "out").c_str(), 02775), 0);
    ASSERT_EQ(first.Acquire(doc, std::chrono::milliseconds(0), never), Result::Acquired);
    first.Release();
    ASSERT_EQ(::stat(lockPath.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    ASSERT_EQ(::chmod((dir / "out").c_str(), 0755), 0);

    test::WriteFile(doc, "doc\r\n");
    for (const bool symlinked : {true, false}) {
        SCOPED_TRACE(symlinked ? "symlink to the document" : "hard link to the document");
        ::unlink(lockPath.c_str());
        ASSERT_EQ(symlinked ? ::symlink(doc.c_str(), lockPath.c_str())
                            : ::link(doc.c_str(), lockPath.c_str()),
                  0);
        EXPECT_THROW(first.Acquire(doc, std::chrono::milliseconds(0), never), Failure);
        EXPECT_FALSE(first.Held());
        EXPECT_EQ(test::ReadFile(doc), "doc\r\n");
    }
}

}  // namespace
}  // namespace brimlet
