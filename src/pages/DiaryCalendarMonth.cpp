#include "pages/DiaryCalendarMonth.h"

namespace velmora {

DiaryCalendarMonth DiaryCalendarMonth::containing(const DayKey &day,
                                                  const GregorianCalendar &calendar) {
    const auto start = day.date(calendar);
    if (!start)
        return {day};
    const auto components = calendar.components(*start);
    const auto first = calendar.date(components.year, components.month, 1);
    if (!first)
        return {day};
    return {DayKey::fromDate(*first, calendar)};
}

} // namespace velmora
