#include "backup/DiarySnapshotManifest.h"

#include "platform/UuidText.h"

namespace velmora {

namespace {

QJsonValue optionalDay(const std::optional<DayKey> &day) {
    return day ? day->toJson() : QJsonValue(QJsonValue::Null);
}

} // namespace

QJsonObject DiarySnapshotManifest::toJson() const {
    return QJsonObject{
        {QStringLiteral("format"), format},
        {QStringLiteral("formatVersion"), formatVersion},
        {QStringLiteral("createdAt"), encodeDate(createdAt, backupPackage::dates)},
        {QStringLiteral("diaryID"), uuidText(diaryID)},
        {QStringLiteral("schemaVersion"), schemaVersion},
        {QStringLiteral("entryCount"), entryCount},
        {QStringLiteral("recoveryCount"), recoveryCount},
        {QStringLiteral("earliestDay"), optionalDay(earliestDay)},
        {QStringLiteral("latestDay"), optionalDay(latestDay)},
        {QStringLiteral("recordsByteCount"), recordsByteCount},
        {QStringLiteral("recordsSHA256"), recordsSHA256},
    };
}

DiarySnapshotManifest DiarySnapshotManifest::fromJson(const QJsonValue &value) {
    const JsonObjectReader reader(value);
    DiarySnapshotManifest manifest;
    manifest.format = reader.string(QStringLiteral("format"));
    manifest.formatVersion = reader.int64(QStringLiteral("formatVersion"));
    manifest.createdAt = reader.date(QStringLiteral("createdAt"), backupPackage::dates);
    manifest.diaryID = reader.uuid(QStringLiteral("diaryID"));
    manifest.schemaVersion = reader.int64(QStringLiteral("schemaVersion"));
    manifest.entryCount = reader.int64(QStringLiteral("entryCount"));
    manifest.recoveryCount = reader.int64(QStringLiteral("recoveryCount"));
    manifest.earliestDay = reader.optionalDecode(QStringLiteral("earliestDay"), &DayKey::fromJson);
    manifest.latestDay = reader.optionalDecode(QStringLiteral("latestDay"), &DayKey::fromJson);
    manifest.recordsByteCount = reader.int64(QStringLiteral("recordsByteCount"));
    manifest.recordsSHA256 = reader.string(QStringLiteral("recordsSHA256"));
    return manifest;
}

QByteArray DiarySnapshotManifest::encoded() const {
    return writeJson(toJson());
}

QJsonObject DiarySnapshotRecord::toJson() const {
    QJsonObject object{{QStringLiteral("kind"), rawValue(kind)}};
    if (metadata)
        object.insert(QStringLiteral("metadata"), metadata->toJson(backupPackage::dates));
    if (entry)
        object.insert(QStringLiteral("entry"), entry->toJson(backupPackage::dates));
    if (recovery)
        object.insert(QStringLiteral("recovery"), recovery->toJson(backupPackage::dates));
    return object;
}

DiarySnapshotRecord DiarySnapshotRecord::fromJson(const QJsonValue &value) {
    const JsonObjectReader reader(value);
    DiarySnapshotRecord record;
    record.kind = reader.rawValueEnum<DiarySnapshotRecordKind>(QStringLiteral("kind"));
    record.metadata = reader.optionalDecode(
        QStringLiteral("metadata"), [](const QJsonValue &payload, const QStringList &path) {
            return DiaryMetadataDTO::fromJson(payload, backupPackage::dates, path);
        });
    record.entry = reader.optionalDecode(
        QStringLiteral("entry"), [](const QJsonValue &payload, const QStringList &path) {
            return DiaryEntryDTO::fromJson(payload, backupPackage::dates, path);
        });
    record.recovery = reader.optionalDecode(
        QStringLiteral("recovery"), [](const QJsonValue &payload, const QStringList &path) {
            return DiaryRecoveryDTO::fromJson(payload, backupPackage::dates, path);
        });
    return record;
}

bool DiarySnapshotRecord::payloadMatchesKind() const {
    switch (kind) {
    case DiarySnapshotRecordKind::metadata:
        return metadata && !entry && !recovery;
    case DiarySnapshotRecordKind::entry:
        return entry && !metadata && !recovery;
    case DiarySnapshotRecordKind::recovery:
        return recovery && !metadata && !entry;
    }
    return false;
}

} // namespace velmora
