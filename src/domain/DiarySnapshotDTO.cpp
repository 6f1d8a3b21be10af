#include "domain/DiarySnapshotDTO.h"

#include "platform/UuidText.h"

#include <QJsonArray>

namespace velmora {

QJsonObject DiaryMetadataDTO::toJson(JsonDateEncoding dates) const {
    return QJsonObject{
        {QStringLiteral("diaryID"), uuidText(diaryID)},
        {QStringLiteral("schemaVersion"), schemaVersion},
        {QStringLiteral("migrationIdentifier"), migrationIdentifier},
        {QStringLiteral("createdAt"), encodeDate(createdAt, dates)},
        {QStringLiteral("snapshotSequence"), snapshotSequence},
    };
}

DiaryMetadataDTO DiaryMetadataDTO::fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                            const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    DiaryMetadataDTO metadata;
    metadata.diaryID = reader.uuid(QStringLiteral("diaryID"));
    metadata.schemaVersion = reader.int64(QStringLiteral("schemaVersion"));
    metadata.migrationIdentifier = reader.string(QStringLiteral("migrationIdentifier"));
    metadata.createdAt = reader.date(QStringLiteral("createdAt"), dates);
    metadata.snapshotSequence = reader.int64(QStringLiteral("snapshotSequence"));
    return metadata;
}

QJsonObject DiaryRecoveryDTO::toJson(JsonDateEncoding dates) const {
    QJsonObject object{
        {QStringLiteral("recoveryID"), uuidText(recoveryID)},
        {QStringLiteral("reason"), rawValue(reason)},
        {QStringLiteral("sourceKind"), rawValue(sourceKind)},
        {QStringLiteral("preservedPayload"), QString::fromLatin1(preservedPayload.toBase64())},
        {QStringLiteral("contentSHA256"), contentSHA256},
        {QStringLiteral("createdAt"), encodeDate(createdAt, dates)},
    };
    if (originalID)
        object.insert(QStringLiteral("originalID"), uuidText(*originalID));
    if (proposedDayKey)
        object.insert(QStringLiteral("proposedDayKey"), proposedDayKey->toJson());
    return object;
}

DiaryRecoveryDTO DiaryRecoveryDTO::fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                            const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    DiaryRecoveryDTO record;
    record.recoveryID = reader.uuid(QStringLiteral("recoveryID"));
    record.originalID = reader.optionalUuid(QStringLiteral("originalID"));
    record.proposedDayKey =
        reader.optionalDecode(QStringLiteral("proposedDayKey"), &DayKey::fromJson);
    record.reason = reader.rawValueEnum<DiaryRecoveryReason>(QStringLiteral("reason"));
    record.sourceKind = reader.rawValueEnum<DiaryRecoverySourceKind>(QStringLiteral("sourceKind"));
    record.preservedPayload = reader.base64Data(QStringLiteral("preservedPayload"));
    record.contentSHA256 = reader.string(QStringLiteral("contentSHA256"));
    record.createdAt = reader.date(QStringLiteral("createdAt"), dates);
    return record;
}

QJsonObject DiarySnapshotDTO::toJson(JsonDateEncoding dates) const {
    QJsonArray entryArray;
    for (const auto &entry : entries)
        entryArray.append(entry.toJson(dates));
    QJsonArray recoveryArray;
    for (const auto &record : recoveryRecords)
        recoveryArray.append(record.toJson(dates));
    return QJsonObject{
        {QStringLiteral("metadata"), metadata.toJson(dates)},
        {QStringLiteral("entries"), entryArray},
        {QStringLiteral("recoveryRecords"), recoveryArray},
    };
}

DiarySnapshotDTO DiarySnapshotDTO::fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                            const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    DiarySnapshotDTO snapshot;
    snapshot.metadata = reader.decode(QStringLiteral("metadata"),
                                      [dates](const QJsonValue &metadata, const QStringList &path) {
                                          return DiaryMetadataDTO::fromJson(metadata, dates, path);
                                      });
    snapshot.entries = reader.list<DiaryEntryDTO>(
        QStringLiteral("entries"), [dates](const QJsonValue &element, const QStringList &path) {
            return DiaryEntryDTO::fromJson(element, dates, path);
        });
    snapshot.recoveryRecords =
        reader.list<DiaryRecoveryDTO>(QStringLiteral("recoveryRecords"),
                                      [dates](const QJsonValue &element, const QStringList &path) {
                                          return DiaryRecoveryDTO::fromJson(element, dates, path);
                                      });
    return snapshot;
}

} // namespace velmora
