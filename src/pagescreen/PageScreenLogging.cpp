#include "pagescreen/PageScreenLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcPageScreen, "velmora.pagescreen", QtWarningMsg)

} // namespace velmora
