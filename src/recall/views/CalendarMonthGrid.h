#pragma once

#include "domain/DayKey.h"
#include "pages/DiaryCalendarMonth.h"
#include "platform/GregorianCalendar.h"

#include <QDate>
#include <QList>
#include <QLocale>
#include <QStringList>

#include <optional>

namespace velmora {

// What the month grid shows and where its choices lead, apart from any widget.
namespace CalendarMonthGrid {

// The locale's narrowest weekday names, its first day of the week first.
QStringList weekdaySymbols(const QLocale &locale);

// The month's days in rows of seven, with blanks (none) before the first day so that it falls
// under its weekday, and after the last to complete the week. Empty when the month's first day
// is no date in the calendar.
QList<std::optional<QDate>> cells(const DiaryCalendarMonth &month,
                                  const GregorianCalendar &calendar, Qt::DayOfWeek firstWeekday);

// The first day of the month `delta` months away; none when either month is no date.
std::optional<DayKey> steppedMonth(const DiaryCalendarMonth &month, int delta,
                                   const GregorianCalendar &calendar);

// The first day of the same month in the given year; none when either is no date.
std::optional<DayKey> monthInYear(const DiaryCalendarMonth &month, int year,
                                  const GregorianCalendar &calendar);

} // namespace CalendarMonthGrid

} // namespace velmora
