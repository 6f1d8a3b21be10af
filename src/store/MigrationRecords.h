#pragma once

#include "domain/DayKey.h"
#include "domain/DiarySnapshotDTO.h"
#include "platform/JsonCoding.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace velmora {

// The migration's own files keep the byte form older versions wrote and read: sorted keys, "/"
// escaped as "\/", dates as seconds since 2001-01-01 00:00:00 UTC, bytes as Base64.
inline constexpr JsonDateEncoding migrationDateEncoding =
    JsonDateEncoding::secondsSinceReferenceDate;
QByteArray encodeMigrationJson(const QJsonValue &value);

// The record of a migration in progress: what a later launch needs to finish or repeat it.
struct MigrationJournal {
    QUuid operationID;
    QString storePath;
    QStringList archivedDraftKeys;
    QString quarantinePath;
    QString conflictReportPath;
    QString stagedStorePath;
    QDateTime startedAt;
    // Known once the candidates are built. A settling checks the adopted store against them
    // before it lets go of the drafts; older readers ignore the two members.
    std::optional<qint64> plannedEntryCount;
    std::optional<qint64> plannedRecoveryCount;

    QJsonObject toJson() const;
    static MigrationJournal fromJson(const QJsonValue &value, const QStringList &codingPath = {});

    friend bool operator==(const MigrationJournal &, const MigrationJournal &) = default;
};

// One recovery record of a migration as the conflict report lists it, without its payload.
struct MigrationConflictRecord {
    QUuid recoveryID;
    std::optional<QUuid> originalID;
    std::optional<DayKey> proposedDayKey;
    DiaryRecoveryReason reason = DiaryRecoveryReason::duplicateDay;
    DiaryRecoverySourceKind sourceKind = DiaryRecoverySourceKind::legacyEntry;
    QString contentSHA256;

    static MigrationConflictRecord of(const DiaryRecoveryDTO &record);

    QJsonObject toJson() const;
    static MigrationConflictRecord fromJson(const QJsonValue &value,
                                            const QStringList &codingPath = {});

    friend bool operator==(const MigrationConflictRecord &,
                           const MigrationConflictRecord &) = default;
};

// The content of a conflict report file. `checksum` is the SHA-256 text of exactly `reportData`.
struct MigrationConflictEnvelope {
    static constexpr qint64 currentFormatVersion = 1;

    qint64 formatVersion = currentFormatVersion;
    QDateTime createdAt;
    QByteArray reportData;
    QString checksum;

    static MigrationConflictEnvelope make(const QList<MigrationConflictRecord> &records,
                                          const QDateTime &createdAt);
    QList<MigrationConflictRecord> records() const;

    QJsonObject toJson() const;
    static MigrationConflictEnvelope fromJson(const QJsonValue &value,
                                              const QStringList &codingPath = {});

    friend bool operator==(const MigrationConflictEnvelope &,
                           const MigrationConflictEnvelope &) = default;
};

// One row of an old store as read.
struct LegacyEntryPayload {
    QUuid id;
    QDateTime date;
    QString content;
    QString fontName;
    bool isLocked = false;
    QDateTime createdAt;

    QJsonObject toJson() const;
    static LegacyEntryPayload fromJson(const QJsonValue &value, const QStringList &codingPath = {});

    friend bool operator==(const LegacyEntryPayload &, const LegacyEntryPayload &) = default;
};

// One older draft kept in the user defaults; `preferenceKey` keeps its "draft_" prefix.
struct LegacyPreferenceDraftPayload {
    QString preferenceKey;
    QString content;

    QJsonObject toJson() const;
    static LegacyPreferenceDraftPayload fromJson(const QJsonValue &value,
                                                 const QStringList &codingPath = {});

    friend bool operator==(const LegacyPreferenceDraftPayload &,
                           const LegacyPreferenceDraftPayload &) = default;
};

// One entry the migration means to write; held in memory only.
struct MigrationCandidate {
    QUuid id;
    DayKey dayKey;
    QDateTime date;
    QString content;
    QString fontName;
    bool isLocked = false;
    QDateTime createdAt;
    QString originTimeZone;
    DiaryRecoverySourceKind sourceKind = DiaryRecoverySourceKind::legacyEntry;
    QByteArray payload;

    friend bool operator==(const MigrationCandidate &, const MigrationCandidate &) = default;
};

// What preparing the store at launch did. Paths are absolute and standardised.
struct PreparedDiaryStore {
    QString storeURL;
    bool migrated = false;
    std::optional<QString> quarantineStoreURL;
    std::optional<QString> conflictReportURL;

    friend bool operator==(const PreparedDiaryStore &, const PreparedDiaryStore &) = default;
};

} // namespace velmora
