#pragma once

#include "domain/DayKey.h"
#include "platform/JsonCoding.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QUuid>

#include <optional>

namespace velmora {

// An entry as the store keeps it: the unit the store, the session, backups, export and sync
// exchange. Its JSON keys are its field names.
struct DiaryEntryDTO {
    QUuid id;
    DayKey dayKey;
    QString content;
    QString fontName;
    double bodyPointSize = 16;
    DiaryEntryStatus status = DiaryEntryStatus::draft;
    QString originTimeZone;
    QDateTime createdAt;
    QDateTime updatedAt;
    std::optional<QDateTime> sealedAt;
    DiaryRevision revision;

    bool isSealed() const { return status == DiaryEntryStatus::sealed; }

    QJsonObject toJson(JsonDateEncoding dates) const;
    static DiaryEntryDTO fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                  const QStringList &codingPath = {});

    friend bool operator==(const DiaryEntryDTO &, const DiaryEntryDTO &) = default;
};

// An edit that has not been stored yet. `revision` is the stored revision it started from, 0
// when the day had no entry.
struct DiaryDraftDTO {
    QUuid id;
    DayKey dayKey;
    QString content;
    QString fontName;
    double bodyPointSize = 16;
    QString originTimeZone;
    QDateTime createdAt;
    QDateTime updatedAt;
    DiaryRevision revision;

    QJsonObject toJson(JsonDateEncoding dates) const;
    static DiaryDraftDTO fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                  const QStringList &codingPath = {});

    friend bool operator==(const DiaryDraftDTO &, const DiaryDraftDTO &) = default;
};

enum class DiarySaveDisposition { created, updated, unchanged };
VELMORA_RAW_VALUES(DiarySaveDisposition, "created", "updated", "unchanged");

// The store's answer to a save; `editSequence` hands back the caller's edit number unchanged.
struct DiarySaveResult {
    DiaryEntryDTO entry;
    qint64 editSequence = 0;
    DiarySaveDisposition disposition = DiarySaveDisposition::unchanged;

    QJsonObject toJson(JsonDateEncoding dates) const;
    static DiarySaveResult fromJson(const QJsonValue &value, JsonDateEncoding dates,
                                    const QStringList &codingPath = {});

    friend bool operator==(const DiarySaveResult &, const DiarySaveResult &) = default;
};

} // namespace velmora
