#pragma once

#include <QColor>
#include <QImage>
#include <QPainterPath>
#include <QPointF>

class QPainter;

namespace velmora {

// A shape filled with a colour and blurred as a Gaussian of the given radius (twice its standard
// deviation), and the rectangle in the shape's points that the image covers. Large radii are
// blurred at a lower resolution, which the blur hides.
struct BlurredShape {
    QImage image;
    QRectF rect;
};

BlurredShape blurredShape(const QPainterPath &shape, const QColor &color, double radius,
                          qreal devicePixelRatio);

// The soft shadow a floating shape casts: its colour, blur radius and offset. The blurred image
// is kept while the shape and the device's pixel ratio stay the same, so animations only blit.
class DiarySoftShadow {
public:
    DiarySoftShadow(const QColor &color, double radius, QPointF offset)
        : m_color(color)
        , m_radius(radius)
        , m_offset(offset) {}

    // How far the shadow can reach beyond the shape on any side.
    double reach() const;

    void paint(QPainter &painter, const QPainterPath &shape);

private:
    QColor m_color;
    double m_radius;
    QPointF m_offset;
    QPainterPath m_shape;
    qreal m_devicePixelRatio = 0;
    BlurredShape m_blurred;
};

} // namespace velmora
