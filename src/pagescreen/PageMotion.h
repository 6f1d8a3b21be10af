#pragma once

#include "pages/PageTransitionState.h"
#include "pagescreen/VuzIvoduPageAnimation.h"

#include <QString>

namespace velmora {

// How the open book moves: page turns are physical unless reduced motion is asked for, by the
// desktop or by the launch flag, when they cross-fade; every animation is stretched by the
// timings' scale.
class PageMotion {
public:
    static inline const QString reduceMotionArgument = QStringLiteral("--velmora-reduce-motion");

    explicit PageMotion(double animationScale)
        : m_animationScale(animationScale) {}

    void setSystemReduceMotion(bool reduce) { m_systemReduceMotion = reduce; }
    bool systemReduceMotion() const { return m_systemReduceMotion; }
    // The launch flag is read afresh each time.
    bool isReducedMotion() const;
    PageTransitionMode mode() const;

    VuzIvoduPageAnimation animation(VuzIvoduPageAnimation::Curve curve, double seconds) const {
        return VuzIvoduPageAnimation::eased(curve, seconds, m_animationScale);
    }
    VuzIvoduPageAnimation spring(double response, double dampingFraction) const {
        return VuzIvoduPageAnimation::spring(response, dampingFraction, m_animationScale);
    }

private:
    double m_animationScale;
    bool m_systemReduceMotion = false;
};

} // namespace velmora
