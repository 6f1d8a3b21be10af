#pragma once

#include <QString>

namespace velmora {

// The longest user name kept, in UTF-16 code units. The name is drawn on the cover and woven
// into prompts and reminders; a name from a settings file, an import or the other device is cut
// to this length wherever it comes in, so no text laid out from it can grow without end.
inline constexpr qsizetype userNameMaximumLength = 100;

// `name` as kept: unchanged when it fits, else cut at the last character boundary within the
// limit, so that no letter with its marks, surrogate pair or emoji sequence is split.
QString boundedUserName(const QString &name);

} // namespace velmora
