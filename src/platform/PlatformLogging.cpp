#include "platform/PlatformLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcPlatform, "velmora.platform", QtWarningMsg)

} // namespace velmora
