#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryEntryDTO.h"
#include "platform/JsonCoding.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

namespace velmora {

// The one metadata record of the diary.
struct DiaryMetadataDTO {
    QUuid diaryID;
    qint64 schemaVersion = 0;
    QString migrationIdentifier;
    QDateTime createdAt;
    qint64 snapshotSequence = 0;

    QJsonObject toJson(JsonDateEncoding dates) const;
    static DiaryMetadataDTO fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                     const QStringList &codingPath = {});

    friend bool operator==(const DiaryMetadataDTO &, const DiaryMetadataDTO &) = default;
};

enum class DiaryRecoveryReason {
    duplicateDay,
    duplicateIdentifier,
    competingDraft,
    malformedDraftKey,
    deduplicatedPayload,
    importConflict,
};
VELMORA_RAW_VALUES(DiaryRecoveryReason, "duplicateDay", "duplicateIdentifier", "competingDraft",
                   "malformedDraftKey", "deduplicatedPayload", "importConflict");

enum class DiaryRecoverySourceKind { legacyEntry, legacyPreferenceDraft, importRecord };
VELMORA_RAW_VALUES(DiaryRecoverySourceKind, "legacyEntry", "legacyPreferenceDraft", "importRecord");

// Writing kept aside rather than lost. `contentSHA256` is the digest of exactly
// `preservedPayload`, as 64 lowercase hexadecimal digits.
struct DiaryRecoveryDTO {
    QUuid recoveryID;
    std::optional<QUuid> originalID;
    std::optional<DayKey> proposedDayKey;
    DiaryRecoveryReason reason = DiaryRecoveryReason::competingDraft;
    DiaryRecoverySourceKind sourceKind = DiaryRecoverySourceKind::importRecord;
    QByteArray preservedPayload;
    QString contentSHA256;
    QDateTime createdAt;

    QJsonObject toJson(JsonDateEncoding dates) const;
    static DiaryRecoveryDTO fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                     const QStringList &codingPath = {});

    friend bool operator==(const DiaryRecoveryDTO &, const DiaryRecoveryDTO &) = default;
};

// The whole diary: metadata, entries by day key, recovery records by creation time.
struct DiarySnapshotDTO {
    DiaryMetadataDTO metadata;
    QList<DiaryEntryDTO> entries;
    QList<DiaryRecoveryDTO> recoveryRecords;

    QJsonObject toJson(JsonDateEncoding dates) const;
    static DiarySnapshotDTO fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                     const QStringList &codingPath = {});

    friend bool operator==(const DiarySnapshotDTO &, const DiarySnapshotDTO &) = default;
};

enum class DiaryExportFormat { unencryptedJSON };
VELMORA_RAW_VALUES(DiaryExportFormat, "unencryptedJSON");

} // namespace velmora
