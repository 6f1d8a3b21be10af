#pragma once

#include "domain/DiaryEntryDTO.h"
#include "domain/DiarySnapshotDTO.h"
#include "platform/GregorianCalendar.h"
#include "store/Sqlite.h"

#include <QDateTime>
#include <QString>

namespace velmora {

// How the diary's records map onto the rows of a DurableV2 store. Everything that writes such a
// store goes through these, so the folded search column is always kept.

// The columns makeEntryDTO reads, in its order; a select lists them first.
inline constexpr auto entryColumns = "id, dayKey, content, fontName, bodyPointSize, isLocked, "
                                     "originTimeZone, createdAt, modifiedAt, sealedAt, revision";

// A size that is not finite becomes 16; otherwise it is held to 12…24.
double clampedBodyPointSize(double size);

// The Gregorian calendar of the zone with that identifier, or of GMT when there is none.
GregorianCalendar originCalendar(const QString &timeZoneIdentifier);

// The start of the key's day in the origin zone; `fallback` when the day cannot be made there.
QDateTime entryDate(const DayKey &dayKey, const QString &originTimeZone, const QDateTime &fallback);

// The entry in the current row of a select that lists `entryColumns` first. Throws
// PersistenceError::invalidData for a stored day key that is no key or a negative revision.
DiaryEntryDTO makeEntryDTO(const SqliteStatement &row);
// The entry the row holds once `content` and `revision` are written over it: neither is read
// from the row, nor is the stored revision checked.
DiaryEntryDTO makeEntryDTO(const SqliteStatement &row, const QString &content,
                           DiaryRevision revision);

// Never fails: odd stored values read as the nearest meaningful record.
DiaryRecoveryDTO makeRecoveryDTO(const SqliteStatement &row);
inline constexpr auto recoveryColumns =
    "recoveryID, originalID, proposedDayKey, reason, sourceKind, "
    "preservedPayload, contentSHA256, createdAt";

inline constexpr auto metadataColumns =
    "diaryID, schemaVersion, migrationIdentifier, createdAt, snapshotSequence";
DiaryMetadataDTO makeMetadataDTO(const SqliteStatement &row);

// Inserts an entry as given (revision included), computing its date and clamping its size.
// Returns the new row's id.
qint64 insertEntryRow(SqliteDatabase &database, const DiaryEntryDTO &entry);
// The same over row `rowID`, whose id, day key and creation time stay as stored.
void updateEntryRow(SqliteDatabase &database, qint64 rowID, const DiaryEntryDTO &entry);
void insertRecoveryRecord(SqliteDatabase &database, const DiaryRecoveryDTO &record);
void insertMetadata(SqliteDatabase &database, const DiaryMetadataDTO &metadata);

// The entry in row `rowID`, read back through makeEntryDTO.
DiaryEntryDTO readEntryRow(SqliteDatabase &database, qint64 rowID);

// The whole diary as stored: metadata, entries by day, recovery records by creation time. Throws
// PersistenceError::invalidData when the metadata row is missing.
DiarySnapshotDTO readDiarySnapshot(SqliteDatabase &database);
// Replaces every row with the diary's, inside the caller's transaction.
void writeDiarySnapshot(SqliteDatabase &database, const DiarySnapshotDTO &diary);

// A record that keeps `entry` aside: its JSON (sorted keys, ISO 8601 dates) as the payload.
DiaryRecoveryDTO makeCompetingRecovery(const DiaryEntryDTO &entry, const QDateTime &at);

} // namespace velmora
