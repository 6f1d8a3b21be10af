#pragma once

#include "pages/PageTransitionState.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QVariantAnimation>

#include <functional>
#include <optional>

namespace velmora {

// Plays one physical page turn: given the page system's transition, it arranges the two leaves
// of an animating physical turn in page order, puts the selection on the source's place and, on
// the next turn of the event loop, moves it to the target's place over 0.52 s, ease-in-out; when
// that ends it reports completion through the newest completion action. A turn already started
// (same source, target and direction) is never started again, and the controller never changes
// the transition itself. It draws nothing: its view paints cached pictures of the two leaves at
// the animated selection.
class MacPageTurnController : public QObject {
    Q_OBJECT

public:
    struct TransitionID {
        PageDescriptorID source;
        PageDescriptorID target;
        PageTurnDirection direction = PageTurnDirection::forward;

        friend bool operator==(const TransitionID &, const TransitionID &) = default;
    };

    static constexpr int turnMilliseconds = 520;

    explicit MacPageTurnController(QObject *parent = nullptr);

    // The newest inputs: called on every change of the transition.
    void update(const PageTransitionState &transition);
    void setOnCompleted(std::function<void()> completed) { m_onCompleted = std::move(completed); }
    // Tests shorten the turn.
    void setTurnDuration(int milliseconds) { m_duration = milliseconds; }

    const std::optional<TransitionID> &activeTransitionID() const { return m_activeTransitionID; }
    // The two leaves in page order, earlier leaf first.
    const QList<PageDescriptor> &arrangedObjects() const { return m_arranged; }
    int selectedIndex() const { return m_selectedIndex; }
    // The selection as the newest turn moves it, from the source's place to the target's.
    double animatedIndex() const { return m_animatedIndex; }
    bool isAnimating() const { return m_running > 0; }

Q_SIGNALS:
    // The leaves were arranged for a new turn.
    void turnPrepared();
    void frameChanged(double animatedIndex);

private:
    void startAnimation(quint64 turn, int targetIndex);

    std::function<void()> m_onCompleted;
    std::optional<TransitionID> m_activeTransitionID;
    QList<PageDescriptor> m_arranged;
    int m_selectedIndex = 0;
    double m_animatedIndex = 0;
    int m_duration = turnMilliseconds;
    int m_running = 0;
    quint64 m_turn = 0;
};

// The book-like easing of the turn: the standard ease-in-ease-out curve.
QEasingCurve pageTurnEasing();

} // namespace velmora
