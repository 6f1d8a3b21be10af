#pragma once

#include "app/graph/DiaryDependencyGraph.h"
#include "daily/DiaryReminderCenter.h"
#include "daily/FreedesktopNotificationCenter.h"
#include "ink/MacInkLibrary.h"

#include <QObject>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace velmora {

// The application's container: builds the dependency graph once for the run and starts the
// background work the first time the book window is shown.
class VuzIvoduAppDependencies : public QObject {
    Q_OBJECT

public:
    // `bus` carries the desktop notifications of the reminders; `clock` tells them the time, the
    // graph's unless a test pins it.
    VuzIvoduAppDependencies(const DiaryLaunchPlan &plan, QDBusConnection bus,
                            std::shared_ptr<const Clock> clock = nullptr,
                            QObject *parent = nullptr);
    ~VuzIvoduAppDependencies() override;

    DiaryDependencyGraph &graph() const { return *m_graph; }
    DiaryReminderCenter &reminders() const { return *m_reminders; }
    FreedesktopNotificationCenter &notifications() const { return *m_notifications; }
    // Only a run on the user's own diary answers the desktop's notifications.
    bool remindersAreNotificationDelegate() const { return m_remindersAreDelegate; }
    // How a tapped reminder makes sure the book window is on screen.
    void setShowBookWindow(std::function<void()> show) { m_showBookWindow = std::move(show); }
    // The book window, whose place on the desktop says whether the diary is in front.
    void setBookWindow(QWidget *window) { m_bookWindow = window; }
    // The book window is shown, not minimized, and has the keyboard: reminders are kept back.
    bool isInFront() const;
    bool startedBackgroundWork() const { return m_startedBackgroundWork; }

    // Does its work only on its first call; returns at once.
    void startBackgroundWork();

    // Made on first use over a copy of the graph's handwriting store, then kept.
    MacInkLibrary &inkLibrary();
    bool hasInkLibrary() const { return m_inkLibrary != nullptr; }

private:
    std::unique_ptr<DiaryDependencyGraph> m_graph;
    std::shared_ptr<FreedesktopNotificationCenter> m_notifications;
    std::unique_ptr<DiaryReminderCenter> m_reminders;
    bool m_remindersAreDelegate = false;
    std::function<void()> m_showBookWindow;
    QPointer<QWidget> m_bookWindow;
    bool m_startedBackgroundWork = false;
    std::unique_ptr<MacInkLibrary> m_inkLibrary;
};

} // namespace velmora
