#include "pages/PagesLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcPages, "velmora.pages", QtWarningMsg)

} // namespace velmora
