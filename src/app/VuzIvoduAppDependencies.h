#pragma once

#include "app/graph/DiaryDependencyGraph.h"

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

private:
    std::unique_ptr<DiaryDependencyGraph> m_graph;
    bool m_startedBackgroundWork = false;
};

} // namespace velmora
