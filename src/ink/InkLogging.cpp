#include "ink/InkLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcInk, "velmora.ink", QtWarningMsg)

} // namespace velmora
