#include "sync/SyncLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcSync, "velmora.sync", QtWarningMsg)

} // namespace velmora
