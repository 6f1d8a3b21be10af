#include "store/DiaryMigrationCoordinator.h"

#include "domain/PersistenceError.h"
#include "platform/FilePaths.h"
#include "platform/GregorianCalendar.h"
#include "platform/Sha256.h"
#include "platform/UuidText.h"
#include "store/MigrationSqlite.h"
#include "store/MigrationStoreSchema.h"
#include "store/StoreFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMap>

#include <algorithm>

namespace velmora {

namespace {

PersistenceError migrationFailure(const char *text) {
    return PersistenceError::migrationFailed(
        QCoreApplication::translate("DiaryMigrationCoordinator", text));
}

const char *const journalUnreadable = "The interrupted migration journal is unreadable.";
const char *const journalForeign = "The interrupted migration journal targets another store.";
const char *const journalUnsafe = "The interrupted migration journal contains an unsafe path.";
const char *const journalUnadopted =
    "The interrupted migration journal does not match the store it names.";
const char *const unknownModel = "The store model is neither LegacyV1 nor DurableV2.";
const char *const legacyEntryIncomplete = "A LegacyV1 entry is missing required data.";
const char *const stagedIncompatible = "The staged store is not compatible with DurableV2.";
const char *const stagedCountsMismatch =
    "Staged-store validation counts do not match the migration plan.";

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

// Copies a whole database into another file through SQLite's backup, so the target changes in one
// transaction of its own: a process that dies midway leaves it as it was.
void copyStore(const QString &sourceURL, const QString &targetURL) {
    MigrationSqlite source(sourceURL, MigrationSqlite::Mode::readOnly);
    MigrationSqlite target(targetURL, MigrationSqlite::Mode::create);
    // A write-ahead-logged target takes a backup only at its own page size; a rollback journal
    // takes any.
    target.exec("PRAGMA journal_mode=DELETE");
    target.restoreFrom(source);
}

LegacyEntryPayload legacyEntryPayload(const MigrationSqlite::Statement &row) {
    const auto id = uuidFromStored(row.column(0));
    const auto date = dateFromStored(row.column(1));
    const QVariant content = row.column(2);
    const QVariant fontName = row.column(3);
    const auto createdAt = dateFromStored(row.column(5));
    if (!id || !date || content.typeId() != QMetaType::QString ||
        fontName.typeId() != QMetaType::QString || !createdAt)
        throw migrationFailure(legacyEntryIncomplete);
    const QVariant isLocked = row.column(4);
    return {*id,
            *date,
            content.toString(),
            fontName.toString(),
            isLocked.typeId() == QMetaType::LongLong && isLocked.toLongLong() != 0,
            *createdAt};
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
                                                           MigrationUserDefaults &userDefaults,
                                                           const QTimeZone &timeZone) {
    const QString location = standardizedPath(storeURL);
    createDirectory(QFileInfo(location).absolutePath());

    if (!fileExists(location)) {
        writeDurableStore(location, {}, {}, QUuid::createUuid());
        return {location, false, std::nullopt, std::nullopt};
    }

    StoreModelVersion version = StoreModelVersion::unknown;
    {
        // Read-write, so that a copy a crash interrupted is rolled back before anything is read.
        MigrationSqlite db(location, MigrationSqlite::Mode::readWrite);
        version = readStoreModel(db);
    }
    switch (version) {
    case StoreModelVersion::durableV2:
        if (auto settled = settleInterruptedMigration(location, userDefaults))
            return *settled;
        return {location, false, std::nullopt, std::nullopt};
    case StoreModelVersion::legacyV1:
        return migrateLegacyV1Store(location, userDefaults, timeZone);
    case StoreModelVersion::unknown:
        break;
    }
    throw migrationFailure(unknownModel);
}

std::optional<PreparedDiaryStore>
DiaryMigrationCoordinator::settleInterruptedMigration(const QString &storeURL,
                                                      MigrationUserDefaults &userDefaults) {
    const Places places = Places::of(standardizedPath(storeURL));
    if (!fileExists(places.journalURL))
        return std::nullopt;

    MigrationJournal journal;
    try {
        QFile file(places.journalURL);
        if (!file.open(QIODevice::ReadOnly))
            throw migrationFailure(journalUnreadable);
        journal = MigrationJournal::fromJson(parseJson(file.readAll()));
    } catch (...) {
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
    // known to be the one this migration adopted.
    settleOnlyAdoptedStore(journal, places.storeURL);

    for (const QString &key : std::as_const(journal.archivedDraftKeys)) {
        if (key.startsWith(draftKeyPrefix))
            userDefaults.removeObject(key);
    }
    userDefaults.synchronize();
    try {
        removeStoreFiles(stagedStoreURL);
    } catch (...) {
    }
    removeFileIfPresent(places.journalURL);
    return PreparedDiaryStore{places.storeURL, true, existingFile(quarantineURL),
                              existingFile(conflictReportURL)};
}

void DiaryMigrationCoordinator::settleOnlyAdoptedStore(const MigrationJournal &journal,
                                                       const QString &storeURL) const {
    {
        MigrationSqlite db(storeURL, MigrationSqlite::Mode::readOnly);
        MigrationSqlite::Statement statement(
            db, QStringLiteral("SELECT migrationIdentifier FROM DiaryMetadata LIMIT 2"));
        QList<std::optional<QUuid>> identifiers;
        while (statement.step())
            identifiers.append(uuidFromText(statement.column(0).toString()));
        if (identifiers.size() != 1 || identifiers.first() != journal.operationID)
            throw migrationFailure(journalUnadopted);
    }
    if (!journal.plannedEntryCount || !journal.plannedRecoveryCount)
        return;
    try {
        validateStagedStore(storeURL, *journal.plannedEntryCount, *journal.plannedRecoveryCount);
    } catch (const PersistenceError &) {
        throw migrationFailure(journalUnadopted);
    }
}

PreparedDiaryStore DiaryMigrationCoordinator::migrateLegacyV1Store(
    const QString &storeURL, MigrationUserDefaults &userDefaults, const QTimeZone &timeZone) {
    const QUuid operationID = QUuid::createUuid();
    const QString identifier = uuidText(operationID);
    const Places places = Places::of(storeURL);
    createDirectory(places.quarantineDirectory);
    createDirectory(places.migrationsDirectory);

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
        copyStore(storeURL, quarantineURL);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationQuarantine);

        const QList<LegacyEntryPayload> legacyEntries = readLegacyEntries(storeURL);
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

        writeDurableStore(stagedStoreURL, plan.entries, plan.recoveryRecords, operationID);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationStageWrite);
        validateStagedStore(stagedStoreURL, entryCount, recoveryCount);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationStageReopen);

        copyStore(stagedStoreURL, storeURL);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationAdoption);
        validateStagedStore(storeURL, entryCount, recoveryCount);
        m_faultInjector->inject(DiaryRepositoryFaultPoint::afterMigrationFinalReopen);
    } catch (...) {
        try {
            removeStoreFiles(stagedStoreURL);
        } catch (...) {
        }
        throw;
    }

    for (const QString &key : draftKeys)
        userDefaults.removeObject(key);
    userDefaults.synchronize();
    try {
        removeFileIfPresent(places.journalURL);
    } catch (...) {
    }
    try {
        removeStoreFiles(stagedStoreURL);
    } catch (...) {
    }
    return {storeURL, true, quarantineURL, conflictReportURL};
}

QStringList DiaryMigrationCoordinator::collectDraftKeys(const MigrationUserDefaults &userDefaults) {
    QStringList keys;
    for (const QString &key : userDefaults.keys()) {
        if (key.startsWith(draftKeyPrefix) && userDefaults.string(key))
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
    const MigrationUserDefaults &userDefaults, const QTimeZone &timeZone) const {
    const GregorianCalendar calendar(timeZone);
    const QString zoneIdentifier = calendar.timeZoneIdentifier();
    CandidatePlan plan;
    // Keyed by day-key text, so days come out in ascending order.
    QMap<QString, QList<MigrationCandidate>> groups;

    for (const LegacyEntryPayload &entry : legacyEntries) {
        const DayKey day = DayKey::fromDate(entry.date, calendar);
        groups[day.rawValue()].append({entry.id, day, entry.date, entry.content, entry.fontName,
                                       entry.isLocked, entry.createdAt, zoneIdentifier,
                                       DiaryRecoverySourceKind::legacyEntry,
                                       encodeMigrationJson(entry.toJson())});
    }

    for (const QString &key : draftKeys) {
        const std::optional<QString> text = userDefaults.string(key);
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

void DiaryMigrationCoordinator::writeDurableStore(const QString &storeURL,
                                                  const QList<MigrationCandidate> &entries,
                                                  const QList<DiaryRecoveryDTO> &recoveryRecords,
                                                  const QUuid &migrationIdentifier) const {
    try {
        removeStoreFiles(storeURL);
    } catch (...) {
    }
    MigrationSqlite db(storeURL, MigrationSqlite::Mode::create);
    db.exec("PRAGMA journal_mode=DELETE");
    // One transaction: a store that exists at all is complete, metadata included.
    db.exec("BEGIN IMMEDIATE");
    createDurableV2Schema(db);

    QDateTime createdAt;
    for (const auto &entry : entries) {
        if (!createdAt.isValid() || entry.createdAt < createdAt)
            createdAt = entry.createdAt;
    }
    if (!createdAt.isValid())
        createdAt = m_clock->now();
    {
        MigrationSqlite::Statement insert(
            db, QStringLiteral("INSERT INTO DiaryMetadata (diaryID, schemaVersion, "
                               "migrationIdentifier, createdAt, snapshotSequence) "
                               "VALUES (?, 2, ?, ?, 0)"));
        insert.bind(1, storedUuid(QUuid::createUuid()));
        insert.bind(2, uuidText(migrationIdentifier));
        insert.bind(3, storedDate(createdAt));
        insert.step();
    }
    {
        MigrationSqlite::Statement insert(
            db,
            QStringLiteral("INSERT INTO DiaryEntry (id, date, content, fontName, isLocked, "
                           "createdAt, dayKey, originTimeZone, bodyPointSize, revision, "
                           "modifiedAt, sealedAt) VALUES (?, ?, ?, ?, ?, ?, ?, ?, 16.0, 1, ?, ?)"));
        for (const auto &entry : entries) {
            insert.bind(1, storedUuid(entry.id));
            insert.bind(2, storedDate(entry.date));
            insert.bind(3, entry.content);
            insert.bind(4, entry.fontName);
            insert.bind(5, entry.isLocked);
            insert.bind(6, storedDate(entry.createdAt));
            insert.bind(7, entry.dayKey.rawValue());
            insert.bind(8, entry.originTimeZone);
            insert.bind(9, storedDate(entry.createdAt));
            insert.bind(10, entry.isLocked ? storedDate(entry.createdAt) : QVariant());
            insert.step();
            insert.reset();
        }
    }
    {
        MigrationSqlite::Statement insert(
            db,
            QStringLiteral("INSERT INTO RecoveryRecord (recoveryID, originalID, proposedDayKey, "
                           "reason, sourceKind, preservedPayload, contentSHA256, createdAt) "
                           "VALUES (?, ?, ?, ?, ?, ?, ?, ?)"));
        for (const auto &record : recoveryRecords) {
            insert.bind(1, storedUuid(record.recoveryID));
            insert.bind(2, record.originalID ? storedUuid(*record.originalID) : QVariant());
            insert.bind(3, record.proposedDayKey ? QVariant(record.proposedDayKey->rawValue())
                                                 : QVariant());
            insert.bind(4, rawValue(record.reason));
            insert.bind(5, rawValue(record.sourceKind));
            insert.bind(6, record.preservedPayload);
            insert.bind(7, record.contentSHA256);
            insert.bind(8, storedDate(record.createdAt));
            insert.step();
            insert.reset();
        }
    }
    db.exec("COMMIT");
}

void DiaryMigrationCoordinator::removeStoreFiles(const QString &storeURL) {
    removeFileIfPresent(storeURL);
    removeFileIfPresent(storeURL + QStringLiteral("-wal"));
    removeFileIfPresent(storeURL + QStringLiteral("-shm"));
}

QList<LegacyEntryPayload> DiaryMigrationCoordinator::readLegacyEntries(const QString &storeURL) {
    MigrationSqlite db(storeURL, MigrationSqlite::Mode::readOnly);
    MigrationSqlite::Statement select(
        db, QStringLiteral("SELECT id, date, content, fontName, isLocked, createdAt "
                           "FROM DiaryEntry"));
    QList<LegacyEntryPayload> entries;
    while (select.step())
        entries.append(legacyEntryPayload(select));
    return entries;
}

void DiaryMigrationCoordinator::validateStagedStore(const QString &storeURL,
                                                    qint64 expectedEntryCount,
                                                    qint64 expectedRecoveryCount) {
    MigrationSqlite db(storeURL, MigrationSqlite::Mode::readOnly);
    if (readStoreModel(db) != StoreModelVersion::durableV2)
        throw migrationFailure(stagedIncompatible);
    const qint64 entries = db.scalar(QStringLiteral("SELECT count(*) FROM DiaryEntry"));
    const qint64 records = db.scalar(QStringLiteral("SELECT count(*) FROM RecoveryRecord"));
    const qint64 metadata = db.scalar(QStringLiteral("SELECT count(*) FROM DiaryMetadata"));
    if (entries != expectedEntryCount || records != expectedRecoveryCount || metadata != 1)
        throw migrationFailure(stagedCountsMismatch);
}

QUuid DiaryMigrationCoordinator::draftIdentifier(const QString &key) {
    return QUuid::fromRfc4122(sha256Digest(key.toUtf8()).left(16));
}

} // namespace velmora
