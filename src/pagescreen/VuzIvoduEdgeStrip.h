#pragma once

#include "pages/PageTransitionState.h"

#include <QElapsedTimer>
#include <QWidget>

namespace velmora {

class VuzIvoduPageView;

// A clear strip at a page edge that turns the drag on it into the page's edge drag: the travel
// since the press and, from the last movement's speed, where the pointer would come to rest. Both
// in the page's points, whatever the scale the book is shown at.
class VuzIvoduEdgeStrip : public QWidget {
public:
    VuzIvoduEdgeStrip(PageTurnDirection direction, VuzIvoduPageView &page, QWidget *parent);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    double predicted(double translation) const;

    PageTurnDirection m_direction;
    VuzIvoduPageView &m_page;
    QElapsedTimer m_clock;
    double m_pressX = 0;
    double m_lastX = 0;
    double m_velocity = 0;
    bool m_dragging = false;
};

} // namespace velmora
