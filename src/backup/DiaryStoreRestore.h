#pragma once

#include "platform/FileClaims.h"
#include "store/StoreReplacement.h"

#include <QString>

#include <functional>

namespace velmora {

// Restores a backup package in place of a store that cannot be opened: the package's diary is
// written into a new store beside the old one, read back and compared, and only then put in the
// old one's place, whose files are set aside whole (see replaceStore). A process killed at any
// moment leaves the old store as it was or the restored one. Blocks on the disk: run it off the
// GUI thread. Answers the number of entries restored; throws what failed, leaving the old store
// where it was. With `claims`, the restored store is claimed for this process before it takes
// the old one's place, so that no other process opens it while this one runs.
qint64 restoreUnopenableStore(const QString &storeURL, const QString &packageURL,
                              const QString &setAsideDirectory,
                              const std::function<void(StoreReplacementStep)> &observer = {},
                              FileClaims *claims = nullptr);

} // namespace velmora
