#pragma once

#include "domain/Clock.h"
#include "platform/UuidText.h"
#include "store/CoreDataDiaryRepository.h"
#include "store/DiaryModelProvider.h"
#include "store/DiaryPersistenceStack.h"
#include "store/DiaryStoreRows.h"
#include "store/Sqlite.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <memory>

namespace velmora::test {

class FixedClock final : public Clock {
public:
    QDateTime now() const override { return moment; }
    QDateTime moment = QDateTime(QDate(2024, 3, 10), QTime(9, 30), QTimeZone::utc());
};

inline DayKey day(const char *text) {
    return *DayKey::fromRawValue(QString::fromLatin1(text));
}

inline QDateTime utc(int year, int month, int dayOfMonth, int hour = 12) {
    return QDateTime(QDate(year, month, dayOfMonth), QTime(hour, 0), QTimeZone::utc());
}

inline DiaryDraftDTO draft(const char *dayText, const QString &content, double size = 16) {
    DiaryDraftDTO result;
    result.id = QUuid::createUuid();
    result.dayKey = day(dayText);
    result.content = content;
    result.fontName = QStringLiteral("Georgia");
    result.bodyPointSize = size;
    result.originTimeZone = QStringLiteral("Europe/Paris");
    result.createdAt = utc(2024, 3, 1);
    result.updatedAt = result.createdAt;
    return result;
}

inline DiaryEntryDTO entry(const char *dayText, const QString &content, qint64 revision = 1) {
    DiaryEntryDTO result;
    result.id = QUuid::createUuid();
    result.dayKey = day(dayText);
    result.content = content;
    result.fontName = QStringLiteral("Georgia");
    result.bodyPointSize = 16;
    result.originTimeZone = QStringLiteral("Europe/Paris");
    result.createdAt = utc(2024, 3, 1);
    result.updatedAt = utc(2024, 3, 2);
    result.revision = DiaryRevision{revision};
    return result;
}

inline DiaryMetadataDTO metadata() {
    return {QUuid::createUuid(), 2, QStringLiteral("fresh"), utc(2024, 1, 1), 0};
}

// The message of the PersistenceError the task failed with; empty when it succeeded.
template <typename T> QString failureOf(QCoro::Task<T> task) {
    const auto error = thrownBy<PersistenceError>([&] { test::waitFor(std::move(task)); });
    return error ? error->message() : QString();
}

// A real store in a temporary folder, a repository over it, and raw SQL beside it for planting
// rows that the repository itself would never write.
struct StoreFixture {
    QTemporaryDir dir;
    std::shared_ptr<FixedClock> clock = std::make_shared<FixedClock>();
    std::shared_ptr<DiaryPersistenceStack> stack;
    std::unique_ptr<CoreDataDiaryRepository> repository;

    StoreFixture() { open(); }

    // Closes the store and opens it again, as a new launch does.
    void reopen() {
        repository.reset();
        stack.reset();
        open();
    }

    void open() {
        stack = std::make_shared<DiaryPersistenceStack>(
            dir.filePath(QStringLiteral("Diary.sqlite")),
            DiaryModelProvider::model(DiaryModelProvider::currentVersionName));
        repository = std::make_unique<CoreDataDiaryRepository>(stack, clock);
    }

    QString path() const { return stack->storeURL(); }

    void sql(const QString &statements) const {
        SqliteDatabase database(path(), SqliteDatabase::OpenMode::readWrite);
        database.exec(QStringLiteral("PRAGMA busy_timeout = 5000"));
        database.exec(statements);
    }

    qint64 count(const QString &query) const {
        SqliteDatabase database(path(), SqliteDatabase::OpenMode::readOnly);
        return database.queryInt64(query);
    }

    DiaryEntryDTO saved(const char *dayText, const QString &content) {
        return velmora::test::waitFor(repository->save(draft(dayText, content), std::nullopt, 1))
            .entry;
    }
};

} // namespace velmora::test
