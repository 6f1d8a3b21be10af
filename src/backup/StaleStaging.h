#pragma once

#include <QString>

#include <chrono>
#include <functional>

namespace velmora {

// A hidden staging folder or temporary file that nothing has touched for this long belongs to a
// backup or export that was killed: no live one takes anywhere near as long.
inline constexpr std::chrono::hours stagingLifetime{1};

// What a backup or export leaves when it is killed: an export's temporary file, or a backup's
// staging folder, which holds files alone.
enum class StagingKind { file, folder };

// Removes the items of `folder` whose names start with `prefix` and end with `suffix` and that
// were last changed more than stagingLifetime ago, as far as this program could have left them:
// this user's, of `kind`, and for a folder holding no folder. Nothing is reached through a link,
// whatever is swapped in while the sweep goes on: a folder is opened without following one and
// emptied through its own descriptor. `beforeRemoving` is told the path of each item chosen, just
// before it is removed; tests swap things there. Best effort: what cannot be removed is logged
// and left.
void removeStaleStaging(StagingKind kind, const QString &folder, const QString &prefix,
                        const QString &suffix = QString(),
                        const std::function<void(const QString &)> &beforeRemoving = {});

} // namespace velmora
