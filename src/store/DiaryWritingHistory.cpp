#include "store/DiaryWritingHistory.h"

#include "store/StoreLogging.h"

#include <QCoroFuture>
#include <QFuture>
#include <QPromise>
#include <QThreadPool>

#include <exception>

namespace velmora {

namespace {

// Typed entries are looked for from here on; drawings dated earlier count as nothing too, so a
// stray file named for year 1 cannot make every look-back span two thousand years.
DayKey earliestDay() {
    return DayKey::fromCivilDate(1900, 1, 1);
}

std::optional<int> yearOf(const DayKey &day, const GregorianCalendar &calendar) {
    const auto start = day.date(calendar);
    if (!start)
        return std::nullopt;
    return calendar.components(*start).year;
}

// The folder is listed on a pool thread: it may hold thousands of drawings.
QFuture<std::optional<DayKey>> firstDrawingDay(DiaryHandwritingStore handwriting) {
    auto promise = std::make_shared<QPromise<std::optional<DayKey>>>();
    QFuture<std::optional<DayKey>> future = promise->future();
    promise->start();
    QThreadPool::globalInstance()->start([promise, handwriting = std::move(handwriting)] {
        std::optional<DayKey> day;
        try {
            if (const auto file = handwriting.firstPageFile(earliestDay()))
                day = file->dayKey;
        } catch (const std::exception &error) {
            qCWarning(lcStore) << "The drawing files could not be listed:" << error.what();
        }
        promise->addResult(day);
        promise->finish();
    });
    return future;
}

} // namespace

QCoro::Task<std::optional<int>> earliestWrittenYear(std::shared_ptr<DiaryRepository> repository,
                                                    DiaryHandwritingStore handwriting,
                                                    DayKey before, GregorianCalendar calendar) {
    std::optional<int> typedYear;
    try {
        auto reading = repository->entries(earliestDay(), before, 1);
        const QList<DiaryEntryDTO> earliest = co_await reading;
        if (!earliest.isEmpty())
            typedYear = yearOf(earliest.first().dayKey, calendar);
    } catch (const std::exception &error) {
        qCWarning(lcStore) << "The earliest typed entry could not be read:" << error.what();
    }

    std::optional<int> drawnYear;
    auto listing = firstDrawingDay(std::move(handwriting));
    if (const std::optional<DayKey> day = co_await listing)
        drawnYear = yearOf(*day, calendar);

    if (typedYear && drawnYear)
        co_return std::min(*typedYear, *drawnYear);
    co_return typedYear ? typedYear : drawnYear;
}

} // namespace velmora
