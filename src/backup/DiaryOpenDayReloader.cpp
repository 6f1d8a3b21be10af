#include "backup/DiaryOpenDayReloader.h"

#include "backup/BackupLogging.h"
#include "domain/DiarySessionStore.h"

namespace velmora {

DiaryOpenDayReloader::DiaryOpenDayReloader(DiarySessionStore *session)
    : m_session(session) {}

QCoro::Task<void> DiaryOpenDayReloader::prepare() {
    if (!m_session)
        co_return;
    const QPointer<DiarySessionStore> session = m_session;
    if (!co_await session->flushPendingWriting())
        qCWarning(lcBackup) << "Pending writing could not be stored before the diary was replaced";
}

QCoro::Task<void> DiaryOpenDayReloader::reload() {
    if (!m_session || m_session->selectedDay().isEmpty())
        co_return;
    const QPointer<DiarySessionStore> session = m_session;
    try {
        co_await session->reloadSelectedDay();
    } catch (const std::exception &error) {
        qCWarning(lcBackup) << "The open day could not be read again after the diary was replaced:"
                            << error.what();
    }
}

} // namespace velmora
