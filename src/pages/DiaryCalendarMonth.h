#pragma once

#include "domain/DayKey.h"
#include "platform/GregorianCalendar.h"

#include <QMetaType>

namespace velmora {

// A month, named by the key of its first day.
struct DiaryCalendarMonth {
    DayKey firstDay;

    // Never fails: a day the calendar cannot place names its own month.
    static DiaryCalendarMonth containing(const DayKey &day, const GregorianCalendar &calendar);

    friend bool operator==(const DiaryCalendarMonth &, const DiaryCalendarMonth &) = default;
};

} // namespace velmora

Q_DECLARE_METATYPE(velmora::DiaryCalendarMonth)
