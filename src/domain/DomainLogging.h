#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.domain": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.domain.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcDomain)

} // namespace velmora
