#include "process/writer_thread.h"

#include <utility>

namespace brimlet {

WriterThread::WriterThread(Consumer consumer, std::size_t batchBytes, std::size_t depth)
    : m_consumer(std::move(consumer)),
      m_batchBytes(batchBytes == 0 ? 1 : batchBytes),
      m_depth(depth == 0 ? 1 : depth),
      m_thread([this] { Run(); }) {}

WriterThread::~WriterThread() {
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
        m_queue.clear();
    }
    m_changed.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

void WriterThread::RethrowLocked() {
    if (m_failure) {
        std::rethrow_exception(m_failure);
    }
}

void WriterThread::Handover() {
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failure || m_queue.size() < m_depth; });
    RethrowLocked();
    m_queue.push_back(std::move(m_batch));
    m_batch = std::string();
    lock.unlock();
    m_changed.notify_all();
}

void WriterThread::Put(std::string_view piece) {
    {
        const std::lock_guard lock(m_mutex);
        RethrowLocked();
    }
    while (!piece.empty()) {
        if (m_batch.capacity() < m_batchBytes) {
            m_batch.reserve(m_batchBytes);
        }
        const std::size_t take = std::min(piece.size(), m_batchBytes - m_batch.size());
        m_batch.append(piece.substr(0, take));
        piece.remove_prefix(take);
        if (m_batch.size() >= m_batchBytes) {
            Handover();
        }
    }
}

void WriterThread::Settle() {
    if (!m_batch.empty()) {
        Handover();
    }
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_failure || (m_queue.empty() && !m_busy); });
    RethrowLocked();
}

void WriterThread::Finish() {
    Settle();
    {
        const std::lock_guard lock(m_mutex);
        m_closed = true;
    }
    m_changed.notify_all();
    m_thread.join();
    const std::lock_guard lock(m_mutex);
    RethrowLocked();
}

void WriterThread::Run() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_closed || !m_queue.empty(); });
        if (m_queue.empty()) {
            return;
        }
        std::string batch = std::move(m_queue.front());
        m_queue.pop_front();
        m_busy = true;
        lock.unlock();
        m_changed.notify_all();
        std::exception_ptr failure;
        try {
            m_consumer(batch);
        } catch (...) {
            failure = std::current_exception();
        }
        lock.lock();
        m_busy = false;
        if (failure) {
            m_failure = failure;
            m_queue.clear();
            m_changed.notify_all();
            return;
        }
        m_changed.notify_all();
    }
}

}  // namespace brimlet
