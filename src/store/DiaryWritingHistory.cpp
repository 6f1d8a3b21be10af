#include "store/DiaryWritingHistory.h"

#include <QLoggingCategory>

#include <exception>

namespace velmora {

namespace {

Q_LOGGING_CATEGORY(historyLog, "velmora.store")

std::optional<int> yearOf(const DayKey &day, const GregorianCalendar &calendar) {
    const auto start = day.date(calendar);
    if (!start)
        return std::nullopt;
    return calendar.components(*start).year;
}

} // namespace

QCoro::Task<std::optional<int>> earliestWrittenYear(std::shared_ptr<DiaryRepository> repository,
                                                    DiaryHandwritingStore handwriting,
                                                    DayKey before, GregorianCalendar calendar) {
    std::optional<int> typedYear;
    try {
        const QList<DiaryEntryDTO> earliest =
            co_await repository->entries(DayKey::fromCivilDate(1900, 1, 1), before, 1);
        if (!earliest.isEmpty())
            typedYear = yearOf(earliest.first().dayKey, calendar);
    } catch (const std::exception &error) {
        qCWarning(historyLog) << "The earliest typed entry could not be read:" << error.what();
    }

    std::optional<int> drawnYear;
    try {
        const QList<DiaryHandwritingStore::PageFile> files = handwriting.pageFiles();
        if (!files.isEmpty())
            drawnYear = yearOf(files.first().dayKey, calendar);
    } catch (const std::exception &error) {
        qCWarning(historyLog) << "The drawing files could not be listed:" << error.what();
    }

    if (typedYear && drawnYear)
        co_return std::min(*typedYear, *drawnYear);
    co_return typedYear ? typedYear : drawnYear;
}

} // namespace velmora
