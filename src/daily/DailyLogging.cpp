#include "daily/DailyLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcDaily, "velmora.daily", QtWarningMsg)

} // namespace velmora
