#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.pages": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.pages.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcPages)

} // namespace velmora
