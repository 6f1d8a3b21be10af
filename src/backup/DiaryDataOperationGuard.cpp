#include "backup/DiaryDataOperationGuard.h"

#include "backup/BackupLogging.h"

#include <QCoreApplication>

namespace velmora {

DiaryDataOperationGuard::DiaryDataOperationGuard(QObject *parent)
    : QObject(parent) {}

std::optional<DiaryDataOperationGuard::Ticket>
DiaryDataOperationGuard::tryBegin(DiaryDataOperation operation) {
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

QString DiaryDataOperationGuard::refusalText() {
    return QCoreApplication::translate(
        "DiaryDataOperationGuard",
        "Another backup, restore, import or export is still running. Try again when it has "
        "finished.");
}

} // namespace velmora
