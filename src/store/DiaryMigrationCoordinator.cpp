#include "store/DiaryMigrationCoordinator.h"

#include "domain/PersistenceError.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/GregorianCalendar.h"
#include "platform/Sha256.h"
#include "platform/UuidText.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryStoreRows.h"
#include "store/Sqlite.h"
#include "store/StoreFile.h"
#include "store/StoreLogging.h"
#include "store/StoreReplacement.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QMap>
#include <QThread>

#include <algorithm>

#include <sqlite3.h>

namespace velmora {

namespace {

PersistenceError migrationFailure(const char *text) {
    return PersistenceError::migrationFailed(
        QCoreApplication::translate("DiaryMigrationCoordinator", text));
}

const char *const journalUnreadable = QT_TRANSLATE_NOOP(
    "DiaryMigrationCoordinator", "The interrupted migration journal is unreadable.");
const char *const journalForeign = QT_TRANSLATE_NOOP(
    "DiaryMigrationCoordinator", "The interrupted migration journal targets another store.");
const char *const journalUnsafe = QT_TRANSLATE_NOOP(
    "DiaryMigrationCoordinator", "The interrupted migration journal contains an unsafe path.");
const char *const unknownModel = QT_TRANSLATE_NOOP(
    "DiaryMigrationCoordinator", "The store model is neither LegacyV1 nor DurableV2.");
const char *const legacyEntryIncomplete =
    QT_TRANSLATE_NOOP("DiaryMigrationCoordinator", "A LegacyV1 entry is missing required data.");
const char *const stagedIncompatible = QT_TRANSLATE_NOOP(
    "DiaryMigrationCoordinator", "The staged store is not compatible with DurableV2.");
const char *const stagedCountsMismatch = QT_TRANSLATE_NOOP(
    "DiaryMigrationCoordinator", "Staged-store validation counts do not match the migration plan.");

const QString defaultLegacyFontName = QStringLiteral("Georgia");

bool fileExists(const QString &path) {
    return QFileInfo(path).exists() || QFileInfo(path).isSymLink();
}

std::optional<QString> existingFile(const QString &path) {
    if (fileExists(path))
        return path;
    return std::nullopt;
}

bool isInside(const QString &path, const QString &directory) {
    return path.startsWith(directory + QLatin1Char('/'));
}

bool isWrittenBy(SqliteDatabase &database, const StoreModel &model) {
    const auto identity = readStoreIdentity(database);
    return identity && identity->matches(model);
}

bool holdsNoTables(SqliteDatabase &database) {
    return database.queryInt64(QStringLiteral("SELECT count(*) FROM sqlite_master")) == 0;
}

LegacyEntryPayload legacyEntryPayload(const SqliteStatement &row) {
    const auto id = row.uuid(0);
    const bool complete = id && row.columnType(1) == SQLITE_INTEGER &&
                          row.columnType(2) == SQLITE_TEXT && row.columnType(3) == SQLITE_TEXT &&
                          row.columnType(5) == SQLITE_INTEGER;
    if (!complete)
        throw migrationFailure(legacyEntryIncomplete);
    const bool isLocked = row.columnType(4) == SQLITE_INTEGER && row.int64(4) != 0;
    return {*id, *row.date(1), row.text(2), row.text(3), isLocked, *row.date(5)};
}

DiaryEntryDTO entryOf(const MigrationCandidate &candidate) {
    DiaryEntryDTO entry;
    entry.id = candidate.id;
    entry.dayKey = candidate.dayKey;
    entry.content = candidate.content;
    entry.fontName = candidate.fontName;
    entry.bodyPointSize = 16;
    entry.status = candidate.isLocked ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft;
    entry.originTimeZone = candidate.originTimeZone;
    entry.createdAt = candidate.createdAt;
    entry.updatedAt = candidate.createdAt;
    if (candidate.isLocked)
        entry.sealedAt = candidate.createdAt;
    entry.revision = DiaryRevision{1};
    return entry;
}

// The staged copy is only scratch once the outcome is known; one left behind is removed by the
// next migration of the same name, so failing to remove it is no failure.
void removeStagedStore(const QString &stagedStoreURL) {
    try {
        DiaryMigrationCoordinator::removeStoreFiles(stagedStoreURL);
    } catch (const std::exception &error) {
        qCWarning(lcStore) << "Could not remove the staged store" << stagedStoreURL << ":"
                           << error.what();
    }
}

} // namespace

DiaryMigrationCoordinator::Places
DiaryMigrationCoordinator::Places::of(const QString &standardizedStoreURL) {
    Places places;
    places.storeURL = standardizedStoreURL;
    places.recoveryDirectory = standardizedPath(QFileInfo(standardizedStoreURL).absolutePath() +
                                                QStringLiteral("/Recovery"));
    places.migrationsDirectory = places.recoveryDirectory + QStringLiteral("/Migrations");
    places.quarantineDirectory = places.recoveryDirectory + QStringLiteral("/Quarantine");
    places.journalURL = places.migrationsDirectory + QStringLiteral("/active-migration.json");
    return places;
}

DiaryMigrationCoordinator::DiaryMigrationCoordinator(
    std::shared_ptr<const Clock> clock, std::shared_ptr<MigrationFaultInjecting> faultInjector)
    : m_clock(std::move(clock))
    , m_faultInjector(std::move(faultInjector)) {}

PreparedDiaryStore DiaryMigrationCoordinator::prepareStore(const QString &storeURL,
                                                           UserDefaults &userDefaults,
                                                           const QTimeZone &timeZone) {
    Q_ASSERT(!QCoreApplication::instance() ||
             QThread::currentThread() == QCoreApplication::instance()->thread());
    const QString location = standardizedPath(storeURL);
    createDirectories(QFileInfo(location).absolutePath());
    // A restore killed while it put its store in place is finished first: until then the name
    // may hold the old store without its side files, or nothing.
    settleInterruptedStoreReplacement(location);
    const StoreModel durableModel =
        DiaryModelProvider::model(DiaryModelProvider::currentVersionName);

    enum class Found { nothing, durable, legacy, other };
    Found found = Found::nothing;
    if (fileExists(location)) {
        // Read-write, so that a copy a crash interrupted is rolled back before anything is read.
        SqliteDatabase database(location, SqliteDatabase::OpenMode::readWrite);
        if (isWrittenBy(database, durableModel))
            found = Found::durable;
        else if (isWrittenBy(database, DiaryModelProvider::legacyV1Model()))
            found = Found::legacy;
        // A file without a single table is what a launch that died creating the store leaves.
        else if (!holdsNoTables(database))
            found = Found::other;
    }

    switch (found) {
    case Found::nothing:
        writeDurableStore(location, durableModel, {}, {}, QUuid::createUuid());
        return {location, false, std::nullopt, std::nullopt};
    case Found::durable:
        if (auto settled = settleInterruptedMigration(location, userDefaults))
            return *settled;
        return {location, false, std::nullopt, std::nullopt};
    case Found::legacy:
        return migrateLegacyV1Store(location, DiaryModelProvider::legacyV1Model(), durableModel,
                                    userDefaults, timeZone);
    case Found::other:
        break;
    }
    throw migrationFailure(unknownModel);
}

std::optional<PreparedDiaryStore>
DiaryMigrationCoordinator::settleInterruptedMigration(const QString &storeURL,
                                                      UserDefaults &userDefaults) {
    const Places places = Places::of(standardizedPath(storeURL));
    if (!fileExists(places.journalURL))
        return std::nullopt;

    MigrationJournal journal;
    QByteArray journalBytes;
    try {
        journalBytes = readRegularFile(places.journalURL, journalByteLimit);
        journal = MigrationJournal::fromJson(parseJson(journalBytes));
    } catch (const std::exception &error) {
        qCWarning(lcStore) << "The interrupted migration journal" << places.journalURL
                           << "cannot be read:" << error.what();
        throw migrationFailure(journalUnreadable);
    }

    if (standardizedPath(journal.storePath) != places.storeURL)
        throw migrationFailure(journalForeign);
    const QString quarantineURL = standardizedPath(journal.quarantinePath);
    const QString conflictReportURL = standardizedPath(journal.conflictReportPath);
    const QString stagedStoreURL = standardizedPath(journal.stagedStorePath);
    if (!isInside(quarantineURL, places.recoveryDirectory) ||
        !isInside(conflictReportURL, places.recoveryDirectory) ||
        !isInside(stagedStoreURL, places.migrationsDirectory))
        throw migrationFailure(journalUnsafe);

    // The archived drafts may exist nowhere but in the defaults until the store they went into is
    // known to be the one this migration adopted. Once they are gone there is nothing left to
    // lose, and a store that has been written since (its journal outlived a successful run)
    // would no longer match the plan.
    const bool draftsRemain =
        std::any_of(journal.archivedDraftKeys.cbegin(), journal.archivedDraftKeys.cend(),
                    [&](const QString &key) {
                        return key.startsWith(draftKeyPrefix) && userDefaults.contains(key);
                    });
    if (draftsRemain && !describesStore(journal, places.storeURL)) {
        // Not the store this migration adopted (it was deleted and made afresh, or replaced):
        // settling would lose drafts that may exist nowhere else, and refusing would lock the
        // diary for good. The drafts stay in the defaults and the journal goes aside.
        const QString aside = places.recoveryDirectory + QStringLiteral("/unsettled-migration-") +
                              uuidText(journal.operationID) + QStringLiteral(".json");
        qCWarning(lcStore) << "The interrupted migration journal does not describe the store"
                           << places.storeURL << "- its drafts stay in the settings and the "
                           << "journal is kept unsettled as" << aside;
        writeFileAtomically(aside, journalBytes);
        removeFileDurably(places.journalURL);
        return std::nullopt;
    }

    for (const QString &key : std::as_const(journal.archivedDraftKeys)) {
        if (key.startsWith(draftKeyPrefix))
            userDefaults.remove(key);
    }
    userDefaults.synchronize();
    removeStagedStore(stagedStoreURL);
    removeFileDurably(places.journalURL);
    return PreparedDiaryStore{places.storeURL, true, existingFile(quarantineURL),
                              existingFile(conflictReportURL)};
}

bool DiaryMigrationCoordinator::describesStore(const MigrationJournal &journal,
                                               const QString &storeURL) {
    {
        SqliteDatabase database(storeURL, SqliteDatabase::OpenMode::readOnly);
        SqliteStatement statement(
            database.handle(),
            QStringLiteral("SELECT migrationIdentifier FROM DiaryMetadata LIMIT 2"));
        QList<std::optional<QUuid>> identifiers;
        while (statement.step())
            identifiers.append(uuidFromText(statement.text(0)));
        if (identifiers.size() != 1 || identifiers.first() != journal.operationID)
            return false;
    }
    if (!journal.plannedEntryCount || !journal.plannedRecoveryCount)
        return true;
    try {
        validateStagedStore(storeURL,
                            DiaryModelProvider::model(DiaryModelProvider::currentVersionName),
                            *journal.plannedEntryCount, *journal.plannedRecoveryCount);
    } catch (const PersistenceError &error) {
        qCInfo(lcStore) << "The store does not hold what the migration planned:" << error.message();
        return false;
    }
    return true;
}

PreparedDiaryStore DiaryMigrationCoordinator::migrateLegacyV1Store(const QString &storeURL,
                                                                   const StoreModel &legacyModel,
                                                                   const StoreModel &durableModel,
                                                                   UserDefaults &userDefaults,
                                                                   const QTimeZone &timeZone) {
    const QUuid operationID = QUuid::createUuid();
    const QString identifier = uuidText(operationID);
    const Places places = Places::of(storeURL);
    createDirectories(places.quarantineDirectory);
    createDirectories(places.migrationsDirectory);

    const QString quarantineURL = places.quarantineDirectory + QStringLiteral("/LegacyV1-") +
                                  identifier + QStringLiteral(".sqlite");
    const QString conflictReportURL = places.migrationsDirectory +
                                      QStringLiteral("/LegacyV1-conflicts-") + identifier +
                                      QStringLiteral(".json");
    const QString stagedStoreURL = places.migrationsDirectory +
                                   QStringLiteral("/DurableV2-stage-") + identifier +
                                   QStringLiteral(".sqlite");

    const QStringList draftKeys = collectDraftKeys(userDefaults);
    MigrationJournal journal{operationID,    storeURL,          draftKeys,
                             quarantineURL,  conflictReportURL, stagedStoreURL,
                             m_clock->now(), std::nullopt,      std::nullopt};
    writeFileAtomically(places.journalURL, encodeMigrationJson(journal.toJson()));

    try {
        m_faultInjector->inject(DiaryRepositoryFaultPoint::beforeMigrationQuarantine);
        copyStoreFile(storeURL, quarantineURL);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationQuarantine);

        const QList<LegacyEntryPayload> legacyEntries = readLegacyEntries(storeURL, legacyModel);
        const CandidatePlan plan =
            buildCandidates(legacyEntries, draftKeys, userDefaults, timeZone);
        const qint64 entryCount = plan.entries.size();
        const qint64 recoveryCount = plan.recoveryRecords.size();
        journal.plannedEntryCount = entryCount;
        journal.plannedRecoveryCount = recoveryCount;
        writeFileAtomically(places.journalURL, encodeMigrationJson(journal.toJson()));

        QList<MigrationConflictRecord> conflicts;
        conflicts.reserve(plan.recoveryRecords.size());
        for (const auto &record : plan.recoveryRecords)
            conflicts.append(MigrationConflictRecord::of(record));
        writeFileAtomically(
            conflictReportURL,
            encodeMigrationJson(
                MigrationConflictEnvelope::make(conflicts, m_clock->now()).toJson()));

        writeDurableStore(stagedStoreURL, durableModel, plan.entries, plan.recoveryRecords,
                          operationID);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationStageWrite);
        validateStagedStore(stagedStoreURL, durableModel, entryCount, recoveryCount);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationStageReopen);

        // Through SQLite's backup, never a rename: the old store may still have a live "-wal".
        copyStoreFile(stagedStoreURL, storeURL);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationAdoption);
        validateStagedStore(storeURL, durableModel, entryCount, recoveryCount);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationFinalReopen);
    } catch (...) {
        removeStagedStore(stagedStoreURL);
        throw;
    }

    for (const QString &key : draftKeys)
        userDefaults.remove(key);
    userDefaults.synchronize();
    try {
        removeFileDurably(places.journalURL);
    } catch (const std::exception &error) {
        // The next launch settles it: the drafts are gone, so nothing is left to lose.
        qCWarning(lcStore) << "Could not remove the finished migration's journal:" << error.what();
    }
    removeStagedStore(stagedStoreURL);
    return {storeURL, true, quarantineURL, conflictReportURL};
}

QStringList DiaryMigrationCoordinator::collectDraftKeys(const UserDefaults &userDefaults) {
    QStringList keys;
    for (const QString &key : userDefaults.keys()) {
        if (key.startsWith(draftKeyPrefix) && userDefaults.stringValue(key))
            keys.append(key);
    }
    std::sort(keys.begin(), keys.end());
    return keys;
}

DiaryRecoveryDTO DiaryMigrationCoordinator::makeRecord(const MigrationCandidate &candidate,
                                                       DiaryRecoveryReason reason,
                                                       bool namesCandidate) const {
    DiaryRecoveryDTO record;
    record.recoveryID = QUuid::createUuid();
    if (namesCandidate) {
        record.originalID = candidate.id;
        record.proposedDayKey = candidate.dayKey;
    }
    record.reason = reason;
    record.sourceKind = candidate.sourceKind;
    record.preservedPayload = candidate.payload;
    record.contentSHA256 = sha256Hex(candidate.payload);
    record.createdAt = m_clock->now();
    return record;
}

DiaryMigrationCoordinator::CandidatePlan DiaryMigrationCoordinator::buildCandidates(
    const QList<LegacyEntryPayload> &legacyEntries, const QStringList &draftKeys,
    const UserDefaults &userDefaults, const QTimeZone &timeZone) const {
    const GregorianCalendar calendar(timeZone);
    const QString zoneIdentifier = calendar.timeZoneIdentifier();
    CandidatePlan plan;
    // Keyed by day-key text, so days come out in ascending order.
    QMap<QString, QList<MigrationCandidate>> groups;

    for (const LegacyEntryPayload &entry : legacyEntries) {
        const DayKey day = DayKey::fromDate(entry.date, calendar);
        MigrationCandidate candidate{entry.id,
                                     day,
                                     entry.date,
                                     entry.content,
                                     entry.fontName,
                                     entry.isLocked,
                                     entry.createdAt,
                                     zoneIdentifier,
                                     DiaryRecoverySourceKind::legacyEntry,
                                     encodeMigrationJson(entry.toJson())};
        // A day outside the years 1 to 9999 has no key the store accepts; as an entry it would
        // make every later read of the diary fail. Kept aside whole, like a draft whose key
        // names no day.
        if (DayKey::fromRawValue(day.rawValue()) != day) {
            DiaryRecoveryDTO record =
                makeRecord(candidate, DiaryRecoveryReason::malformedDraftKey, false);
            record.originalID = entry.id;
            plan.recoveryRecords.append(std::move(record));
            continue;
        }
        groups[day.rawValue()].append(std::move(candidate));
    }

    for (const QString &key : draftKeys) {
        const std::optional<QString> text = userDefaults.stringValue(key);
        if (!text)
            continue;
        MigrationCandidate candidate;
        candidate.sourceKind = DiaryRecoverySourceKind::legacyPreferenceDraft;
        candidate.payload = encodeMigrationJson(LegacyPreferenceDraftPayload{key, *text}.toJson());
        const auto day = DayKey::fromRawValue(key.mid(draftKeyPrefix.size()));
        const auto date = day ? day->date(calendar) : std::nullopt;
        if (!date) {
            plan.recoveryRecords.append(
                makeRecord(candidate, DiaryRecoveryReason::malformedDraftKey, false));
            continue;
        }
        candidate.id = draftIdentifier(key);
        candidate.dayKey = *day;
        candidate.date = *date;
        candidate.content = *text;
        candidate.fontName = defaultLegacyFontName;
        candidate.createdAt = m_clock->now();
        candidate.originTimeZone = zoneIdentifier;
        groups[day->rawValue()].append(std::move(candidate));
    }

    QList<MigrationCandidate> winners;
    for (const QList<MigrationCandidate> &group : std::as_const(groups)) {
        QList<qsizetype> sealed;
        for (qsizetype i = 0; i < group.size(); ++i) {
            if (group[i].isLocked)
                sealed.append(i);
        }
        std::optional<qsizetype> winner;
        if (sealed.size() == 1)
            winner = sealed.first();
        else if (group.size() == 1 && !group.first().isLocked)
            winner = 0;

        if (!winner) {
            for (const auto &candidate : group)
                plan.recoveryRecords.append(
                    makeRecord(candidate, DiaryRecoveryReason::duplicateDay, true));
            continue;
        }
        winners.append(group[*winner]);
        // Only the winner itself is left out: a sibling sharing its id is still separate writing.
        for (qsizetype i = 0; i < group.size(); ++i) {
            if (i != *winner)
                plan.recoveryRecords.append(
                    makeRecord(group[i], DiaryRecoveryReason::competingDraft, true));
        }
    }

    QHash<QUuid, int> idCounts;
    for (const auto &winner : std::as_const(winners))
        ++idCounts[winner.id];
    for (auto &winner : winners) {
        if (idCounts.value(winner.id) > 1)
            plan.recoveryRecords.append(
                makeRecord(winner, DiaryRecoveryReason::duplicateIdentifier, true));
        else
            plan.entries.append(std::move(winner));
    }
    std::stable_sort(plan.entries.begin(), plan.entries.end(),
                     [](const MigrationCandidate &a, const MigrationCandidate &b) {
                         return a.dayKey < b.dayKey;
                     });
    return plan;
}

void DiaryMigrationCoordinator::writeDurableStore(const QString &storeURL, const StoreModel &model,
                                                  const QList<MigrationCandidate> &entries,
                                                  const QList<DiaryRecoveryDTO> &recoveryRecords,
                                                  const QUuid &migrationIdentifier) const {
    try {
        removeStoreFiles(storeURL);
    } catch (const std::exception &error) {
        // Opening the file below reports what is wrong with it, if anything.
        qCWarning(lcStore) << "Could not clear the way for a new store:" << error.what();
    }
    SqliteDatabase database(storeURL, SqliteDatabase::OpenMode::readWriteCreate);
    database.exec(QStringLiteral("PRAGMA journal_mode = DELETE"));
    // The whole diary goes in with one save; let its indexes stay in memory meanwhile.
    database.exec(QStringLiteral("PRAGMA cache_size = -65536"));

    QDateTime createdAt;
    for (const auto &entry : entries) {
        if (!createdAt.isValid() || entry.createdAt < createdAt)
            createdAt = entry.createdAt;
    }
    if (!createdAt.isValid())
        createdAt = m_clock->now();
    // Schema, metadata and rows in one transaction: a launch that dies here leaves either no
    // tables at all (written afresh next time) or the whole store, never a store without its
    // metadata.
    database.transaction(SqliteTransactionKind::immediate, [&] {
        writeStoreSchema(database, model);
        insertMetadata(database,
                       {QUuid::createUuid(), 2, uuidText(migrationIdentifier), createdAt, 0});
        for (const auto &entry : entries) {
            const qint64 row = insertEntryRow(database, entryOf(entry));
            // The row writer dates an entry by the start of its day; an old entry keeps the
            // moment it was dated with.
            if (entry.sourceKind == DiaryRecoverySourceKind::legacyEntry)
                database.cached(QStringLiteral("UPDATE DiaryEntry SET date = ?1 WHERE rowid = ?2"))
                    .bind(1, entry.date)
                    .bind(2, row)
                    .execute();
        }
        for (const auto &record : recoveryRecords)
            insertRecoveryRecord(database, record);
    });
}

void DiaryMigrationCoordinator::removeStoreFiles(const QString &storeURL) {
    // A stale "-journal" beside a new file of the same name would be rolled into it.
    for (const QString &path : storeFilePaths(storeURL))
        removeFileDurably(path);
}

QList<LegacyEntryPayload> DiaryMigrationCoordinator::readLegacyEntries(const QString &storeURL,
                                                                       const StoreModel &model) {
    SqliteDatabase database(storeURL, SqliteDatabase::OpenMode::readOnly);
    if (const auto identity = readStoreIdentity(database); !identity || !identity->matches(model))
        throw StoreModelMismatchError(identity ? identity->versionName : QString(),
                                      model.versionName);
    SqliteStatement select(database.handle(),
                           QStringLiteral("SELECT id, date, content, fontName, isLocked, "
                                          "createdAt FROM DiaryEntry"));
    QList<LegacyEntryPayload> entries;
    while (select.step())
        entries.append(legacyEntryPayload(select));
    return entries;
}

void DiaryMigrationCoordinator::validateStagedStore(const QString &storeURL,
                                                    const StoreModel &model,
                                                    qint64 expectedEntryCount,
                                                    qint64 expectedRecoveryCount) {
    SqliteDatabase database(storeURL, SqliteDatabase::OpenMode::readOnly);
    if (!isWrittenBy(database, model))
        throw migrationFailure(stagedIncompatible);
    const qint64 entries = database.queryInt64(QStringLiteral("SELECT count(*) FROM DiaryEntry"));
    const qint64 records =
        database.queryInt64(QStringLiteral("SELECT count(*) FROM RecoveryRecord"));
    const qint64 metadata =
        database.queryInt64(QStringLiteral("SELECT count(*) FROM DiaryMetadata"));
    if (entries != expectedEntryCount || records != expectedRecoveryCount || metadata != 1)
        throw migrationFailure(stagedCountsMismatch);
}

QUuid DiaryMigrationCoordinator::draftIdentifier(const QString &key) {
    return QUuid::fromRfc4122(sha256Digest(key.toUtf8()).left(16));
}

} // namespace velmora
