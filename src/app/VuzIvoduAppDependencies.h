#pragma once

#include "app/graph/DiaryDependencyGraph.h"
#include "ink/MacInkLibrary.h"

#include <QObject>

#include <memory>

namespace velmora {

// The application's container: builds the dependency graph once for the run and starts the
// background work the first time the book window is shown.
class VuzIvoduAppDependencies : public QObject {
    Q_OBJECT

public:
    explicit VuzIvoduAppDependencies(const DiaryLaunchPlan &plan, QObject *parent = nullptr);
    ~VuzIvoduAppDependencies() override;

    DiaryDependencyGraph &graph() const { return *m_graph; }
    bool startedBackgroundWork() const { return m_startedBackgroundWork; }

    // Does its work only on its first call; returns at once.
    void startBackgroundWork();

    // Made on first use over a copy of the graph's handwriting store, then kept.
    MacInkLibrary &inkLibrary();
    bool hasInkLibrary() const { return m_inkLibrary != nullptr; }

private:
    std::unique_ptr<DiaryDependencyGraph> m_graph;
    bool m_startedBackgroundWork = false;
    std::unique_ptr<MacInkLibrary> m_inkLibrary;
};

} // namespace velmora
