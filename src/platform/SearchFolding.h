#pragma once

#include <QString>

namespace velmora {

// Raised whenever foldedForSearch returns something else for any text, so that stores holding
// texts folded the old way fold them again when they open.
inline constexpr qint64 searchFoldingVersion = 2;

// Text as search compares it: canonically decomposed, non-spacing marks dropped, fully case
// folded ("ﬁ" → "fi", "ß" → "ss"). Spacing and enclosing marks stay: a Devanagari vowel sign or a
// keycap is part of what was written.
QString foldedForSearch(const QString &text);

} // namespace velmora
