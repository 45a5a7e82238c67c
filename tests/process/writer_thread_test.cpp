#include "process/writer_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace brimlet {
namespace {

// Pieces of every size against batches of a few bytes and a queue of one: the consumer sees the
// bytes in order, and nothing is lost at a batch's edge or at the end.
TEST(WriterThreadTest, ConsumerSeesEveryByteInOrderAcrossBatches) {
    std::string expected;
    std::string seen;
    {
        WriterThread behind([&seen](std::string_view piece) { seen.append(piece); }, 3, 1);
        for (int i = 0; i < 2000; ++i) {
            const std::string piece(static_cast<std::size_t>(i % 11),
                                    static_cast<char>('a' + i % 26));
            expected += piece;
            behind.Put(piece);
            if (i % 500 == 0) {
                behind.Settle();
                EXPECT_EQ(seen, expected);
            }
        }
        behind.Finish();
    }
    EXPECT_EQ(seen, expected);
}

// The consumer's first failure reaches the producer, on a later Put or on Settle, whatever
// the timing; the consumer is not called again, and the producer is never left waiting.
TEST(WriterThreadTest, ConsumerFailureReachesTheProducerAndStopsTheConsumer) {
    std::atomic<int> calls{0};
    WriterThread behind(
        [&calls](std::string_view) {
            if (++calls == 2) {
                throw std::runtime_error("disk full");
            }
        },
        4, 1);
    try {
        for (int i = 0; i < 100000; ++i) {
            behind.Put("abcd");
        }
        behind.Settle();
        ADD_FAILURE() << "the failure did not reach the producer";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "disk full");
    }
    EXPECT_THROW(behind.Finish(), std::runtime_error);
    EXPECT_EQ(calls.load(), 2);
}

// A producer that gives up (its own failure) leaves by the destructor: what waits is dropped.
TEST(WriterThreadTest, AbandonedPiecesAreNotConsumed) {
    std::atomic<int> calls{0};
    {
        WriterThread behind([&calls](std::string_view) { ++calls; }, 1 << 20, 4);
        behind.Put("never a whole batch");
    }
    EXPECT_EQ(calls.load(), 0);
}

}  // namespace
}  // namespace brimlet
