#include "store/MigrationRecords.h"

#include "platform/Sha256.h"
#include "platform/UuidText.h"

#include <QJsonArray>

namespace velmora {

namespace {

QString base64Text(const QByteArray &bytes) {
    return QString::fromLatin1(bytes.toBase64());
}

QJsonValue encodeMigrationDate(const QDateTime &moment) {
    return encodeDate(moment, migrationDateEncoding);
}

} // namespace

QByteArray encodeMigrationJson(const QJsonValue &value) {
    return writeJson(value, JsonWriteOptions{.escapeSlashes = true});
}

QJsonObject MigrationJournal::toJson() const {
    QJsonObject object{
        {QStringLiteral("operationID"), uuidText(operationID)},
        {QStringLiteral("storePath"), storePath},
        {QStringLiteral("archivedDraftKeys"), QJsonArray::fromStringList(archivedDraftKeys)},
        {QStringLiteral("quarantinePath"), quarantinePath},
        {QStringLiteral("conflictReportPath"), conflictReportPath},
        {QStringLiteral("stagedStorePath"), stagedStorePath},
        {QStringLiteral("startedAt"), encodeMigrationDate(startedAt)},
    };
    if (plannedEntryCount)
        object.insert(QStringLiteral("plannedEntryCount"), *plannedEntryCount);
    if (plannedRecoveryCount)
        object.insert(QStringLiteral("plannedRecoveryCount"), *plannedRecoveryCount);
    return object;
}

MigrationJournal MigrationJournal::fromJson(const QJsonValue &value,
                                            const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    MigrationJournal journal;
    journal.operationID = reader.uuid(QStringLiteral("operationID"));
    journal.storePath = reader.string(QStringLiteral("storePath"));
    journal.archivedDraftKeys =
        reader.list<QString>(QStringLiteral("archivedDraftKeys"), &json::string);
    journal.quarantinePath = reader.string(QStringLiteral("quarantinePath"));
    journal.conflictReportPath = reader.string(QStringLiteral("conflictReportPath"));
    journal.stagedStorePath = reader.string(QStringLiteral("stagedStorePath"));
    journal.startedAt = reader.date(QStringLiteral("startedAt"), migrationDateEncoding);
    journal.plannedEntryCount =
        reader.optionalDecode(QStringLiteral("plannedEntryCount"), &json::int64);
    journal.plannedRecoveryCount =
        reader.optionalDecode(QStringLiteral("plannedRecoveryCount"), &json::int64);
    return journal;
}

MigrationConflictRecord MigrationConflictRecord::of(const DiaryRecoveryDTO &record) {
    return {record.recoveryID, record.originalID, record.proposedDayKey,
            record.reason,     record.sourceKind, record.contentSHA256};
}

QJsonObject MigrationConflictRecord::toJson() const {
    QJsonObject object{
        {QStringLiteral("recoveryID"), uuidText(recoveryID)},
        {QStringLiteral("reason"), rawValue(reason)},
        {QStringLiteral("sourceKind"), rawValue(sourceKind)},
        {QStringLiteral("contentSHA256"), contentSHA256},
    };
    if (originalID)
        object.insert(QStringLiteral("originalID"), uuidText(*originalID));
    if (proposedDayKey)
        object.insert(QStringLiteral("proposedDayKey"), proposedDayKey->toJson());
    return object;
}

MigrationConflictRecord MigrationConflictRecord::fromJson(const QJsonValue &value,
                                                          const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    MigrationConflictRecord record;
    record.recoveryID = reader.uuid(QStringLiteral("recoveryID"));
    record.originalID = reader.optionalUuid(QStringLiteral("originalID"));
    record.proposedDayKey =
        reader.optionalDecode(QStringLiteral("proposedDayKey"), &DayKey::fromJson);
    record.reason = reader.rawValueEnum<DiaryRecoveryReason>(QStringLiteral("reason"));
    record.sourceKind = reader.rawValueEnum<DiaryRecoverySourceKind>(QStringLiteral("sourceKind"));
    record.contentSHA256 = reader.string(QStringLiteral("contentSHA256"));
    return record;
}

MigrationConflictEnvelope
MigrationConflictEnvelope::make(const QList<MigrationConflictRecord> &records,
                                const QDateTime &createdAt) {
    QJsonArray array;
    for (const auto &record : records)
        array.append(record.toJson());
    MigrationConflictEnvelope envelope;
    envelope.createdAt = createdAt;
    envelope.reportData = encodeMigrationJson(array);
    envelope.checksum = sha256Hex(envelope.reportData);
    return envelope;
}

QList<MigrationConflictRecord> MigrationConflictEnvelope::records() const {
    return json::list<MigrationConflictRecord>(
        parseJson(reportData), {}, [](const QJsonValue &value, const QStringList &path) {
            return MigrationConflictRecord::fromJson(value, path);
        });
}

QJsonObject MigrationConflictEnvelope::toJson() const {
    return {
        {QStringLiteral("formatVersion"), formatVersion},
        {QStringLiteral("createdAt"), encodeMigrationDate(createdAt)},
        {QStringLiteral("reportData"), base64Text(reportData)},
        {QStringLiteral("checksum"), checksum},
    };
}

MigrationConflictEnvelope MigrationConflictEnvelope::fromJson(const QJsonValue &value,
                                                              const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    MigrationConflictEnvelope envelope;
    envelope.formatVersion = reader.int64(QStringLiteral("formatVersion"));
    envelope.createdAt = reader.date(QStringLiteral("createdAt"), migrationDateEncoding);
    envelope.reportData = reader.base64Data(QStringLiteral("reportData"));
    envelope.checksum = reader.string(QStringLiteral("checksum"));
    return envelope;
}

QJsonObject LegacyEntryPayload::toJson() const {
    return {
        {QStringLiteral("id"), uuidText(id)},
        {QStringLiteral("date"), encodeMigrationDate(date)},
        {QStringLiteral("content"), content},
        {QStringLiteral("fontName"), fontName},
        {QStringLiteral("isLocked"), isLocked},
        {QStringLiteral("createdAt"), encodeMigrationDate(createdAt)},
    };
}

LegacyEntryPayload LegacyEntryPayload::fromJson(const QJsonValue &value,
                                                const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    LegacyEntryPayload payload;
    payload.id = reader.uuid(QStringLiteral("id"));
    payload.date = reader.date(QStringLiteral("date"), migrationDateEncoding);
    payload.content = reader.string(QStringLiteral("content"));
    payload.fontName = reader.string(QStringLiteral("fontName"));
    payload.isLocked = reader.boolean(QStringLiteral("isLocked"));
    payload.createdAt = reader.date(QStringLiteral("createdAt"), migrationDateEncoding);
    return payload;
}

QJsonObject LegacyPreferenceDraftPayload::toJson() const {
    return {
        {QStringLiteral("preferenceKey"), preferenceKey},
        {QStringLiteral("content"), content},
    };
}

LegacyPreferenceDraftPayload LegacyPreferenceDraftPayload::fromJson(const QJsonValue &value,
                                                                    const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    return {reader.string(QStringLiteral("preferenceKey")),
            reader.string(QStringLiteral("content"))};
}

} // namespace velmora
