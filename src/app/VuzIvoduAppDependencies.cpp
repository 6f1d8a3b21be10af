#include "app/VuzIvoduAppDependencies.h"

#include "pages/MacTextKitLeafPaginator.h"

#include <QLoggingCategory>

Q_LOGGING_CATEGORY(lcApp, "velmora.app")

namespace velmora {

VuzIvoduAppDependencies::VuzIvoduAppDependencies(const DiaryLaunchPlan &plan, QObject *parent)
    : QObject(parent)
    , m_graph(std::make_unique<DiaryDependencyGraph>(plan,
                                                     std::make_shared<MacTextKitLeafPaginator>())) {
}

VuzIvoduAppDependencies::~VuzIvoduAppDependencies() = default;

void VuzIvoduAppDependencies::startBackgroundWork() {
    if (m_startedBackgroundWork)
        return;
    m_startedBackgroundWork = true;
    m_graph->cloudSync().start();
}

} // namespace velmora
