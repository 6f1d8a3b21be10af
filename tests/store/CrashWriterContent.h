#pragma once

#include "domain/DayKey.h"

#include <QString>

namespace velmora::test {

inline constexpr int crashWriterDays = 24;

inline DayKey crashWriterDay(qint64 counter) {
    return DayKey::fromCivilDate(2024, 1, int(counter % crashWriterDays) + 1);
}

// The text stored at each revision names its day and revision, so a reader can tell that an
// entry holds one whole write and not a mix of two. Sizes vary so rows cross page boundaries.
inline QString crashWriterContent(const DayKey &day, qint64 revision) {
    const QString head = QStringLiteral("%1 revision %2 ").arg(day.rawValue()).arg(revision);
    return head + QString(int((revision * 7919) % 6000), QChar(u'é'));
}

} // namespace velmora::test
