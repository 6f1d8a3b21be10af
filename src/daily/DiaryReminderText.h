#pragma once

#include "domain/DayKey.h"

#include <QString>

#include <optional>

namespace velmora {

struct DiaryReminderText {
    QString title;
    QString body;

    friend bool operator==(const DiaryReminderText &, const DiaryReminderText &) = default;
};

// Year plus day-of-year index, so neighbouring days rotate through the kinds of text; 0 for a
// key that cannot be read.
qint64 reminderSeed(const DayKey &day);

// The title and body of one day's reminder. `yearsAgo` is the nearest earlier year of the same
// date that has writing, when there is one.
DiaryReminderText reminderText(const DayKey &day, int hour, const QString &userName,
                               std::optional<qint64> yearsAgo);

} // namespace velmora
