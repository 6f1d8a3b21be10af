#include "store/DiaryStoreRows.h"

#include "domain/PersistenceError.h"
#include "platform/JsonCoding.h"
#include "platform/SearchFolding.h"
#include "platform/Sha256.h"
#include "store/StoreModel.h"

#include <QCoreApplication>
#include <QTimeZone>

#include <sqlite3.h>

#include <cmath>
#include <optional>

namespace velmora {

namespace {

QDateTime storedDate(const SqliteStatement &row, int column) {
    return row.date(column).value_or(QDateTime::fromMSecsSinceEpoch(0, QTimeZone::utc()));
}

} // namespace

double clampedBodyPointSize(double size) {
    if (!std::isfinite(size))
        return 16.0;
    if (size <= 12.0)
        return 12.0;
    if (size > 24.0)
        return 24.0;
    return size;
}

GregorianCalendar originCalendar(const QString &timeZoneIdentifier) {
    const QTimeZone zone(timeZoneIdentifier.toUtf8());
    return GregorianCalendar(zone.isValid() ? zone : QTimeZone::utc());
}

QDateTime entryDate(const DayKey &dayKey, const QString &originTimeZone,
                    const QDateTime &fallback) {
    return dayKey.date(originCalendar(originTimeZone)).value_or(fallback);
}

namespace {

DiaryEntryDTO makeEntryDTO(const SqliteStatement &row, const QString *content,
                           std::optional<DiaryRevision> revision) {
    const QString storedKey = row.text(1);
    const auto dayKey = DayKey::fromRawValue(storedKey);
    if (!dayKey) {
        throw PersistenceError::invalidData(
            QCoreApplication::translate("CoreDataDiaryRepository",
                                        "A stored entry has an invalid civil-day key: %1.")
                .arg(shownExcerpt(storedKey)));
    }
    if (!revision) {
        const qint64 stored = row.int64(10);
        if (stored < 0) {
            throw PersistenceError::invalidData(
                QCoreApplication::translate("CoreDataDiaryRepository",
                                            "A stored entry has an invalid revision: %1.")
                    .arg(stored));
        }
        revision = DiaryRevision{stored};
    }
    DiaryEntryDTO entry;
    entry.id = row.uuid(0).value_or(QUuid());
    entry.dayKey = *dayKey;
    entry.content = content ? *content : row.text(2);
    entry.fontName = row.text(3);
    entry.bodyPointSize = clampedBodyPointSize(row.real(4));
    entry.status = row.int64(5) != 0 ? DiaryEntryStatus::sealed : DiaryEntryStatus::draft;
    entry.originTimeZone = row.text(6);
    entry.createdAt = storedDate(row, 7);
    entry.updatedAt = row.date(8).value_or(entry.createdAt);
    entry.sealedAt = row.date(9);
    entry.revision = *revision;
    return entry;
}

} // namespace

DiaryEntryDTO makeEntryDTO(const SqliteStatement &row) {
    return makeEntryDTO(row, nullptr, std::nullopt);
}

DiaryEntryDTO makeEntryDTO(const SqliteStatement &row, const QString &content,
                           DiaryRevision revision) {
    return makeEntryDTO(row, &content, revision);
}

DiaryRecoveryDTO makeRecoveryDTO(const SqliteStatement &row) {
    DiaryRecoveryDTO record;
    record.recoveryID = row.uuid(0).value_or(QUuid());
    record.originalID = row.uuid(1);
    if (!row.isNull(2))
        record.proposedDayKey = DayKey::fromRawValue(row.text(2));
    record.reason = fromRawValue<DiaryRecoveryReason>(row.text(3))
                        .value_or(DiaryRecoveryReason::importConflict);
    const QString sourceKind = row.text(4);
    record.sourceKind = sourceKind == QLatin1String("legacyEntry")
                            ? DiaryRecoverySourceKind::legacyEntry
                            : (sourceKind == QLatin1String("legacyPreferenceDraft")
                                   ? DiaryRecoverySourceKind::legacyPreferenceDraft
                                   : DiaryRecoverySourceKind::importRecord);
    record.preservedPayload = row.blob(5);
    record.contentSHA256 = row.text(6);
    record.createdAt = storedDate(row, 7);
    return record;
}

DiaryMetadataDTO makeMetadataDTO(const SqliteStatement &row) {
    DiaryMetadataDTO metadata;
    metadata.diaryID = row.uuid(0).value_or(QUuid());
    metadata.schemaVersion = row.int64(1);
    metadata.migrationIdentifier = row.text(2);
    metadata.createdAt = storedDate(row, 3);
    metadata.snapshotSequence = row.int64(4);
    return metadata;
}

namespace {

// The columns an entry's own values decide, as ?1 to ?10; its identity, day and creation time
// follow as ?11 to ?13 where a statement sets them.
constexpr auto entryValueColumns = "date, content, contentFolded, fontName, bodyPointSize, "
                                   "originTimeZone, isLocked, sealedAt, modifiedAt, revision";

SqliteStatement &bindEntryValues(SqliteStatement &statement, const DiaryEntryDTO &entry) {
    return statement.bind(1, entryDate(entry.dayKey, entry.originTimeZone, entry.createdAt))
        .bind(2, entry.content)
        .bind(3, foldedForSearch(entry.content))
        .bind(4, entry.fontName)
        .bind(5, clampedBodyPointSize(entry.bodyPointSize))
        .bind(6, entry.originTimeZone)
        .bind(7, entry.isSealed())
        .bind(8, entry.sealedAt)
        .bind(9, entry.updatedAt)
        .bind(10, entry.revision.rawValue);
}

} // namespace

qint64 insertEntryRow(SqliteDatabase &database, const DiaryEntryDTO &entry) {
    auto &insert = database.cached(
        QStringLiteral("INSERT INTO DiaryEntry (%1, id, dayKey, createdAt) VALUES (?1, ?2, ?3, ?4, "
                       "?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, ?13)")
            .arg(QLatin1String(entryValueColumns)));
    bindEntryValues(insert, entry)
        .bind(11, entry.id)
        .bind(12, entry.dayKey.rawValue())
        .bind(13, entry.createdAt)
        .execute();
    return sqlite3_last_insert_rowid(database.handle());
}

void updateEntryRow(SqliteDatabase &database, qint64 rowID, const DiaryEntryDTO &entry) {
    auto &update = database.cached(
        QStringLiteral("UPDATE DiaryEntry SET (%1) = (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) "
                       "WHERE rowid = ?11")
            .arg(QLatin1String(entryValueColumns)));
    bindEntryValues(update, entry).bind(11, rowID).execute();
}

void insertRecoveryRecord(SqliteDatabase &database, const DiaryRecoveryDTO &record) {
    auto &insert = database.cached(QStringLiteral(
        "INSERT INTO RecoveryRecord (recoveryID, originalID, proposedDayKey, reason, sourceKind, "
        "preservedPayload, contentSHA256, createdAt) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)"));
    insert.bind(1, record.recoveryID).bind(2, record.originalID);
    if (record.proposedDayKey)
        insert.bind(3, record.proposedDayKey->rawValue());
    insert.bind(4, rawValue(record.reason))
        .bind(5, rawValue(record.sourceKind))
        .bind(6, record.preservedPayload)
        .bind(7, record.contentSHA256)
        .bind(8, record.createdAt)
        .execute();
}

void insertMetadata(SqliteDatabase &database, const DiaryMetadataDTO &metadata) {
    database
        .cached(QStringLiteral("INSERT INTO DiaryMetadata (diaryID, schemaVersion, "
                               "migrationIdentifier, createdAt, snapshotSequence) "
                               "VALUES (?1, ?2, ?3, ?4, ?5)"))
        .bind(1, metadata.diaryID)
        .bind(2, metadata.schemaVersion)
        .bind(3, metadata.migrationIdentifier)
        .bind(4, metadata.createdAt)
        .bind(5, metadata.snapshotSequence)
        .execute();
}

DiaryEntryDTO readEntryRow(SqliteDatabase &database, qint64 rowID) {
    auto &select = database.cached(QStringLiteral("SELECT %1 FROM DiaryEntry WHERE rowid = ?1")
                                       .arg(QLatin1String(entryColumns)));
    select.bind(1, rowID);
    if (!select.step())
        throw SqliteError(SQLITE_NOTFOUND, QCoreApplication::translate(
                                               "CoreDataDiaryRepository",
                                               "A stored entry vanished while it was written."));
    return makeEntryDTO(select);
}

DiaryRecoveryDTO makeCompetingRecovery(const DiaryEntryDTO &entry, const QDateTime &at) {
    DiaryRecoveryDTO record;
    record.preservedPayload =
        writeJson(entry.toJson(JsonDateEncoding::iso8601), JsonWriteOptions{.escapeSlashes = true});
    record.recoveryID = QUuid::createUuid();
    record.originalID = entry.id;
    record.proposedDayKey = entry.dayKey;
    record.reason = DiaryRecoveryReason::competingDraft;
    record.sourceKind = DiaryRecoverySourceKind::importRecord;
    record.contentSHA256 =
        sha256DigestHexBytes(sha256Digest(record.preservedPayload)).join(QString());
    record.createdAt = at;
    return record;
}

DiarySnapshotDTO readDiarySnapshot(SqliteDatabase &database) {
    DiarySnapshotDTO snapshot;
    auto &metadata = database.cached(
        QStringLiteral("SELECT %1 FROM DiaryMetadata LIMIT 1").arg(QLatin1String(metadataColumns)));
    if (!metadata.step())
        throw PersistenceError::invalidData(
            QCoreApplication::translate("CoreDataDiaryRepository", "Diary metadata is missing."));
    snapshot.metadata = makeMetadataDTO(metadata);
    auto &entries = database.cached(QStringLiteral("SELECT %1 FROM DiaryEntry ORDER BY dayKey")
                                        .arg(QLatin1String(entryColumns)));
    while (entries.step())
        snapshot.entries.append(makeEntryDTO(entries));
    auto &records =
        database.cached(QStringLiteral("SELECT %1 FROM RecoveryRecord ORDER BY createdAt")
                            .arg(QLatin1String(recoveryColumns)));
    while (records.step())
        snapshot.recoveryRecords.append(makeRecoveryDTO(records));
    return snapshot;
}

void writeDiarySnapshot(SqliteDatabase &database, const DiarySnapshotDTO &diary) {
    database.exec(QStringLiteral(
        "DELETE FROM DiaryEntry; DELETE FROM RecoveryRecord; DELETE FROM DiaryMetadata;"));
    insertMetadata(database, diary.metadata);
    for (const auto &entry : diary.entries)
        insertEntryRow(database, entry);
    for (const auto &record : diary.recoveryRecords)
        insertRecoveryRecord(database, record);
}

} // namespace velmora
