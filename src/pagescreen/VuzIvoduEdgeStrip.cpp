#include "pagescreen/VuzIvoduEdgeStrip.h"

#include "pagescreen/VuzIvoduPageView.h"

#include <QMouseEvent>

#include <algorithm>
#include <cmath>

namespace velmora {

VuzIvoduEdgeStrip::VuzIvoduEdgeStrip(PageTurnDirection direction, VuzIvoduPageView &page,
                                     QWidget *parent)
    : QWidget(parent)
    , m_direction(direction)
    , m_page(page) {
    setCursor(Qt::OpenHandCursor);
}

void VuzIvoduEdgeStrip::mousePressEvent(QMouseEvent *event) {
    m_pressX = event->position().x();
    m_lastX = m_pressX;
    m_velocity = 0;
    m_dragging = false;
    m_clock.start();
}

void VuzIvoduEdgeStrip::mouseMoveEvent(QMouseEvent *event) {
    const double x = event->position().x();
    const double seconds = std::max(m_clock.restart(), qint64(1)) / 1000.0;
    m_velocity = (x - m_lastX) / seconds;
    m_lastX = x;
    const double translation = x - m_pressX;
    if (!m_dragging && std::abs(translation) < VuzIvoduPageView::edgeDragMinimumDistance)
        return;
    m_dragging = true;
    m_page.edgeDragChanged(translation, predicted(translation), m_direction);
}

void VuzIvoduEdgeStrip::mouseReleaseEvent(QMouseEvent *event) {
    if (!m_dragging)
        return;
    m_dragging = false;
    m_page.edgeDragEnded(predicted(event->position().x() - m_pressX));
}

double VuzIvoduEdgeStrip::predicted(double translation) const {
    return translation + m_velocity * VuzIvoduPageView::edgeDragDecelerationSeconds;
}

} // namespace velmora
