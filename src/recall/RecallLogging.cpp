#include "recall/RecallLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcRecall, "velmora.recall", QtWarningMsg)

} // namespace velmora
