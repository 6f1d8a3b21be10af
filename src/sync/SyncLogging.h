#pragma once

#include <QLoggingCategory>

namespace velmora {

// The sync library's messages, "velmora.sync".
Q_DECLARE_LOGGING_CATEGORY(lcSync)

} // namespace velmora
