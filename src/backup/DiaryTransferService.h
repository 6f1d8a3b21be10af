#pragma once

#include "backup/DiaryOpenDayReloader.h"
#include "backup/DiaryTransferCodec.h"
#include "domain/Clock.h"
#include "domain/DiaryRepository.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "platform/Cancellation.h"

#include <QCoroTask>

#include <functional>
#include <memory>
#include <stop_token>

namespace velmora {

class SerialExecutor;

// How the entries of an import compare with the stored diary.
struct DiaryImportPreview {
    qint64 newEntryCount = 0;
    qint64 identicalCount = 0;
    qint64 conflictCount = 0;

    friend bool operator==(const DiaryImportPreview &, const DiaryImportPreview &) = default;
};

// The points an import passes once it has taken the current diary; a test acts there.
enum class DiaryImportStep { snapshotTaken, safetyBackupWritten, replaced };

// Turns the diary into an export document and back. A merge never changes or removes a stored
// entry: each conflicting imported entry is kept as a recovery record. Both kinds of import
// write a safety backup "Before-Import-<UUID>.velmorabackup" first and apply the document's
// settings last, within the bounds the settings window keeps (a name of at most 100 characters,
// an offered font, a known appearance).
//
// Destroying the service waits for its file thread to finish what it was given and ends that
// thread; work of the service resumed after that ends with CancellationError without touching it.
class DiaryTransferService {
public:
    DiaryTransferService(std::shared_ptr<DiaryRepository> repository,
                         std::shared_ptr<UserDefaultsSettingsStore> settings,
                         std::shared_ptr<const Clock> clock,
                         DiaryOpenDayReloader openDay = DiaryOpenDayReloader());
    ~DiaryTransferService();
    DiaryTransferService(const DiaryTransferService &) = delete;
    DiaryTransferService &operator=(const DiaryTransferService &) = delete;

    // Told once an import replaced the diary, for what keeps its own record of the diary's
    // revisions (the sync's marks). A merge leaves every stored entry as it was.
    void setDiaryReplaced(std::function<void()> replaced) { m_diaryReplaced = std::move(replaced); }
    void setStepObserver(std::function<void(DiaryImportStep)> observer) {
        m_stepObserver = std::move(observer);
    }
    // The writing fonts the settings window offers; an import takes no other (a blank name still
    // means the default font).
    void setOfferedFonts(QStringList fonts) { m_offeredFonts = std::move(fonts); }

    // Told on the file's thread at each step of an export's write; tests act there.
    void setWriteStepObserver(DiaryTransferCodec::WriteStepObserver observer) {
        m_writeStepObserver = std::move(observer);
    }

    // The stored entries, the diary's id and four settings; never the recovery records. Once
    // `stop` is asked the export ends with CancellationError, leaving nothing behind, unless its
    // file is in place already.
    QCoro::Task<void> exportDiary(QString destination,
                                  std::optional<QList<DiaryTransferInk>> handwriting = {},
                                  std::stop_token stop = {});
    QCoro::Task<DiaryImportPreview> preview(DiaryTransferDocument document);
    // Merges, or replaces the diary when `replace`; returns the counts of its own preview.
    QCoro::Task<DiaryImportPreview> importDocument(DiaryTransferDocument document, bool replace,
                                                   QString backupDirectory);

    // An export file keeps whole seconds, so entries are compared with their three dates
    // truncated the same way: an entry is identical to its own exported copy.
    static bool sameEntry(const DiaryEntryDTO &a, const DiaryEntryDTO &b);
    // The imported entry as a merge keeps it aside: sorted keys, seconds since 2001, "\/".
    static QByteArray recoveryPayload(const DiaryEntryDTO &entry);

private:
    // The import while the open page is held.
    QCoro::Task<DiaryImportPreview> importInto(DiaryTransferDocument document, bool replace,
                                               QString backupDirectory);
    DiaryImportPreview classify(const DiarySnapshotDTO &current,
                                const DiaryTransferDocument &document) const;
    DiarySnapshotDTO merged(const DiarySnapshotDTO &current,
                            const DiaryTransferDocument &document) const;
    DiarySnapshotDTO replacement(const DiarySnapshotDTO &current,
                                 const DiaryTransferDocument &document) const;

    std::shared_ptr<DiaryRepository> m_repository;
    std::shared_ptr<UserDefaultsSettingsStore> m_settings;
    std::shared_ptr<const Clock> m_clock;
    DiaryOpenDayReloader m_openDay;
    std::function<void()> m_diaryReplaced;
    std::function<void(DiaryImportStep)> m_stepObserver;
    DiaryTransferCodec::WriteStepObserver m_writeStepObserver;
    QStringList m_offeredFonts;
    CancellationToken m_lifetime;
    std::unique_ptr<SerialExecutor> m_files;
};

} // namespace velmora
