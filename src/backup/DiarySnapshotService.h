#pragma once

#include "backup/DiarySnapshotManifest.h"
#include "domain/Clock.h"
#include "domain/DiaryRepository.h"
#include "domain/DiarySnapshotDTO.h"
#include "platform/Cancellation.h"

#include <QByteArray>
#include <QCoroTask>
#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace velmora {

class SerialExecutor;

// A package read back in full: the diary it holds and its summary.
struct DiarySnapshotPackage {
    DiarySnapshotDTO diary;
    SnapshotSummary summary;
};

// The points a package write passes, in order; a crash at any of them leaves no package.
enum class DiarySnapshotWriteStep { recordsWritten, manifestWritten, validated, beforeMove };

// Writes the whole diary as a backup package, reads packages back with complete validation,
// makes "Backup Now" backups and lists the valid packages of a folder. Holds no state between
// calls: every operation works from the file system afresh. The package operations are static
// and synchronous; the instance runs them away from the GUI thread. A backup resumed after the
// instance is gone fails with CancellationError without touching it.
class DiarySnapshotService {
public:
    using WriteStepObserver = std::function<void(DiarySnapshotWriteStep)>;

    DiarySnapshotService(std::shared_ptr<DiaryRepository> repository,
                         std::shared_ptr<const Clock> clock);
    ~DiarySnapshotService();
    DiarySnapshotService(const DiarySnapshotService &) = delete;
    DiarySnapshotService &operator=(const DiarySnapshotService &) = delete;

    const std::shared_ptr<DiaryRepository> &repository() const { return m_repository; }
    const std::shared_ptr<const Clock> &clock() const { return m_clock; }

    // "Backup Now": a new package "Diary-yyyyMMdd-HHmmss-XXXXXXXX.velmorabackup" in the folder,
    // made if missing, holding the repository's current snapshot.
    QCoro::Task<SnapshotSummary> createSnapshot(QString folder);

    // The valid packages of the folder, newest first; unreadable folders and packages are left
    // out. Each package is read once.
    static QList<SnapshotSummary> listSnapshots(const QString &folder);

    // Writes a complete, validated package at `destination`, which must not exist. Nothing is
    // left behind on failure. `observer` is told each step as it is passed.
    static SnapshotSummary writePackage(const DiarySnapshotDTO &diary, const QString &destination,
                                        const QDateTime &createdAt,
                                        const WriteStepObserver &observer = {});

    // Validates the package completely and returns its diary and summary.
    static DiarySnapshotPackage readPackage(const QString &packageURL);
    // The same checks without keeping the diary.
    static SnapshotSummary validatePackage(const QString &packageURL);

    // The textual check that the manifest names each key exactly once (the two days at most
    // once), which a JSON decoder alone would let pass.
    static bool manifestKeysAreUnambiguous(const QByteArray &manifest);
    // Metadata, entries by day, recovery records by the text of their id.
    static QList<DiarySnapshotRecord> makeRecords(const DiarySnapshotDTO &diary);
    // Each record's compact JSON followed by a line feed.
    static QByteArray encodeRecordLines(const QList<DiarySnapshotRecord> &records);
    // One non-empty line; throws malformedRecord with the line number.
    static DiarySnapshotRecord decodeRecordLine(const QByteArray &line, qint64 lineNumber);
    // Throws the first invariantViolation the diary breaks against its manifest.
    static void checkInvariants(const DiarySnapshotDTO &diary,
                                const DiarySnapshotManifest &manifest);

private:
    std::shared_ptr<DiaryRepository> m_repository;
    std::shared_ptr<const Clock> m_clock;
    std::unique_ptr<SerialExecutor> m_files;
    // Cancelled when the instance goes; its work keeps a copy and checks it after each suspension.
    CancellationToken m_lifetime;
};

} // namespace velmora
