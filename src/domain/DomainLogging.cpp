#include "domain/DomainLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcDomain, "velmora.domain", QtWarningMsg)

} // namespace velmora
