#pragma once

#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "support/TemporaryDiaryStore.h"
#include "support/TestClock.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <QTimeZone>

#include <memory>

namespace velmora::test {

using Operation = ScriptedDiaryRepository::Operation;
using namespace std::chrono_literals;

// The error the task failed with, or none when it succeeded.
template <typename Error, typename T> std::optional<Error> failureOf(QCoro::Task<T> task) {
    try {
        velmora::test::waitFor(std::move(task));
    } catch (const Error &error) {
        return error;
    }
    return std::nullopt;
}

// The texts of the entries, in their order.
inline QStringList contents(const QList<DiaryEntryDTO> &entries) {
    QStringList result;
    for (const DiaryEntryDTO &entry : entries)
        result.append(entry.content);
    return result;
}

// A session over the real store in a temporary folder behind a scripted repository, real
// settings in a temporary folder, a fixed clock and short autosave timers. Today is 2024-03-15
// in Paris.
struct SessionFixture {
    static inline const DayKey today = *DayKey::fromRawValue(QStringLiteral("2024-03-15"));
    static inline const DayKey yesterday = *DayKey::fromRawValue(QStringLiteral("2024-03-14"));
    static inline const DayKey tomorrow = *DayKey::fromRawValue(QStringLiteral("2024-03-16"));
    static constexpr DraftAutosaveTiming timing{40ms, 150ms};

    QTemporaryDir folder;
    std::shared_ptr<TestClock> clock =
        std::make_shared<TestClock>(QDateTime(QDate(2024, 3, 15), QTime(10, 0), Qt::UTC));
    TemporaryDiaryStore diary{clock};
    std::shared_ptr<ScriptedDiaryRepository> repository = diary.repository;
    std::shared_ptr<UserDefaultsSettingsStore> settings =
        std::make_shared<UserDefaultsSettingsStore>(
            std::make_shared<UserDefaults>(folder.filePath(QStringLiteral("settings.ini"))),
            QStringLiteral("Georgia"), clock);
    GregorianCalendar calendar{QTimeZone("Europe/Paris")};
    std::unique_ptr<DiarySessionStore> session =
        std::make_unique<DiarySessionStore>(repository, settings, calendar, clock, timing);

    static DayKey day(const char *text) { return *DayKey::fromRawValue(QString::fromLatin1(text)); }

    DiaryEntryDTO storedEntry(const DayKey &dayKey, const QString &content,
                              DiaryEntryStatus status = DiaryEntryStatus::draft,
                              qint64 revision = 1) const {
        const QDateTime created = clock->now().addDays(-30);
        DiaryEntryDTO entry{QUuid::createUuid(),
                            dayKey,
                            content,
                            QStringLiteral("Palatino"),
                            18,
                            status,
                            QStringLiteral("Europe/Paris"),
                            created,
                            created,
                            status == DiaryEntryStatus::sealed ? std::optional(created)
                                                               : std::nullopt,
                            DiaryRevision{revision}};
        return entry;
    }

    DiaryEntryDTO seed(const DayKey &dayKey, const QString &content,
                       DiaryEntryStatus status = DiaryEntryStatus::draft, qint64 revision = 1) {
        const DiaryEntryDTO entry = storedEntry(dayKey, content, status, revision);
        repository->put(entry);
        return entry;
    }

    void open(const DayKey &dayKey) { velmora::test::waitFor(session->changeDay(dayKey)); }

    // Waits until the autosave has stored everything typed.
    bool settled() {
        return waitUntil(
            [&] { return !session->autosave().inFlight() && !session->autosave().pendingEdit(); });
    }
};

} // namespace velmora::test
