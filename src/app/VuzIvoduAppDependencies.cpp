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
    // Recognition runs on the index's own worker; the window never waits for it.
    m_graph->handwritingIndex().refreshAll();
}

MacInkLibrary &VuzIvoduAppDependencies::inkLibrary() {
    if (!m_inkLibrary)
        m_inkLibrary = std::make_unique<MacInkLibrary>(*m_graph->handwriting());
    return *m_inkLibrary;
}

} // namespace velmora
