#pragma once

#include "pagescreen/VuzIvoduPageView.h"

#include <QPixmap>
#include <QPointer>
#include <QWidget>

class QVariantAnimation;

namespace velmora {

// Brings a floating widget (the saved note, the seal card) in and out with a fade combined with
// a scale about its centre, or lets a picture of the leaf that was shown fade away over the new
// one. While it moves, the widget itself stays hidden and this layer, lying exactly over it,
// paints one cached picture of it per frame.
class PageOverlayMotion : public QWidget {
    Q_OBJECT

public:
    // `target` may be null for a layer that only fades pictures out.
    PageOverlayMotion(QWidget *target, QWidget *parent);

    // The scale the widget comes from and goes to.
    void setHiddenScale(double scale) { m_hiddenScale = scale; }
    // Where it comes from and goes to, from its place: a slide in from an edge.
    void setHiddenOffset(QPointF offset) { m_hiddenOffset = offset; }
    // Shows or hides the target; a change while moving turns back from where it is.
    void setShown(bool shown, const VuzIvoduPageAnimation &animation);
    // Lays the picture over the layer's rectangle and fades it out.
    void fadeOut(const QPixmap &picture, const VuzIvoduPageAnimation &animation);

    bool isMoving() const;
    // 0 hidden, 1 shown (a spring overshoots a little).
    double progress() const { return m_progress; }
    // For tests and screens: the animation that is running, to pause it where they look.
    QVariantAnimation *animation() const { return m_animation; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void run(double to, const VuzIvoduPageAnimation &animation);
    void finish();

    QPointer<QWidget> m_target;
    QVariantAnimation *m_animation;
    VuzIvoduPageAnimation m_curve;
    QPixmap m_picture;
    double m_hiddenScale = 1;
    QPointF m_hiddenOffset;
    double m_from = 0;
    double m_to = 0;
    double m_progress = 0;
};

} // namespace velmora
