#pragma once

#include "domain/DayKey.h"
#include "pages/DiaryPageSystemStore.h"
#include "pages/PageTransitionState.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

namespace velmora {

class DiarySessionStore;
class PageMotion;
class SettingsStore;

// Which day and leaf the open book shows, and how it gets there: a jump to a day, a turn by key
// or arrow, the drag at a page edge. One navigation runs at a time; a newer one cancels the one
// running. The page is settling while a navigation, the first day's load or a drawn turn is
// under way.
class PageNavigation : public QObject {
    Q_OBJECT

public:
    // The edge drag measures progress against the page's width.
    static constexpr double edgeDragPageWidth = 768;
    static constexpr double edgeDragMinimumDistance = 8;
    // The drag's predicted end lies this far ahead of the pointer at its last velocity; with the
    // factor of 4 the drag applies, the interaction's velocity is then the pointer's own.
    static constexpr double edgeDragDecelerationSeconds = 0.25;
    static constexpr double edgeDragVelocityFactor = 4;

    // `crossFadeSettle`: how long a cross-faded turn shows before the page is at rest.
    PageNavigation(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                   const SettingsStore &settings, const PageMotion &motion,
                   std::chrono::nanoseconds crossFadeSettle, QObject *parent = nullptr);
    ~PageNavigation() override;

    void navigate(const DayKey &day);
    void turnToNextPage();
    void turnToPreviousPage();

    // The drag at a page edge: `translation` is the pointer's horizontal travel since the press,
    // `predictedEndTranslation` where it would come to rest.
    void edgeDragChanged(double translation, double predictedEndTranslation,
                         PageTurnDirection direction);
    void edgeDragEnded(double predictedEndTranslation);
    const PageTurnInteraction &edgeInteraction() const { return m_edgeInteraction; }
    // The leaf a drag in that direction uncovers: the neighbouring leaf of the day, else a blank
    // preview of the neighbouring day.
    std::optional<PageDescriptor> adjacentDescriptor(PageTurnDirection direction) const;

    // A physical turn is on screen: the page system animates one and motion is physical.
    bool isPhysicalTurnRunning() const;
    // The leaf a physical edge drag uncovers is shown under the lifted one.
    bool showsUnderLeaf() const;
    // The lifted leaf's rotation in degrees: negative turning forward.
    double edgeTurnAngle() const;
    // The drawn turn has ended, or is dropped.
    void resetTransition();

    // The first day's load runs apart from the navigations; the page settles once it ends too.
    void loadStarted();
    void loadEnded();
    bool isSettling() const;
    // The book left the screen: the running navigation ends, and a turn with it.
    void stop();

Q_SIGNALS:
    // The session and the page system show the day navigated to. The page may still be
    // cross-fading.
    void arrived();
    // The navigation that arrived has come to rest.
    void settled();
    void failed(const QString &message);
    void edgeInteractionChanged();
    // The page started on its way, or came to rest (see isSettling).
    void settlingChanged(bool settling);

private:
    using Operation = std::function<QCoro::Task<void>(CancellationToken)>;

    void start(Operation operation);
    QCoro::Task<void> navigationTask(Operation operation, CancellationToken token);
    void resetEdgeInteraction();
    void updateSettling();

    DiarySessionStore &m_session;
    DiaryPageSystemStore &m_pageSystem;
    const SettingsStore &m_settings;
    const PageMotion &m_motion;
    std::chrono::nanoseconds m_crossFadeSettle;
    PageTurnInteraction m_edgeInteraction;
    // The running navigation, until it ends.
    std::optional<CancellationToken> m_running;
    int m_loadsRunning = 0;
    bool m_settling = false;
};

} // namespace velmora
