#include "book/DiaryCoverTransition.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace velmora {

namespace {
// A spring is logically complete once it stays within this share of its travel.
constexpr double logicalTolerance = 0.01;
constexpr double settledTolerance = 0.001;
} // namespace

DiaryCoverCurve DiaryCoverCurve::spring(double response, double dampingFraction) {
    DiaryCoverCurve curve;
    curve.m_isSpring = true;
    const double natural = 2 * std::numbers::pi / response;
    const double damping = std::clamp(dampingFraction, 0.01, 0.999);
    curve.m_decay = damping * natural;
    curve.m_frequency = natural * std::sqrt(1 - damping * damping);
    // The displacement never exceeds this envelope from rest at 0.
    const double amplitude = std::hypot(1.0, curve.m_decay / curve.m_frequency);
    curve.m_logicalCompletion = std::log(amplitude / logicalTolerance) / curve.m_decay;
    curve.m_settled = std::log(amplitude / settledTolerance) / curve.m_decay;
    return curve;
}

DiaryCoverCurve DiaryCoverCurve::easeInOut(double duration) {
    DiaryCoverCurve curve;
    curve.m_duration = duration;
    curve.m_logicalCompletion = duration;
    curve.m_settled = duration;
    return curve;
}

double DiaryCoverCurve::value(double seconds) const {
    if (seconds <= 0)
        return 0;
    if (seconds >= m_settled)
        return 1;
    if (m_isSpring) {
        const double t = seconds;
        return 1 - std::exp(-m_decay * t) * (std::cos(m_frequency * t) +
                                             m_decay / m_frequency * std::sin(m_frequency * t));
    }
    // The cubic Bézier (0.42, 0) (0.58, 1): solve x(s) = t, answer y(s).
    const double x = seconds / m_duration;
    const auto bezier = [](double a, double b, double s) {
        return 3 * a * (1 - s) * (1 - s) * s + 3 * b * (1 - s) * s * s + s * s * s;
    };
    double low = 0, high = 1, s = x;
    for (int i = 0; i < 40; ++i) {
        s = (low + high) / 2;
        if (bezier(0.42, 0.58, s) < x)
            low = s;
        else
            high = s;
    }
    return bezier(0, 1, s);
}

CoverSwingLook coverSwing(double p) {
    CoverSwingLook look;
    look.angleDegrees = p * -115;
    look.opacity = p < 0.5 ? 1.0 : std::max(0.0, (p - 0.5) / -0.3 + 1);
    look.shadowColor = QColor(0, 0, 0);
    look.shadowColor.setAlphaF(float(std::clamp(0.45 - 0.3 * p, 0.0, 1.0)));
    look.shadowRadius = 18 + 10 * p;
    look.shadowOffset = QPointF(4 + 18 * p, 10);
    return look;
}

double diaryReveal(double p) {
    return std::clamp((p - 0.15) / 0.35, 0.0, 1.0);
}

DiaryCoverTransition::DiaryCoverTransition(QObject *parent, std::function<double()> now)
    : QObject(parent)
    , m_now(std::move(now)) {
    if (!m_now) {
        m_clock.start();
        m_now = [this] { return double(m_clock.nsecsElapsed()) / 1e9; };
    }
    m_timer.setInterval(16);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &DiaryCoverTransition::step);
}

void DiaryCoverTransition::openDiary() {
    if (m_isAnimating || m_showDiary)
        return;
    m_phase = Phase::opening;
    start(1);
}

void DiaryCoverTransition::closeDiary() {
    if (!m_showDiary && !m_isAnimating)
        return;
    if (m_isAnimating && m_phase == Phase::closing)
        return;
    m_showDiary = false;
    if (m_progress <= 0) {
        m_phase = Phase::closed;
        Q_EMIT phaseChanged(m_phase);
        return;
    }
    m_phase = Phase::closing;
    start(0);
}

void DiaryCoverTransition::start(double target) {
    // The book closes inside the page's own 0.75 s ease in and out; the cover opens on a spring.
    if (m_reduceMotion)
        m_curve = DiaryCoverCurve::easeInOut();
    else
        m_curve = target > 0 ? DiaryCoverCurve::spring() : DiaryCoverCurve::easeInOut(0.75);
    m_isAnimating = true;
    m_from = m_progress;
    m_to = target;
    m_startedAt = m_now();
    m_timer.start();
    Q_EMIT phaseChanged(m_phase);
}

void DiaryCoverTransition::step() {
    if (!m_timer.isActive())
        return;
    const double elapsed = m_now() - m_startedAt;
    m_progress = m_from + (m_to - m_from) * m_curve.value(elapsed);
    if (elapsed >= m_curve.settled()) {
        m_progress = m_to;
        m_timer.stop();
    }
    Q_EMIT progressChanged(m_progress);
    if (m_isAnimating && elapsed >= m_curve.logicalCompletion())
        complete();
}

void DiaryCoverTransition::complete() {
    m_isAnimating = false;
    if (m_phase == Phase::opening) {
        m_showDiary = true;
        m_phase = Phase::open;
    } else {
        m_phase = Phase::closed;
    }
    Q_EMIT phaseChanged(m_phase);
}

} // namespace velmora
