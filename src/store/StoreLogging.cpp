#include "store/StoreLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcStore, "velmora.store", QtWarningMsg)

} // namespace velmora
