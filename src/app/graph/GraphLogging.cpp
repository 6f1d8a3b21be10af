#include "app/graph/GraphLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcGraph, "velmora.graph", QtWarningMsg)

} // namespace velmora
