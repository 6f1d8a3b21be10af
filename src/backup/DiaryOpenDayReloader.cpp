#include "backup/DiaryOpenDayReloader.h"

#include "backup/BackupLogging.h"

namespace velmora {

DiaryOpenDayReloader::DiaryOpenDayReloader(DiarySessionStore *session)
    : m_session(session) {}

QCoro::Task<void> DiaryOpenDayReloader::prepare(DiaryReplacementKind kind) {
    if (!m_session)
        co_return;
    const QPointer<DiarySessionStore> session = m_session;
    if (!co_await session->beginReplacement(kind))
        qCWarning(lcBackup) << "Pending writing could not be stored before the diary was replaced";
}

QCoro::Task<void> DiaryOpenDayReloader::reload() {
    if (!m_session)
        co_return;
    const QPointer<DiarySessionStore> session = m_session;
    co_await session->endReplacement();
}

} // namespace velmora
