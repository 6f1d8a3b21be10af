#include "pagescreen/PageMotion.h"

#include <QCoreApplication>

namespace velmora {

bool PageMotion::isReducedMotion() const {
    return m_systemReduceMotion || QCoreApplication::arguments().contains(reduceMotionArgument);
}

PageTransitionMode PageMotion::mode() const {
    return isReducedMotion() ? PageTransitionMode::crossFade : PageTransitionMode::physical;
}

} // namespace velmora
