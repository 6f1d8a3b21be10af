#pragma once

#include <QLoggingCategory>

namespace velmora {

// The domain library's messages, "velmora.domain".
Q_DECLARE_LOGGING_CATEGORY(lcDomain)

} // namespace velmora
