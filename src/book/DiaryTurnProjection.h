#pragma once

#include <QColor>
#include <QImage>
#include <QPixmap>
#include <QPointF>
#include <QPolygonF>
#include <QRectF>
#include <QTransform>

class QPainter;

namespace velmora {

// A flat sheet turned by `radians` about the vertical line x = axisX and seen in perspective by
// an eye `eyeDistance` in front of it, level with y = horizonY. A positive angle brings the
// side right of the axis towards the eye.
struct DiaryTurnProjection {
    double axisX = 0;
    double horizonY = 0;
    double radians = 0;
    double eyeDistance = 1;

    QPointF map(const QPointF &point) const;
    QPolygonF map(const QRectF &rect) const;
    // The same projection as a transform for a painter or for geometry.
    QTransform transform() const;
};

// A picture lying over `rect` on the turned sheet, moved on the screen by `offset` after the
// projection, at an opacity.
struct DiaryTurnedPicture {
    QImage image;
    QRectF rect;
    QPointF offset;
    double opacity = 1;
};

// A shadow on the screen itself: a convex outline filled, and a band `edgeWidth` wide centred
// on the outline with round corners laid over the fill, both in `color`.
struct DiaryOutlineShadow {
    QPolygonF outline;
    double edgeWidth = 0;
    QColor color;
};

// Paints `picture` turned by `projection`, with `beneath` (a shadow, say) under it,
// `outlineShadow` under both and `ground` lying flat, not turned, under everything (the leaf a
// turn uncovers). Every pixel of the target is sampled once, straight from the pictures, with
// smooth filtering and soft edges, and what lies beneath only where it shows through what lies
// above; no picture is converted or copied. A painter that rotates or shears falls back to its
// own drawing.
void paintTurnedPictures(QPainter &painter, const DiaryTurnProjection &projection,
                         const DiaryTurnedPicture &picture,
                         const DiaryTurnedPicture *beneath = nullptr,
                         const DiaryOutlineShadow *outlineShadow = nullptr,
                         const DiaryTurnedPicture *ground = nullptr);

// The instructions turned pictures are sampled with: the widest this processor has, or a
// narrower build, so that tests check on one machine the pixels every machine paints. Applies to
// the frames that start afterwards.
enum class DiarySampling { widest, sse2, plain };
void setDiarySampling(DiarySampling sampling);

// Draws a cached picture flat over `rect`. Where the picture lands pixel for pixel it is drawn in
// bands of rows, which the painter blits on this thread: for a whole window of rows it wakes
// helper threads, whose start costs more than the copy on a busy machine.
void paintFlatPicture(QPainter &painter, const QRectF &rect, const QPixmap &picture);

} // namespace velmora
