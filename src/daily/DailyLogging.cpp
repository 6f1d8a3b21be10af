#include "daily/DailyLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(dailyLog, "velmora.daily")

} // namespace velmora
