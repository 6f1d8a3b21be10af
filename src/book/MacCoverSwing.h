#pragma once

#include <QImage>
#include <QPixmap>
#include <QPolygonF>
#include <QRectF>

class QPainter;

namespace velmora {

// Where the cover's corners fall when it is turned by `angleDegrees` about its leading (left)
// edge and seen in perspective: the eye stands max(width, height) ÷ perspective in front of it.
QPolygonF coverSwingQuad(const QRectF &cover, double angleDegrees, double perspective = 0.4);

// One frame of the cover swing: the pages fading in and the cover turning over them,
// from pixmaps made once per transition. `cover` is where the closed cover lies, and where the
// open book (`bookImage`, however dense) is drawn.
void paintCoverSwing(QPainter &painter, const QRectF &cover, double progress,
                     const QPixmap &coverImage, const QPixmap &bookImage, const QImage &coverShadow,
                     const QRectF &coverShadowRect);

// The blurred shadow the swinging cover casts, made once for a cover size.
struct CoverShadowImage {
    QImage image;
    QRectF rect;
};
CoverShadowImage makeCoverShadow(const QRectF &cover, qreal devicePixelRatio);

} // namespace velmora
