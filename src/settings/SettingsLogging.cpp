#include "settings/SettingsLogging.h"

namespace velmora {

Q_LOGGING_CATEGORY(lcSettings, "velmora.settings", QtWarningMsg)

} // namespace velmora
