#include "daily/DiaryDailyQuote.h"

#include "daily/DailyLogging.h"
#include "platform/DecimalText.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <array>

static void initDailyResources() {
    Q_INIT_RESOURCE(DailyQuotations);
}

namespace velmora {

namespace {

constexpr std::array<qint64, 12> monthOffsets{0,   31,  60,  91,  121, 152,
                                              182, 213, 244, 274, 305, 335};

QList<DiaryQuotationRow> loadRows() {
    initDailyResources();
    QFile file(QStringLiteral(":/velmora/daily/DailyQuotations.json"));
    if (!file.open(QIODevice::ReadOnly)) {
        qCCritical(lcDaily) << "The quotation table is missing from the program:"
                            << file.errorString();
        return {};
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (!document.isArray())
        qCCritical(lcDaily) << "The quotation table cannot be read:" << error.errorString();
    QList<DiaryQuotationRow> rows;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        rows.append({object.value(QLatin1String("text")).toString(),
                     object.value(QLatin1String("author")).toString(),
                     object.value(QLatin1String("source")).toString()});
    }
    return rows;
}

} // namespace

std::optional<std::tuple<qint64, qint64, qint64>> dayKeyIntegers(const QString &rawValue) {
    QList<qint64> numbers;
    for (const QStringView piece : QStringView(rawValue).split(u'-', Qt::SkipEmptyParts)) {
        if (const auto number = parseSignedDecimal(piece))
            numbers.append(*number);
    }
    if (numbers.size() != 3)
        return std::nullopt;
    return std::tuple{numbers[0], numbers[1], numbers[2]};
}

qint64 DiaryDailyQuote::dayOfYearIndex(qint64 month, qint64 day) {
    if (month < 1 || month > 12)
        return 0;
    // Clamped first so that no day number, however absurd, can overflow the sum.
    const qint64 boundedDay = std::clamp<qint64>(day, -1000, 1000);
    return std::clamp<qint64>(monthOffsets[size_t(month - 1)] + boundedDay - 1, 0, 365);
}

const QList<DiaryQuotationRow> &diaryQuotationRows() {
    static const QList<DiaryQuotationRow> rows = loadRows();
    return rows;
}

const QList<DiaryDailyQuote> &DiaryDailyQuote::table() {
    static const QList<DiaryDailyQuote> quotes = [] {
        QList<DiaryDailyQuote> result;
        for (const DiaryQuotationRow &row : diaryQuotationRows())
            result.append({row.text, row.author});
        // A damaged table still gives every day a row rather than an out-of-range read.
        while (result.size() < 366)
            result.append(DiaryDailyQuote{});
        return result;
    }();
    return quotes;
}

DiaryDailyQuote DiaryDailyQuote::quote(const DayKey &day) {
    const auto integers = dayKeyIntegers(day.rawValue());
    if (!integers)
        return table().at(0);
    const auto [year, month, dayOfMonth] = *integers;
    Q_UNUSED(year)
    return table().at(dayOfYearIndex(month, dayOfMonth));
}

} // namespace velmora
