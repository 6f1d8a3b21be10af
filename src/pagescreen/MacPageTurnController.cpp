#include "pagescreen/MacPageTurnController.h"

#include <QPointF>
#include <QTimer>

namespace velmora {

QEasingCurve pageTurnEasing() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

MacPageTurnController::MacPageTurnController(QObject *parent)
    : QObject(parent) {}

void MacPageTurnController::update(const PageTransitionState &transition) {
    if (transition.phase != PageTransitionPhase::animating ||
        transition.mode != PageTransitionMode::physical || !transition.source ||
        !transition.target || !transition.direction)
        return;
    const TransitionID identity{transition.source->id, transition.target->id,
                                *transition.direction};
    if (m_activeTransitionID == identity)
        return;
    m_activeTransitionID = identity;

    const bool forward = *transition.direction == PageTurnDirection::forward;
    m_arranged = forward ? QList<PageDescriptor>{*transition.source, *transition.target}
                         : QList<PageDescriptor>{*transition.target, *transition.source};
    m_selectedIndex = forward ? 0 : 1;
    m_animatedIndex = m_selectedIndex;
    Q_EMIT turnPrepared();
    Q_EMIT frameChanged(m_animatedIndex);

    const quint64 turn = ++m_turn;
    const int targetIndex = forward ? 1 : 0;
    // The turn starts once the current update is over, as the leaves are shown first.
    QTimer::singleShot(0, this, [this, turn, targetIndex] { startAnimation(turn, targetIndex); });
}

void MacPageTurnController::startAnimation(quint64 turn, int targetIndex) {
    auto *animation = new QVariantAnimation(this);
    animation->setDuration(m_duration);
    animation->setEasingCurve(pageTurnEasing());
    animation->setStartValue(double(m_selectedIndex));
    animation->setEndValue(double(targetIndex));
    ++m_running;
    // Only the newest turn moves the pages; an older one still runs out and reports its end.
    connect(animation, &QVariantAnimation::valueChanged, this, [this, turn](const QVariant &value) {
        if (turn != m_turn)
            return;
        m_animatedIndex = value.toDouble();
        Q_EMIT frameChanged(m_animatedIndex);
    });
    connect(animation, &QVariantAnimation::finished, this, [this, turn, targetIndex] {
        --m_running;
        if (turn == m_turn)
            m_selectedIndex = targetIndex;
        QTimer::singleShot(0, this, [this] {
            if (m_onCompleted)
                m_onCompleted();
        });
    });
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

} // namespace velmora
