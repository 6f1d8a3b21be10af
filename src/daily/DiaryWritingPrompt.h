#pragma once

#include "domain/DayKey.h"

#include <QString>

namespace velmora {

// The seed that picks a day's prompt: year × 7 + day-of-year index × 5, or 0 for a key that
// cannot be read.
qint64 promptSeed(const DayKey &day);

// The invitation on a blank page: remembering for a past day, hopes for a future one, and for
// today a prompt that suits the hour, opened on even seeds with a greeting and the first word
// of the user's name.
QString writingPrompt(const DayKey &day, const DayKey &today, int hour, const QString &userName);

// The first word of a name after trimming; empty when there is none.
QString firstWordOfName(const QString &userName);

} // namespace velmora
