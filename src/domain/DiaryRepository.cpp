#include "domain/DiaryRepository.h"

namespace velmora {

void DiaryWriteGate::letGo() {
    if (--m_holds == 0)
        m_waiters.wakeAll();
}

QCoro::Task<void> DiaryWriteGate::waitUntilOpen() {
    const QPointer<DiaryWriteGate> self(this);
    while (self && m_holds > 0)
        co_await m_waiters.wait();
}

QCoro::Task<std::optional<DiaryEntryDTO>> UnavailableDiaryRepository::entry(DayKey) {
    throw m_error;
    co_return std::nullopt;
}

QCoro::Task<QList<DiaryEntryDTO>> UnavailableDiaryRepository::entries(DayKey, DayKey, int) {
    throw m_error;
    co_return {};
}

QCoro::Task<QList<DiaryEntryDTO>> UnavailableDiaryRepository::search(QString, int) {
    throw m_error;
    co_return {};
}

QCoro::Task<QList<DayKey>> UnavailableDiaryRepository::dayKeys(DayKey, DayKey, int) {
    throw m_error;
    co_return {};
}

QCoro::Task<DiarySaveResult> UnavailableDiaryRepository::save(DiaryDraftDTO,
                                                              std::optional<DiaryRevision>, qint64,
                                                              std::optional<quint64>) {
    throw m_error;
    co_return {};
}

QCoro::Task<DiaryEntryDTO> UnavailableDiaryRepository::seal(QUuid, DiaryRevision,
                                                            std::optional<quint64>) {
    throw m_error;
    co_return {};
}

QCoro::Task<DiarySnapshotDTO> UnavailableDiaryRepository::snapshot() {
    throw m_error;
    co_return {};
}

QCoro::Task<void> UnavailableDiaryRepository::replaceAll(DiarySnapshotDTO) {
    throw m_error;
    co_return;
}

QCoro::Task<QHash<DayKey, DiaryRevision>> UnavailableDiaryRepository::revisionsByDay() {
    throw PersistenceError::storeUnavailable();
    co_return {};
}

QCoro::Task<DiaryEntryDTO> UnavailableDiaryRepository::applyRemote(DiaryEntryDTO,
                                                                   std::optional<DiaryRevision>,
                                                                   std::optional<DiaryEntryDTO>,
                                                                   std::optional<quint64>) {
    throw PersistenceError::storeUnavailable();
    co_return {};
}

QCoro::Task<void> UnavailableDiaryRepository::preserveRecovery(DiaryEntryDTO) {
    throw PersistenceError::storeUnavailable();
    co_return;
}

} // namespace velmora
