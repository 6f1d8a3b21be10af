#pragma once

#include <QString>

#include <chrono>

namespace velmora {

// A hidden staging folder or temporary file that nothing has touched for this long belongs to a
// backup or export that was killed: no live one takes anywhere near as long.
inline constexpr std::chrono::hours stagingLifetime{1};

// Removes the items of `folder` whose names start with `prefix` and end with `suffix` and that
// were last changed more than stagingLifetime ago (folders with what they hold; a symbolic link
// itself, never what it points to). Best effort: what cannot be removed is logged and left.
void removeStaleStaging(const QString &folder, const QString &prefix,
                        const QString &suffix = QString());

} // namespace velmora
