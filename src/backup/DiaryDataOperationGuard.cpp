#include "backup/DiaryDataOperationGuard.h"

#include "backup/BackupLogging.h"

#include <QCoreApplication>

#include <utility>

namespace velmora {

DiaryDataOperationGuard::Ticket::Ticket(DiaryDataOperationGuard *guard)
    : m_guard(guard) {}

DiaryDataOperationGuard::Ticket::Ticket(Ticket &&other) noexcept
    : m_guard(std::exchange(other.m_guard, nullptr)) {}

DiaryDataOperationGuard::Ticket &
DiaryDataOperationGuard::Ticket::operator=(Ticket &&other) noexcept {
    if (this != &other) {
        release();
        m_guard = std::exchange(other.m_guard, nullptr);
    }
    return *this;
}

DiaryDataOperationGuard::Ticket::~Ticket() {
    release();
}

void DiaryDataOperationGuard::Ticket::release() {
    if (const QPointer<DiaryDataOperationGuard> guard = std::exchange(m_guard, nullptr))
        guard->finish();
}

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

void DiaryDataOperationGuard::finish() {
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
