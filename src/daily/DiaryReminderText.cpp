#include "daily/DiaryReminderText.h"

#include "daily/DiaryDailyQuote.h"
#include "daily/DiaryWritingPrompt.h"

#include <QCoreApplication>

namespace velmora {

namespace {

const char *const titleSources[] = {
    QT_TRANSLATE_NOOP("DiaryReminderText", "A quiet page is waiting"),
    QT_TRANSLATE_NOOP("DiaryReminderText", "Before the day slips away"),
    QT_TRANSLATE_NOOP("DiaryReminderText", "Tonight’s page"),
    QT_TRANSLATE_NOOP("DiaryReminderText", "A few minutes for yourself"),
};

const char *const bodySources[] = {
    QT_TRANSLATE_NOOP("DiaryReminderText", "One line is enough. It’s yours to keep."),
    QT_TRANSLATE_NOOP("DiaryReminderText", "Three sentences make a page. Start with the first."),
    QT_TRANSLATE_NOOP("DiaryReminderText", "Write it down before it fades."),
    QT_TRANSLATE_NOOP("DiaryReminderText", "Nobody else will read it. Say it plainly."),
};

} // namespace

qint64 reminderSeed(const DayKey &day) {
    const auto integers = dayKeyIntegers(day.rawValue());
    if (!integers)
        return 0;
    const auto [year, month, dayOfMonth] = *integers;
    return qint64(quint64(year) + quint64(DiaryDailyQuote::dayOfYearIndex(month, dayOfMonth)));
}

DiaryReminderText reminderText(const DayKey &day, int hour, const QString &userName,
                               std::optional<qint64> yearsAgo) {
    if (yearsAgo) {
        const QString title = QCoreApplication::translate("DiaryReminderText", "On this day");
        if (*yearsAgo == 1) {
            return {title, QCoreApplication::translate(
                               "DiaryReminderText",
                               "A year ago today, you wrote a page. Read it, then add today’s.")};
        }
        return {title, QCoreApplication::translate(
                           "DiaryReminderText",
                           "%1 years ago today, you wrote a page. Read it, then add today’s.")
                           .arg(*yearsAgo)};
    }

    const qint64 seed = reminderSeed(day);
    // A lenient key can carry a negative year; the position must still be a row.
    const auto position = [seed](qint64 count) {
        return qsizetype(((seed % count) + count) % count);
    };
    QString title = QCoreApplication::translate("DiaryReminderText", titleSources[position(4)]);
    const QString firstWord = firstWordOfName(userName);
    const qint64 remainder = position(3);

    if (remainder == 1) {
        const DiaryDailyQuote quote = DiaryDailyQuote::quote(day);
        return {title, QStringLiteral("\u201C") + quote.text + QStringLiteral("\u201D \u2014 ") +
                           quote.author};
    }
    if (remainder == 2) {
        const qint64 bodyPosition = (seed / 3) % 4;
        return {title, QCoreApplication::translate("DiaryReminderText",
                                                   bodySources[(bodyPosition + 4) % 4])};
    }
    if (!firstWord.isEmpty())
        title = QCoreApplication::translate("DiaryReminderText", "%1, your page is waiting")
                    .arg(firstWord);
    return {title, writingPrompt(day, day, hour, QString())};
}

} // namespace velmora
