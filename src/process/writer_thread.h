#pragma once
// A second thread that carries text pieces to their consumer, so that producing the text and
// consuming it (encrypting, writing, hashing) run on both cores.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace brimlet {

// The consumer sees the pieces in order and whole, as if called directly, batched into pieces of
// about `batchBytes`; at most `depth` full batches wait between the threads, so memory stays
// bounded however fast the producer is. The first exception of the consumer is kept, and the
// consumer is not called again; the producer meets it on its next call.
class WriterThread {
  public:
    using Consumer = std::function<void(std::string_view)>;

    WriterThread(Consumer consumer, std::size_t batchBytes, std::size_t depth);
    // Abandons what waits and joins the thread: the consumer is not called again.
    ~WriterThread();
    WriterThread(const WriterThread&) = delete;
    WriterThread& operator=(const WriterThread&) = delete;

    // Takes a copy of `piece`; waits while the queue is full. Rethrows the consumer's failure.
    void Put(std::string_view piece);
    // Returns once the consumer has had every piece put so far; rethrows its failure.
    void Settle();
    // Settle, then joins the thread; nothing may be put after it.
    void Finish();

  private:
    void Handover();
    void Run();
    void RethrowLocked();

    Consumer m_consumer;
    std::size_t m_batchBytes;
    std::size_t m_depth;
    std::string m_batch;  // the producer's, until handed over

    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<std::string> m_queue;
    bool m_busy = false;    // the consumer has a batch in hand
    bool m_closed = false;  // no batch will follow
    std::exception_ptr m_failure;
    std::thread m_thread;  // last: it starts once everything above is set
};

}  // namespace brimlet
