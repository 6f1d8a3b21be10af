#include "recall/DiaryOnThisDayItem.h"

#include "domain/DiaryRepository.h"
#include "recall/RecallLogging.h"

#include <QFile>
#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include <algorithm>
#include <exception>

namespace velmora {

namespace {

// The first day any query looks at: writing dated earlier is taken for a mistake, so a drawing
// named for year 1 cannot send the calendar through two thousand empty years.
DayKey earliestDay() {
    return DayKey::fromCivilDate(1900, 1, 1);
}

std::optional<int> yearOf(const DayKey &day, const GregorianCalendar &calendar) {
    const auto start = day.date(calendar);
    if (!start)
        return std::nullopt;
    return calendar.components(*start).year;
}

} // namespace

std::optional<QString> onThisDayPreview(const QString &content) {
    static const QRegularExpression lineBreaks(QStringLiteral("[\\n\\x{000B}\\x{000C}\\r"
                                                              "\\x{0085}\\x{2028}\\x{2029}]"));
    const QStringList lines = content.trimmed().split(lineBreaks, Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return std::nullopt;
    return lines.first();
}

QCoro::Task<std::optional<int>> earliestWrittenYear(DiaryRepository &repository,
                                                    DiaryHandwritingStore handwriting,
                                                    DayKey before, GregorianCalendar calendar) {
    std::optional<int> typedYear;
    try {
        auto reading = repository.entries(earliestDay(), before, 1);
        const QList<DiaryEntryDTO> earliest = co_await reading;
        if (!earliest.isEmpty())
            typedYear = yearOf(earliest.first().dayKey, calendar);
    } catch (const std::exception &error) {
        qCInfo(lcRecall) << "The earliest typed page could not be read:" << error.what();
    }

    std::optional<int> handwrittenYear;
    // Named before awaiting: GCC 12 destroys temporaries of a co_await operand twice.
    auto listing =
        QtConcurrent::run([handwriting]() -> std::optional<DiaryHandwritingStore::PageFile> {
            try {
                return handwriting.firstPageFile(earliestDay());
            } catch (const std::exception &error) {
                qCInfo(lcRecall) << "The handwriting could not be listed:" << error.what();
                return std::nullopt;
            }
        });
    const std::optional<DiaryHandwritingStore::PageFile> firstDrawing = co_await listing;
    if (firstDrawing)
        handwrittenYear = yearOf(firstDrawing->dayKey, calendar);

    if (typedYear && handwrittenYear)
        co_return std::min(*typedYear, *handwrittenYear);
    co_return typedYear ? typedYear : handwrittenYear;
}

QCoro::Task<DiaryOnThisDay> loadOnThisDayItems(DiaryRepository &repository,
                                               DiaryHandwritingStore handwriting, QDateTime date,
                                               GregorianCalendar calendar) {
    const QDate today = calendar.civilDate(date);
    const DayKey day = DayKey::fromDate(date, calendar);
    DiaryOnThisDay result;
    auto earliest = earliestWrittenYear(repository, handwriting, day, calendar);
    result.firstYear = co_await earliest;
    if (!result.firstYear || *result.firstYear >= today.year())
        co_return result;

    struct Candidate {
        DayKey day;
        int yearsAgo;
        bool hasDrawing = false;
    };
    QList<Candidate> candidates;
    for (int k = 1; k <= today.year() - *result.firstYear; ++k) {
        const QDate earlier = today.addYears(-k);
        // 29 February lands on the 28th in a common year: that year has no such day.
        if (!earlier.isValid() || earlier.day() != today.day())
            continue;
        candidates.append(
            Candidate{DayKey::fromCivilDate(earlier.year(), earlier.month(), earlier.day()), k});
    }
    auto checking = QtConcurrent::run([handwriting, candidates]() mutable {
        for (Candidate &candidate : candidates)
            candidate.hasDrawing = QFile::exists(handwriting.fileURL(candidate.day, 0));
        return candidates;
    });
    const QList<Candidate> checked = co_await checking;

    for (const Candidate &candidate : checked) {
        std::optional<QString> preview;
        try {
            auto reading = repository.entry(candidate.day);
            if (const auto entry = co_await reading)
                preview = onThisDayPreview(entry->content);
        } catch (const std::exception &error) {
            qCInfo(lcRecall) << "The page of" << candidate.day.rawValue()
                             << "could not be read:" << error.what();
        }
        if (preview || candidate.hasDrawing)
            result.items.append(DiaryOnThisDayItem{candidate.day, candidate.yearsAgo, preview});
    }
    co_return result;
}

} // namespace velmora
