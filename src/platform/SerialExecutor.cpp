#include "platform/SerialExecutor.h"

#include <QMetaObject>

namespace velmora {

SerialExecutor::SerialExecutor(const QString &threadName)
    : m_worker(new QObject) {
    m_thread.setObjectName(threadName);
    m_worker->moveToThread(&m_thread);
    m_thread.start();
}

SerialExecutor::~SerialExecutor() {
    // Queued behind every job handed over so far, so none of them is dropped.
    QMetaObject::invokeMethod(
        m_worker, [this] { m_thread.quit(); }, Qt::QueuedConnection);
    m_thread.wait();
    delete m_worker;
}

void SerialExecutor::post(std::function<void()> job) {
    QMetaObject::invokeMethod(m_worker, std::move(job), Qt::QueuedConnection);
}

void SerialExecutor::postAndWait(const std::function<void()> &job) {
    QMetaObject::invokeMethod(m_worker, job, Qt::BlockingQueuedConnection);
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
