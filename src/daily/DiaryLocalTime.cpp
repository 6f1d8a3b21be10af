#include "daily/DiaryLocalTime.h"

#include <algorithm>

namespace velmora {

std::optional<QDateTime> firstMomentAt(QDate date, QTime time, const QTimeZone &zone) {
    if (!date.isValid() || !time.isValid() || !zone.isValid())
        return std::nullopt;
    constexpr qint64 dayMs = 24 * 60 * 60 * 1000;
    // The wall-clock reading taken as if it were UTC; each offset in force around it proposes
    // one moment, and a proposal holds when the zone really has that offset then.
    const qint64 naive = QDateTime(date, time, QTimeZone::utc()).toMSecsSinceEpoch();
    const auto offsetAt = [&zone](qint64 ms) {
        return zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(ms, QTimeZone::utc()));
    };
    const int before = offsetAt(naive - dayMs);
    const int after = offsetAt(naive + dayMs);
    std::optional<qint64> first;
    for (const int offset : {before, after}) {
        const qint64 candidate = naive - qint64(offset) * 1000;
        if (offsetAt(candidate) == offset && (!first || candidate < *first))
            first = candidate;
    }
    if (first)
        return QDateTime::fromMSecsSinceEpoch(*first, QTimeZone::utc());

    // In a gap: the clocks jumped over this reading, and the jump itself is the first moment
    // after it.
    const qint64 earliest = naive - qint64(std::max(before, after)) * 1000;
    const QTimeZone::OffsetData jump =
        zone.nextTransition(QDateTime::fromMSecsSinceEpoch(earliest, QTimeZone::utc()));
    if (!jump.atUtc.isValid())
        return std::nullopt;
    return jump.atUtc.toUTC();
}

} // namespace velmora
