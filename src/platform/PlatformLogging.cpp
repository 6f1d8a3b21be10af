#include "platform/PlatformLogging.h"

Q_LOGGING_CATEGORY(lcPlatform, "velmora.platform")
