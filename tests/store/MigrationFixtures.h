#pragma once

#include "StoreFixture.h"

#include "platform/UserDefaults.h"
#include "platform/UuidText.h"
#include "store/DiaryMigrationCoordinator.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryStoreRows.h"
#include "store/Sqlite.h"
#include "store/StoreFile.h"

#include <QTimeZone>
#include <QVariant>

#include <memory>
#include <optional>

namespace velmora::test {

// Puts a value in the defaults file at once, so a child process sees it.
inline void plant(UserDefaults &defaults, const QString &key, const QVariant &value) {
    defaults.setObject(key, value);
    defaults.synchronize();
}

// One row of an old store; an invalid QVariant leaves the column NULL.
struct LegacyRow {
    QVariant id;
    QVariant date;
    QVariant content;
    QVariant fontName;
    QVariant isLocked;
    QVariant createdAt;

    static LegacyRow of(const LegacyEntryPayload &payload) {
        return {uuidText(payload.id), payload.date.toMSecsSinceEpoch(),
                payload.content,      payload.fontName,
                payload.isLocked,     payload.createdAt.toMSecsSinceEpoch()};
    }
};

inline void bindVariant(SqliteStatement &statement, int index, const QVariant &value) {
    switch (value.typeId()) {
    case QMetaType::UnknownType:
        statement.bindNull(index);
        break;
    case QMetaType::Bool:
        statement.bind(index, value.toBool());
        break;
    case QMetaType::LongLong:
    case QMetaType::Int:
        statement.bind(index, value.toLongLong());
        break;
    case QMetaType::QByteArray:
        statement.bind(index, value.toByteArray());
        break;
    default:
        statement.bind(index, value.toString());
    }
}

// An old store as the earlier version wrote it: the LegacyV1 model and its rows.
inline void writeLegacyV1Store(const QString &path, const QList<LegacyRow> &rows) {
    SqliteDatabase database(path, SqliteDatabase::OpenMode::readWriteCreate);
    createStoreSchema(database, DiaryModelProvider::legacyV1Model());
    database.transaction(SqliteTransactionKind::immediate, [&] {
        SqliteStatement insert(
            database.handle(),
            QStringLiteral("INSERT INTO DiaryEntry (id, date, content, fontName, "
                           "isLocked, createdAt) VALUES (?, ?, ?, ?, ?, ?)"));
        for (const LegacyRow &row : rows) {
            const QVariant values[] = {row.id,       row.date,     row.content,
                                       row.fontName, row.isLocked, row.createdAt};
            for (int i = 0; i < 6; ++i)
                bindVariant(insert, i + 1, values[i]);
            insert.execute();
            insert.reset();
        }
    });
}

inline void writeLegacyV1Store(const QString &path, const QList<LegacyEntryPayload> &entries) {
    QList<LegacyRow> rows;
    for (const auto &entry : entries)
        rows.append(LegacyRow::of(entry));
    writeLegacyV1Store(path, rows);
}

// Noon UTC on the day, so that the day is the same in every zone the tests use.
inline QDateTime noonOf(const QString &day) {
    return QDateTime(QDate::fromString(day, Qt::ISODate), QTime(12, 0), QTimeZone::utc());
}

inline LegacyEntryPayload legacyEntry(const QString &day, const QString &content,
                                      bool isLocked = false, QUuid id = QUuid::createUuid()) {
    return {id, noonOf(day), content, QStringLiteral("Georgia"), isLocked, noonOf(day).addSecs(60)};
}

// What a store holds, read back through the repository's own row mapping.
struct StoredDiary {
    QList<DiaryEntryDTO> entries;
    QList<DiaryRecoveryDTO> recoveryRecords;
    QList<DiaryMetadataDTO> metadata;
};

inline StoredDiary readStoredDiary(const QString &path) {
    StoredDiary diary;
    SqliteDatabase database(path, SqliteDatabase::OpenMode::readOnly);
    SqliteStatement entries(database.handle(),
                            QStringLiteral("SELECT ") + entryColumns +
                                QStringLiteral(" FROM DiaryEntry ORDER BY dayKey"));
    while (entries.step())
        diary.entries.append(makeEntryDTO(entries));
    SqliteStatement records(database.handle(),
                            QStringLiteral("SELECT ") + recoveryColumns +
                                QStringLiteral(" FROM RecoveryRecord ORDER BY rowid"));
    while (records.step())
        diary.recoveryRecords.append(makeRecoveryDTO(records));
    SqliteStatement metadata(database.handle(), QStringLiteral("SELECT ") + metadataColumns +
                                                    QStringLiteral(" FROM DiaryMetadata"));
    while (metadata.step())
        diary.metadata.append(makeMetadataDTO(metadata));
    return diary;
}

inline bool isStoreOf(const QString &path, const StoreModel &model) {
    if (!QFile::exists(path))
        return false;
    // Read-write, so that a copy a killed process left half done is rolled back first.
    SqliteDatabase database(path, SqliteDatabase::OpenMode::readWrite);
    const auto identity = readStoreIdentity(database);
    return identity && identity->matches(model);
}

inline StoreModel durableModel() {
    return DiaryModelProvider::model(DiaryModelProvider::currentVersionName);
}

// The text a recovery record keeps: a legacy row's content or a draft's.
inline QString preservedText(const DiaryRecoveryDTO &record) {
    const QJsonValue payload = parseJson(record.preservedPayload);
    if (record.sourceKind == DiaryRecoverySourceKind::legacyEntry)
        return LegacyEntryPayload::fromJson(payload).content;
    return LegacyPreferenceDraftPayload::fromJson(payload).content;
}

} // namespace velmora::test

namespace velmora::test {

// An old diary with everything the migration must sort out: shared days, shared ids, sealed and
// unsealed rows, drafts on free and taken days, malformed draft keys and draft values that are
// not text. Every text is unique, so each can be found exactly once afterwards.
struct LegacyDiaryFixture {
    QList<LegacyEntryPayload> rows;
    QList<std::pair<QString, QVariant>> drafts;

    static LegacyDiaryFixture make(int rowCount, int draftCount) {
        LegacyDiaryFixture fixture;
        const QDate first(2019, 1, 1);
        QList<QUuid> ids;
        for (int i = 0; i < rowCount; ++i) {
            // About one day in eight holds a second row, every 50th row reuses an earlier id.
            const int dayIndex = i - i / 8;
            const QString day = first.addDays(dayIndex).toString(Qt::ISODate);
            const QUuid id = (i % 50 == 49) ? ids[i / 2] : QUuid::createUuid();
            ids.append(id);
            fixture.rows.append(
                legacyEntry(day, QStringLiteral("legacy row %1 é/”").arg(i), i % 3 == 0, id));
        }
        for (int i = 0; i < draftCount; ++i) {
            const QString key = QStringLiteral("draft_");
            const QString text = QStringLiteral("draft text %1").arg(i);
            switch (i % 10) {
            case 0:
                fixture.drafts.append({key + QStringLiteral("not-a-day-%1").arg(i), text});
                break;
            case 1:
                fixture.drafts.append(
                    {key + QStringLiteral("2021-13-%1").arg(i % 28 + 1, 2, 10, QLatin1Char('0')),
                     text});
                break;
            case 2:
                fixture.drafts.append({key + first.addDays(-1 - i).toString(Qt::ISODate),
                                       QDateTime(first.addDays(i), QTime(8, 0), QTimeZone::utc())});
                break;
            default:
                // Half on days the rows already hold, half on free days.
                fixture.drafts.append(
                    {key + first.addDays(i % 2 ? i * 3 : rowCount + i).toString(Qt::ISODate),
                     text});
            }
        }
        return fixture;
    }

    void write(const QString &storePath, UserDefaults &defaults) const {
        writeLegacyV1Store(storePath, rows);
        for (const auto &[key, value] : drafts)
            plant(defaults, key, value);
    }

    static bool isText(const QVariant &value) { return value.typeId() == QMetaType::QString; }

    QStringList textDraftKeys() const {
        QStringList keys;
        for (const auto &[key, value] : drafts) {
            if (isText(value))
                keys.append(key);
        }
        return keys;
    }
};

} // namespace velmora::test
