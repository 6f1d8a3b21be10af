#pragma once

#include "backup/DiarySnapshotFormatError.h"
#include "backup/DiarySnapshotService.h"
#include "platform/UuidText.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTimeZone>

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

namespace velmora::test {

inline QString backupData(const QString &name) {
    return QStringLiteral(VELMORA_TEST_DATA "/backup/") + name;
}

inline QDateTime ms(qint64 milliseconds) {
    return QDateTime::fromMSecsSinceEpoch(milliseconds, QTimeZone::utc());
}

inline QUuid uuid(const char *text) {
    return *uuidFromText(QString::fromLatin1(text));
}

// The diary that tests/data/backup/valid.velmorabackup holds, entries out of order.
inline DiarySnapshotDTO packagedDiary() {
    DiarySnapshotDTO diary;
    diary.metadata = {uuid("5A1D2E3F-4B5C-4D6E-8F70-8192A3B4C5D6"), 2, QStringLiteral("fresh"),
                      ms(1704067200000), 3};
    diary.entries.append({uuid("66666666-7777-4888-8999-AAAAAAAAAAAA"),
                          *DayKey::fromRawValue(QStringLiteral("2024-03-05")),
                          QStringLiteral("Café naïve"), QStringLiteral("Baskerville"), 18.5,
                          DiaryEntryStatus::sealed, QStringLiteral("UTC"), ms(1709636400000),
                          ms(1709640000000), ms(1709640000000), DiaryRevision{4}});
    diary.entries.prepend({uuid("11111111-2222-4333-8444-555555555555"),
                           *DayKey::fromRawValue(QStringLiteral("2024-03-01")),
                           QStringLiteral("First page / with a slash\nand a line"),
                           QStringLiteral("Georgia"), 16, DiaryEntryStatus::draft,
                           QStringLiteral("Europe/Paris"), ms(1709290800000), ms(1709294400123),
                           std::nullopt, DiaryRevision{2}});
    const QByteArray payload = QByteArrayLiteral("{\"content\":\"kept\"}");
    diary.recoveryRecords.append(
        {uuid("BBBBBBBB-CCCC-4DDD-8EEE-FFFFFFFFFFFF"), diary.entries.first().id,
         diary.entries.first().dayKey, DiaryRecoveryReason::competingDraft,
         DiaryRecoverySourceKind::importRecord, payload,
         QStringLiteral("31617784a7bcd8d5c1c6e3a36b4fe7de54a7a9a1722f647c0bc8eb4a5d4f9131"),
         ms(1709300000000)});
    return diary;
}

inline QByteArray fileBytes(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

inline void copyPackage(const QString &from, const QString &to) {
    QVERIFY(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-a"), from, to}) == 0);
}

// The message of the DiaryError the body throws; empty when it throws none.
template <typename Body> QString failureMessage(Body body) {
    try {
        body();
    } catch (const DiaryError &error) {
        return error.message();
    }
    return {};
}

// Dates the item's last change `seconds` back, as a killed backup's leftovers age.
inline void age(const QString &path, qint64 seconds) {
    const timespec then{::time(nullptr) - seconds, 0};
    const timespec times[2] = {then, then};
    QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times,
                        AT_SYMLINK_NOFOLLOW) == 0);
}

inline QStringList entriesOf(const QString &folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace velmora::test
