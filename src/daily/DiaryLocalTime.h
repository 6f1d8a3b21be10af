#pragma once

#include <QDate>
#include <QDateTime>
#include <QTime>
#include <QTimeZone>

#include <optional>

namespace velmora {

// The moment a wall-clock time of a civil day names in the zone. A time that daylight saving
// skips becomes the first moment after the gap; a time that happens twice is its first
// occurrence. None for an invalid date or time.
std::optional<QDateTime> firstMomentAt(QDate date, QTime time, const QTimeZone &zone);

} // namespace velmora
