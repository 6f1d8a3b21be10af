#pragma once

#include "domain/Clock.h"
#include "domain/DiaryRepositoryFaultPoint.h"
#include "domain/DiarySnapshotDTO.h"
#include "platform/UserDefaults.h"
#include "store/MigrationRecords.h"
#include "store/StoreModel.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QTimeZone>
#include <QUuid>

#include <memory>
#include <optional>

namespace velmora {

// Makes sure, at launch and before the store is opened, that the file at the store location is a
// current store: creates a missing one, settles a migration interrupted after its adoption, and
// migrates an older store and its preference drafts so that no writing is lost even when the
// process dies at any moment. Runs synchronously on the GUI thread, before any other store user
// exists.
class DiaryMigrationCoordinator {
public:
    struct CandidatePlan {
        QList<MigrationCandidate> entries;
        QList<DiaryRecoveryDTO> recoveryRecords;
    };

    struct Places {
        QString storeURL;
        QString recoveryDirectory;
        QString migrationsDirectory;
        QString quarantineDirectory;
        QString journalURL;

        static Places of(const QString &standardizedStoreURL);
    };

    static inline const QString draftKeyPrefix = QStringLiteral("draft_");

    explicit DiaryMigrationCoordinator(
        std::shared_ptr<const Clock> clock = std::make_shared<SystemClock>(),
        std::shared_ptr<MigrationFaultInjecting> faultInjector =
            std::make_shared<NoMigrationFaultInjector>());

    PreparedDiaryStore prepareStore(const QString &storeURL, UserDefaults &userDefaults,
                                    const QTimeZone &timeZone);

    // None when there is no journal, or when the journal does not describe the store while its
    // drafts remain: the drafts stay, the journal is moved into "Recovery" as unsettled.
    std::optional<PreparedDiaryStore> settleInterruptedMigration(const QString &storeURL,
                                                                 UserDefaults &userDefaults);

    PreparedDiaryStore migrateLegacyV1Store(const QString &storeURL, const StoreModel &legacyModel,
                                            const StoreModel &durableModel,
                                            UserDefaults &userDefaults, const QTimeZone &timeZone);

    CandidatePlan buildCandidates(const QList<LegacyEntryPayload> &legacyEntries,
                                  const QStringList &draftKeys, const UserDefaults &userDefaults,
                                  const QTimeZone &timeZone) const;

    void writeDurableStore(const QString &storeURL, const StoreModel &model,
                           const QList<MigrationCandidate> &entries,
                           const QList<DiaryRecoveryDTO> &recoveryRecords,
                           const QUuid &migrationIdentifier) const;

    // The store file, then the files SQLite keeps beside it; stops at the first failed removal.
    static void removeStoreFiles(const QString &storeURL);

    static QList<LegacyEntryPayload> readLegacyEntries(const QString &storeURL,
                                                       const StoreModel &model);

    // Throws migrationFailed unless the store was written by the model and holds exactly these
    // counts and one metadata row.
    static void validateStagedStore(const QString &storeURL, const StoreModel &model,
                                    qint64 expectedEntryCount, qint64 expectedRecoveryCount);

    // The first 16 bytes of the SHA-256 of the whole key, unchanged.
    static QUuid draftIdentifier(const QString &key);

    // The keys of older drafts that the migration takes over: "draft_" keys whose value reads as
    // text, in ascending text order. Any other "draft_" key is left alone: the migration keeps
    // nothing of it, and it exists nowhere else.
    static QStringList collectDraftKeys(const UserDefaults &userDefaults);

private:
    DiaryRecoveryDTO makeRecord(const MigrationCandidate &candidate, DiaryRecoveryReason reason,
                                bool namesCandidate) const;
    static bool describesStore(const MigrationJournal &journal, const QString &storeURL);

    std::shared_ptr<const Clock> m_clock;
    std::shared_ptr<MigrationFaultInjecting> m_faultInjector;
};

} // namespace velmora
