#include "recall/views/CalendarMonthGrid.h"

namespace velmora::CalendarMonthGrid {

namespace {

std::optional<QDate> firstDate(const DiaryCalendarMonth &month, const GregorianCalendar &calendar) {
    const auto start = month.firstDay.date(calendar);
    if (!start)
        return std::nullopt;
    return calendar.civilDate(*start);
}

std::optional<DayKey> keyOf(QDate date, const GregorianCalendar &calendar) {
    if (!date.isValid() || !calendar.date(date.year(), date.month(), date.day()))
        return std::nullopt;
    return DayKey::fromCivilDate(date.year(), date.month(), date.day());
}

} // namespace

QStringList weekdaySymbols(const QLocale &locale) {
    // The C locale names its days by number ("1" … "7"): English letters read as days.
    const QLocale names = locale.language() == QLocale::C ? QLocale(QLocale::English) : locale;
    QStringList symbols;
    const int first = locale.firstDayOfWeek();
    for (int i = 0; i < 7; ++i)
        symbols.append(names.dayName((first - 1 + i) % 7 + 1, QLocale::NarrowFormat));
    return symbols;
}

QList<std::optional<QDate>> cells(const DiaryCalendarMonth &month,
                                  const GregorianCalendar &calendar, Qt::DayOfWeek firstWeekday) {
    const auto first = firstDate(month, calendar);
    if (!first)
        return {};
    QList<std::optional<QDate>> result;
    const int blanks = (first->dayOfWeek() - int(firstWeekday) + 7) % 7;
    for (int i = 0; i < blanks; ++i)
        result.append(std::nullopt);
    for (int n = 1; n <= first->daysInMonth(); ++n)
        result.append(first->addDays(n - 1));
    while (result.size() % 7 != 0)
        result.append(std::nullopt);
    return result;
}

std::optional<DayKey> steppedMonth(const DiaryCalendarMonth &month, int delta,
                                   const GregorianCalendar &calendar) {
    const auto first = firstDate(month, calendar);
    if (!first)
        return std::nullopt;
    return keyOf(first->addMonths(delta), calendar);
}

std::optional<DayKey> monthInYear(const DiaryCalendarMonth &month, int year,
                                  const GregorianCalendar &calendar) {
    const auto first = firstDate(month, calendar);
    if (!first)
        return std::nullopt;
    return keyOf(QDate(year, first->month(), 1), calendar);
}

} // namespace velmora::CalendarMonthGrid
