#include "domain/DomainLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcDomain, "velmora.domain")

} // namespace velmora
