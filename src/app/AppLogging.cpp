#include "app/AppLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcApp, "velmora.app", QtWarningMsg)

} // namespace velmora
