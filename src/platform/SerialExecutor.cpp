#include "platform/SerialExecutor.h"

#include <QMetaObject>

#include <future>

#include <pthread.h>

namespace velmora {

SerialExecutor::SerialExecutor(const QString &threadName)
    : m_thread([this, name = threadName.left(15).toUtf8()] {
        pthread_setname_np(pthread_self(), name.constData());
        work();
    }) {}

SerialExecutor::~SerialExecutor() {
    stop();
}

void SerialExecutor::stop() {
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable() && !isWorkerThread())
        m_thread.join();
}

void SerialExecutor::work() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
        // Every job handed over before stop() still runs.
        if (m_jobs.empty())
            return;
        std::function<void()> job = std::move(m_jobs.front());
        m_jobs.pop_front();
        lock.unlock();
        job();
        job = nullptr;
        lock.lock();
    }
}

void SerialExecutor::post(std::function<void()> job) {
    {
        const std::lock_guard lock(m_mutex);
        if (m_stopping)
            return;
        m_jobs.push_back(std::move(job));
    }
    m_wake.notify_one();
}

void SerialExecutor::postAndWait(const std::function<void()> &job) {
    std::promise<void> done;
    post([&] {
        job();
        done.set_value();
    });
    done.get_future().wait();
}

void SerialExecutor::resumeOn(QObject *resumer, std::coroutine_handle<> handle) {
    QMetaObject::invokeMethod(
        resumer,
        [resumer, handle] {
            resumer->deleteLater();
            handle.resume();
        },
        Qt::QueuedConnection);
}

} // namespace velmora
