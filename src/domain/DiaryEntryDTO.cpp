#include "domain/DiaryEntryDTO.h"

#include "platform/UuidText.h"

namespace velmora {

QJsonObject DiaryEntryDTO::toJson(JsonDateEncoding dates) const {
    QJsonObject object{
        {QStringLiteral("id"), uuidText(id)},
        {QStringLiteral("dayKey"), dayKey.toJson()},
        {QStringLiteral("content"), content},
        {QStringLiteral("fontName"), fontName},
        {QStringLiteral("bodyPointSize"), bodyPointSize},
        {QStringLiteral("status"), rawValue(status)},
        {QStringLiteral("originTimeZone"), originTimeZone},
        {QStringLiteral("createdAt"), encodeDate(createdAt, dates)},
        {QStringLiteral("updatedAt"), encodeDate(updatedAt, dates)},
        {QStringLiteral("revision"), revision.toJson()},
    };
    if (sealedAt)
        object.insert(QStringLiteral("sealedAt"), encodeDate(*sealedAt, dates));
    return object;
}

DiaryEntryDTO DiaryEntryDTO::fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                      const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    DiaryEntryDTO entry;
    entry.id = reader.uuid(QStringLiteral("id"));
    entry.dayKey = reader.decode(QStringLiteral("dayKey"), &DayKey::fromJson);
    entry.content = reader.string(QStringLiteral("content"));
    entry.fontName = reader.string(QStringLiteral("fontName"));
    entry.bodyPointSize = reader.number(QStringLiteral("bodyPointSize"));
    entry.status = reader.rawValueEnum<DiaryEntryStatus>(QStringLiteral("status"));
    entry.originTimeZone = reader.string(QStringLiteral("originTimeZone"));
    entry.createdAt = reader.date(QStringLiteral("createdAt"), dates);
    entry.updatedAt = reader.date(QStringLiteral("updatedAt"), dates);
    entry.sealedAt = reader.optionalDate(QStringLiteral("sealedAt"), dates);
    entry.revision = reader.decode(QStringLiteral("revision"), &DiaryRevision::fromJson);
    return entry;
}

QJsonObject DiaryDraftDTO::toJson(JsonDateEncoding dates) const {
    return QJsonObject{
        {QStringLiteral("id"), uuidText(id)},
        {QStringLiteral("dayKey"), dayKey.toJson()},
        {QStringLiteral("content"), content},
        {QStringLiteral("fontName"), fontName},
        {QStringLiteral("bodyPointSize"), bodyPointSize},
        {QStringLiteral("originTimeZone"), originTimeZone},
        {QStringLiteral("createdAt"), encodeDate(createdAt, dates)},
        {QStringLiteral("updatedAt"), encodeDate(updatedAt, dates)},
        {QStringLiteral("revision"), revision.toJson()},
    };
}

DiaryDraftDTO DiaryDraftDTO::fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                      const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    DiaryDraftDTO draft;
    draft.id = reader.uuid(QStringLiteral("id"));
    draft.dayKey = reader.decode(QStringLiteral("dayKey"), &DayKey::fromJson);
    draft.content = reader.string(QStringLiteral("content"));
    draft.fontName = reader.string(QStringLiteral("fontName"));
    draft.bodyPointSize = reader.number(QStringLiteral("bodyPointSize"));
    draft.originTimeZone = reader.string(QStringLiteral("originTimeZone"));
    draft.createdAt = reader.date(QStringLiteral("createdAt"), dates);
    draft.updatedAt = reader.date(QStringLiteral("updatedAt"), dates);
    draft.revision = reader.decode(QStringLiteral("revision"), &DiaryRevision::fromJson);
    return draft;
}

QJsonObject DiarySaveResult::toJson(JsonDateEncoding dates) const {
    return QJsonObject{
        {QStringLiteral("entry"), entry.toJson(dates)},
        {QStringLiteral("editSequence"), editSequence},
        {QStringLiteral("disposition"), rawValue(disposition)},
    };
}

DiarySaveResult DiarySaveResult::fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                          const QStringList &codingPath) {
    const JsonObjectReader reader(value, codingPath);
    DiarySaveResult result;
    result.entry = reader.decode(QStringLiteral("entry"),
                                 [dates](const QJsonValue &entry, const QStringList &path) {
                                     return DiaryEntryDTO::fromJson(entry, dates, path);
                                 });
    result.editSequence = reader.int64(QStringLiteral("editSequence"));
    result.disposition = reader.rawValueEnum<DiarySaveDisposition>(QStringLiteral("disposition"));
    return result;
}

} // namespace velmora
