#include "recall/DiaryOnThisDayItem.h"

#include "domain/DiaryRepository.h"
#include "recall/RecallLogging.h"
#include "store/DiaryWritingHistory.h"

#include <QFile>
#include <QRegularExpression>
#include <QtConcurrent/QtConcurrentRun>

#include <QCoroFuture>

#include <exception>
#include <memory>

namespace velmora {

std::optional<QString> onThisDayPreview(const QString &content) {
    static const QRegularExpression lineBreaks(QStringLiteral("[\\n\\x{000B}\\x{000C}\\r"
                                                              "\\x{0085}\\x{2028}\\x{2029}]"));
    const QStringList lines = content.trimmed().split(lineBreaks, Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return std::nullopt;
    return lines.first();
}

QCoro::Task<DiaryOnThisDay> loadOnThisDayItems(DiaryRepository &repository,
                                               DiaryHandwritingStore handwriting, QDateTime date,
                                               GregorianCalendar calendar) {
    const QDate today = calendar.civilDate(date);
    const DayKey day = DayKey::fromDate(date, calendar);
    DiaryOnThisDay result;
    // The store's query shares the repository; the caller keeps it alive while this runs.
    auto earliest =
        earliestWrittenYear(std::shared_ptr<DiaryRepository>(std::shared_ptr<void>(), &repository),
                            handwriting, day, calendar);
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
