#include "pagescreen/VuzIvoduPageAnimation.h"

#include "book/DiaryCoverTransition.h"

#include <QEasingCurve>
#include <QtGlobal>

#include <algorithm>

namespace velmora {

VuzIvoduPageAnimation VuzIvoduPageAnimation::eased(Curve curve, double seconds, double scale) {
    VuzIvoduPageAnimation animation;
    animation.curve = curve;
    animation.duration = std::chrono::milliseconds(qRound64(seconds * scale * 1000));
    return animation;
}

VuzIvoduPageAnimation VuzIvoduPageAnimation::spring(double response, double dampingFraction,
                                                    double scale) {
    const double settled = DiaryCoverCurve::spring(response, dampingFraction).settled();
    VuzIvoduPageAnimation animation = eased(Curve::spring, settled, scale);
    animation.response = response;
    animation.dampingFraction = dampingFraction;
    return animation;
}

double VuzIvoduPageAnimation::progress(double share) const {
    share = std::clamp(share, 0.0, 1.0);
    if (curve == Curve::none || share >= 1)
        return 1;
    if (curve == Curve::spring) {
        const DiaryCoverCurve spring = DiaryCoverCurve::spring(response, dampingFraction);
        return spring.value(share * spring.settled());
    }
    // The standard timing curves as cubic Béziers.
    const QPointF in = curve == Curve::easeOut ? QPointF(0, 0) : QPointF(0.42, 0);
    const QPointF out = curve == Curve::easeIn ? QPointF(1, 1) : QPointF(0.58, 1);
    QEasingCurve easing(QEasingCurve::BezierSpline);
    easing.addCubicBezierSegment(in, out, QPointF(1, 1));
    return easing.valueForProgress(share);
}

} // namespace velmora
