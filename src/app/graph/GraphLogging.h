#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.graph": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.graph.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcGraph)

} // namespace velmora
