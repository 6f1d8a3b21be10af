#include "DiaryPackageComparison.h"

#include "backup/DiarySnapshotService.h"
#include "platform/UuidText.h"

#include <QMap>

namespace velmora::bench {

namespace {

// The names of the fields found to differ.
struct FieldNames {
    QStringList names;
    void note(bool same, const char *name) {
        if (!same)
            names.append(QString::fromLatin1(name));
    }
};

// The names of the fields in which two entries of one day differ.
QStringList differingFields(const DiaryEntryDTO &a, const DiaryEntryDTO &b) {
    FieldNames fields;
    fields.note(a.id == b.id, "id");
    fields.note(a.content == b.content, "content");
    fields.note(a.fontName == b.fontName, "fontName");
    fields.note(a.bodyPointSize == b.bodyPointSize, "bodyPointSize");
    fields.note(a.status == b.status, "status");
    fields.note(a.originTimeZone == b.originTimeZone, "originTimeZone");
    fields.note(a.createdAt == b.createdAt, "createdAt");
    fields.note(a.updatedAt == b.updatedAt, "updatedAt");
    fields.note(a.sealedAt == b.sealedAt, "sealedAt");
    fields.note(a.revision == b.revision, "revision");
    return fields.names;
}

QStringList differingFields(const DiaryRecoveryDTO &a, const DiaryRecoveryDTO &b) {
    FieldNames fields;
    fields.note(a.originalID == b.originalID, "originalID");
    fields.note(a.proposedDayKey == b.proposedDayKey, "proposedDayKey");
    fields.note(a.reason == b.reason, "reason");
    fields.note(a.sourceKind == b.sourceKind, "sourceKind");
    fields.note(a.preservedPayload == b.preservedPayload, "preservedPayload");
    fields.note(a.contentSHA256 == b.contentSHA256, "contentSHA256");
    fields.note(a.createdAt == b.createdAt, "createdAt");
    return fields.names;
}

// Compares two keyed collections; `describe` names the difference of a key present on both
// sides, or returns nothing when they are equal.
template <typename Value, typename Describe>
void compareByKey(const QMap<QString, Value> &first, const QMap<QString, Value> &second,
                  const QString &what, Describe describe, QStringList &differences, int limit) {
    QStringList keys = first.keys() + second.keys();
    keys.sort();
    keys.removeDuplicates();
    for (const QString &key : std::as_const(keys)) {
        if (differences.size() >= limit)
            return;
        if (!second.contains(key))
            differences.append(QStringLiteral("%1 %2 only in the first").arg(what, key));
        else if (!first.contains(key))
            differences.append(QStringLiteral("%1 %2 only in the second").arg(what, key));
        else if (const QString difference = describe(first.value(key), second.value(key));
                 !difference.isEmpty())
            differences.append(QStringLiteral("%1 %2 differs: %3").arg(what, key, difference));
    }
}

} // namespace

QStringList diaryDifferences(const DiarySnapshotDTO &first, const DiarySnapshotDTO &second,
                             int limit) {
    QStringList differences;
    if (!(first.metadata == second.metadata))
        differences.append(QStringLiteral("metadata differs"));
    // Two records under one key would hide each other; counts catch that.
    if (first.entries.size() != second.entries.size())
        differences.append(QStringLiteral("%1 entries against %2")
                               .arg(first.entries.size())
                               .arg(second.entries.size()));
    if (first.recoveryRecords.size() != second.recoveryRecords.size())
        differences.append(QStringLiteral("%1 recovery records against %2")
                               .arg(first.recoveryRecords.size())
                               .arg(second.recoveryRecords.size()));

    const auto describe = [](const auto &a, const auto &b) {
        return differingFields(a, b).join(QStringLiteral(", "));
    };
    const auto byDay = [](const DiarySnapshotDTO &diary) {
        QMap<QString, DiaryEntryDTO> entries;
        for (const DiaryEntryDTO &entry : diary.entries)
            entries.insert(entry.dayKey.rawValue(), entry);
        return entries;
    };
    compareByKey(byDay(first), byDay(second), QStringLiteral("entry of"), describe, differences,
                 limit);

    const auto byID = [](const DiarySnapshotDTO &diary) {
        QMap<QString, DiaryRecoveryDTO> records;
        for (const DiaryRecoveryDTO &record : diary.recoveryRecords)
            records.insert(uuidText(record.recoveryID), record);
        return records;
    };
    compareByKey(byID(first), byID(second), QStringLiteral("recovery record"), describe,
                 differences, limit);
    return differences.mid(0, limit);
}

QStringList packageDifferences(const QString &firstPackage, const QString &secondPackage,
                               int limit) {
    return diaryDifferences(DiarySnapshotService::readPackage(firstPackage).diary,
                            DiarySnapshotService::readPackage(secondPackage).diary, limit);
}

} // namespace velmora::bench
