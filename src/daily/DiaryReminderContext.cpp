#include "daily/DiaryReminderContext.h"

#include "daily/DailyLogging.h"
#include "store/DiaryWritingHistory.h"

#include <QFileInfo>

#include <exception>

namespace velmora {

QCoro::Task<bool> dayHasWriting(DayKey day, DiaryHandwritingStore handwriting,
                                std::shared_ptr<DiaryRepository> repository) {
    // The store first, off this thread: a day being written is answered without the disk.
    std::optional<DiaryEntryDTO> entry;
    try {
        entry = co_await repository->entry(day);
    } catch (const std::exception &error) {
        qCWarning(lcDaily) << "The entry of" << day.rawValue()
                           << "could not be read for the reminders:" << error.what();
    }
    co_return (entry && !entry->content.trimmed().isEmpty()) ||
        QFileInfo::exists(handwriting.fileURL(day, 0));
}

QCoro::Task<DiaryReminderContext> makeReminderContext(std::shared_ptr<DiaryRepository> repository,
                                                      DiaryHandwritingStore handwriting,
                                                      QString userName, QDateTime now,
                                                      GregorianCalendar calendar) {
    DiaryReminderContext context;
    context.name = userName;
    const DayKey today = DayKey::fromDate(now, calendar);
    context.writtenToday = co_await dayHasWriting(today, handwriting, repository);

    const std::optional<int> earliestYear =
        co_await earliestWrittenYear(repository, handwriting, today, calendar);
    const QDate base = calendar.civilDate(now);
    if (!earliestYear || *earliestYear >= base.year())
        co_return context;

    for (int offset = 0; offset < 14; ++offset) {
        const QDate date = base.addDays(offset);
        if (!date.isValid())
            continue;
        const DayKey key = DayKey::fromCivilDate(date.year(), date.month(), date.day());
        const int furthest = date.year() - *earliestYear;
        for (int yearsBack = 1; yearsBack <= furthest; ++yearsBack) {
            const QDate earlier = date.addYears(-yearsBack);
            // 29 February looks back only to years that have one.
            if (!earlier.isValid() || earlier.day() != date.day())
                continue;
            const DayKey earlierKey =
                DayKey::fromCivilDate(earlier.year(), earlier.month(), earlier.day());
            if (co_await dayHasWriting(earlierKey, handwriting, repository)) {
                context.memories.insert(key, yearsBack);
                break;
            }
        }
    }
    co_return context;
}

} // namespace velmora
