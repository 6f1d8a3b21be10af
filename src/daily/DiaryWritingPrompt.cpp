#include "daily/DiaryWritingPrompt.h"

#include "daily/DiaryDailyQuote.h"

#include <QCoreApplication>
#include <QStringList>

namespace velmora {

namespace {

const char *const morningSources[] = {
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What would make today a good day?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What are you looking forward to?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Did you dream last night?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "One small kindness to do for yourself today…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What is the first thing on your mind this morning?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "If today had a title, what would it be?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Something you are grateful for this morning…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What would you like to leave undone today?"),
};

const char *const afternoonSources[] = {
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What’s on your mind?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "How is the day treating you so far?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What surprised you today?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "A conversation you keep coming back to…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Something you noticed that others might have missed…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What are you carrying that you could set down?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Describe this moment, right where you are."),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What would you like to remember about today?"),
};

const char *const eveningSources[] = {
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "How was your day, really?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What made you smile today?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Three good things from today…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What did today teach you?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Who made your day a little better?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What are you proud of today?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Let the day settle onto the page."),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt",
                      "What would you keep from today, and what would you change?"),
};

const char *const nightSources[] = {
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What’s keeping you up tonight?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Empty your mind onto the page, then rest."),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What would you like to let go of before sleep?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "A quiet thought for the end of the day…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What are you hoping for tomorrow?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Write the thing you couldn’t say out loud."),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What felt heavy today, and what felt light?"),
};

const char *const pastSources[] = {
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What do you remember about this day?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Where were you, and who was with you?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "A memory from this day, before it fades…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What did this day mean to you?"),
};

const char *const futureSources[] = {
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "A note to your future self…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What do you hope this day will hold?"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "Plans, wishes, and small promises…"),
    QT_TRANSLATE_NOOP("DiaryWritingPrompt", "What should you remember when this day comes?"),
};

// Translated on first use, so the language of that moment holds for the rest of the run.
template <size_t N> QStringList translated(const char *const (&sources)[N]) {
    QStringList prompts;
    for (const char *source : sources)
        prompts.append(QCoreApplication::translate("DiaryWritingPrompt", source));
    return prompts;
}

const QStringList &morningPrompts() {
    static const QStringList prompts = translated(morningSources);
    return prompts;
}
const QStringList &afternoonPrompts() {
    static const QStringList prompts = translated(afternoonSources);
    return prompts;
}
const QStringList &eveningPrompts() {
    static const QStringList prompts = translated(eveningSources);
    return prompts;
}
const QStringList &nightPrompts() {
    static const QStringList prompts = translated(nightSources);
    return prompts;
}
const QStringList &pastPrompts() {
    static const QStringList prompts = translated(pastSources);
    return prompts;
}
const QStringList &futurePrompts() {
    static const QStringList prompts = translated(futureSources);
    return prompts;
}

const QString &at(const QStringList &prompts, qint64 seed) {
    const quint64 magnitude = seed < 0 ? 0 - quint64(seed) : quint64(seed);
    return prompts.at(qsizetype(magnitude % quint64(prompts.size())));
}

} // namespace

qint64 promptSeed(const DayKey &day) {
    const auto integers = dayKeyIntegers(day.rawValue());
    if (!integers)
        return 0;
    const auto [year, month, dayOfMonth] = *integers;
    // Wrapping arithmetic: a lenient key may hold any year, and the seed only picks a row.
    return qint64(quint64(year) * 7u +
                  quint64(DiaryDailyQuote::dayOfYearIndex(month, dayOfMonth)) * 5u);
}

QString firstWordOfName(const QString &userName) {
    const QStringList words = userName.trimmed().split(u' ', Qt::SkipEmptyParts);
    return words.isEmpty() ? QString() : words.first();
}

QString writingPrompt(const DayKey &day, const DayKey &today, int hour, const QString &userName) {
    const qint64 seed = promptSeed(day);
    if (day != today)
        return day < today ? at(pastPrompts(), seed) : at(futurePrompts(), seed);

    QString prompt;
    QString greeting;
    if (hour >= 5 && hour <= 11) {
        prompt = at(morningPrompts(), seed);
        greeting = QCoreApplication::translate("DiaryWritingPrompt", "Good morning");
    } else if (hour >= 12 && hour <= 16) {
        prompt = at(afternoonPrompts(), seed);
        greeting = QCoreApplication::translate("DiaryWritingPrompt", "Good afternoon");
    } else if (hour >= 17 && hour <= 21) {
        prompt = at(eveningPrompts(), seed);
        greeting = QCoreApplication::translate("DiaryWritingPrompt", "Good evening");
    } else {
        prompt = at(nightPrompts(), seed);
        greeting = QCoreApplication::translate("DiaryWritingPrompt", "Hello again");
    }

    const QString firstWord = firstWordOfName(userName);
    if (!firstWord.isEmpty() && seed % 2 == 0)
        return greeting + QLatin1String(", ") + firstWord + QLatin1String(". ") + prompt;
    return prompt;
}

} // namespace velmora
