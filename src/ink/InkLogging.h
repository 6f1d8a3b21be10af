#pragma once

#include <QLoggingCategory>

namespace velmora {

// "velmora.ink": warnings show; information and debugging only when switched on, e.g.
// QT_LOGGING_RULES="velmora.ink.info=true".
Q_DECLARE_LOGGING_CATEGORY(lcInk)

} // namespace velmora
