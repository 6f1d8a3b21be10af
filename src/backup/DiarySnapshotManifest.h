#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "domain/DiarySnapshotDTO.h"
#include "platform/JsonCoding.h"

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QUuid>

#include <optional>

namespace velmora {

// The names and limits of a backup package: a folder "<name>.velmorabackup" holding exactly
// "manifest.json" and "records.ndjson".
namespace backupPackage {
inline const QString extension = QStringLiteral("velmorabackup");
inline const QString manifestFileName = QStringLiteral("manifest.json");
inline const QString recordsFileName = QStringLiteral("records.ndjson");
inline const QString formatIdentifier = QStringLiteral("velmora-backup");
inline constexpr qint64 formatVersion = 1;
inline constexpr qint64 recordsByteLimit = 268435456;
// The manifest is a few hundred bytes; anything near this is not ours and is never read.
inline constexpr qint64 manifestByteLimit = 1024 * 1024;
// Every date in a package is milliseconds since 1970.
inline constexpr JsonDateEncoding dates = JsonDateEncoding::millisecondsSince1970;
} // namespace backupPackage

// The content of "manifest.json": what the records file holds, its length and digest.
struct DiarySnapshotManifest {
    QString format = backupPackage::formatIdentifier;
    qint64 formatVersion = backupPackage::formatVersion;
    QDateTime createdAt;
    QUuid diaryID;
    qint64 schemaVersion = 0;
    qint64 entryCount = 0;
    qint64 recoveryCount = 0;
    std::optional<DayKey> earliestDay;
    std::optional<DayKey> latestDay;
    qint64 recordsByteCount = 0;
    QString recordsSHA256;

    // All eleven keys; absent days are written as null.
    QJsonObject toJson() const;
    static DiarySnapshotManifest fromJson(const QJsonValue &value);
    // The compact, sorted-key bytes of the file.
    QByteArray encoded() const;

    friend bool operator==(const DiarySnapshotManifest &, const DiarySnapshotManifest &) = default;
};

enum class DiarySnapshotRecordKind { metadata, entry, recovery };
VELMORA_RAW_VALUES(DiarySnapshotRecordKind, "metadata", "entry", "recovery");

// One line of "records.ndjson": a kind and the one payload it names.
struct DiarySnapshotRecord {
    DiarySnapshotRecordKind kind = DiarySnapshotRecordKind::metadata;
    std::optional<DiaryMetadataDTO> metadata;
    std::optional<DiaryEntryDTO> entry;
    std::optional<DiaryRecoveryDTO> recovery;

    // Absent payloads are left out.
    QJsonObject toJson() const;
    // Decodes the kind and whichever payloads are present; whether they fit the kind is the
    // reader's check.
    static DiarySnapshotRecord fromJson(const QJsonValue &value);
    // True when exactly the payload named by the kind is present.
    bool payloadMatchesKind() const;

    friend bool operator==(const DiarySnapshotRecord &, const DiarySnapshotRecord &) = default;
};

// What a caller sees of one validated package.
struct SnapshotSummary {
    QDateTime createdAt;
    QUuid diaryID;
    qint64 entryCount = 0;
    qint64 recoveryCount = 0;
    std::optional<DayKey> earliestDay;
    std::optional<DayKey> latestDay;
    // The standardized path of the package folder.
    QString packageURL;

    friend bool operator==(const SnapshotSummary &, const SnapshotSummary &) = default;
};

} // namespace velmora
