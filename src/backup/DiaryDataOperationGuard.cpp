#include "backup/DiaryDataOperationGuard.h"

#include "backup/BackupLogging.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace velmora {

DiaryDataOperationGuard::DiaryDataOperationGuard(QObject *parent)
    : QObject(parent) {}

std::optional<DiaryDataOperationGuard::Ticket>
DiaryDataOperationGuard::tryBegin(DiaryDataOperation operation) {
    if (m_quitting) {
        qCInfo(lcBackup) << "data operation" << int(operation)
                         << "refused: the program is quitting";
        return std::nullopt;
    }
    if (m_running) {
        qCInfo(lcBackup) << "data operation" << int(operation) << "refused while" << int(*m_running)
                         << "runs";
        return std::nullopt;
    }
    m_running = operation;
    Q_EMIT isBusyChanged(true);
    return Ticket(this);
}

void DiaryDataOperationGuard::letGo() {
    if (!m_running)
        return;
    m_running.reset();
    Q_EMIT isBusyChanged(false);
}

DiaryDataOperationGuard::Work DiaryDataOperationGuard::beginWork() {
    // A stop asked of earlier work is not asked of this.
    if (m_work == 0)
        m_workStop = std::stop_source();
    ++m_work;
    return Work(this);
}

void DiaryDataOperationGuard::letGo(ThreadWork) {
    if (m_work > 0 && --m_work == 0)
        m_workEnded.wakeAll();
}

QCoro::Task<void> DiaryDataOperationGuard::settleWork(std::chrono::nanoseconds finishWithin) {
    const QPointer<DiaryDataOperationGuard> self(this);
    auto expired = std::make_shared<bool>(finishWithin <= std::chrono::nanoseconds::zero());
    if (m_work > 0 && !*expired)
        QTimer::singleShot(std::chrono::ceil<std::chrono::milliseconds>(finishWithin), this,
                           [this, expired] {
                               *expired = true;
                               m_workEnded.wakeAll();
                           });
    while (self && m_work > 0 && !*expired)
        co_await m_workEnded.wait();
    if (!self || m_work == 0)
        co_return;
    qCInfo(lcBackup) << "asking the work of a data operation to stop";
    m_workStop.request_stop();
    while (self && m_work > 0)
        co_await m_workEnded.wait();
}

QString DiaryDataOperationGuard::refusalText() {
    return QCoreApplication::translate(
        "DiaryDataOperationGuard",
        "Another backup, restore, import or export is still running. Try again when it has "
        "finished.");
}

} // namespace velmora
