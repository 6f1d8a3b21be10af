#pragma once

#include "domain/DayKey.h"

#include <QList>
#include <QString>

#include <optional>
#include <tuple>

namespace velmora {

// The quotation shown on a day's page; the same calendar date shows the same one every year.
struct DiaryDailyQuote {
    QString text;
    QString author;

    // One day of a leap year, 0 for 1 January to 365 for 31 December. A month outside 1…12
    // gives 0; a day past the month's end runs on into the next months.
    static qint64 dayOfYearIndex(qint64 month, qint64 day);

    // The row of the key's month and day; row 0 for a key that cannot be read.
    static DiaryDailyQuote quote(const DayKey &day);

    // The 366 rows, 1 January first and 29 February at 59.
    static const QList<DiaryDailyQuote> &table();

    friend bool operator==(const DiaryDailyQuote &a, const DiaryDailyQuote &b) {
        return a.text == b.text && a.author == b.author;
    }
};

// A quotation row as the table file holds it, with the work it was taken from, which is kept
// for checking the table and never shown.
struct DiaryQuotationRow {
    QString text;
    QString author;
    QString source;
};

// The rows of the compiled-in table file, read once.
const QList<DiaryQuotationRow> &diaryQuotationRows();

// Year, month and day of a key read the lenient way the daily texts read it: pieces between
// "-" (empty ones dropped), each a base-10 integer with an optional sign (others dropped), and
// exactly three must remain.
std::optional<std::tuple<qint64, qint64, qint64>> dayKeyIntegers(const QString &rawValue);

} // namespace velmora
