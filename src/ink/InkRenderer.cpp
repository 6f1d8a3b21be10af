#include "ink/InkRenderer.h"

#include <QPainter>
#include <QPen>
#include <QPolygonF>

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

QPen inkPen(const InkStroke &stroke, double drawnWidth) {
    return QPen(stroke.color, drawnWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

void drawStroke(QPainter &painter, const InkStroke &stroke) {
    const QList<InkPoint> &points = stroke.points;
    if (points.isEmpty())
        return;
    if (points.size() == 1) {
        const double drawnWidth = inkDrawnWidth(stroke.width, points.first().force);
        if (drawnWidth <= 0)
            return;
        painter.setPen(inkPen(stroke, drawnWidth));
        painter.drawPoint(QPointF(points.first().x, points.first().y));
        return;
    }
    const bool evenForce = std::all_of(points.cbegin(), points.cend(), [&](const InkPoint &p) {
        return p.force == points.first().force;
    });
    if (evenForce) {
        // One polyline joins its segments smoothly and is far cheaper than single lines.
        const double drawnWidth = inkDrawnWidth(stroke.width, points.first().force);
        if (drawnWidth <= 0)
            return;
        QPolygonF line;
        line.reserve(points.size());
        for (const InkPoint &point : points)
            line.append(QPointF(point.x, point.y));
        painter.setPen(inkPen(stroke, drawnWidth));
        painter.drawPolyline(line);
        return;
    }
    // Pressure changes the width along the stroke: each segment takes the mean of its ends,
    // and the round caps close the joints.
    for (qsizetype i = 1; i < points.size(); ++i) {
        const InkPoint &from = points.at(i - 1);
        const InkPoint &to = points.at(i);
        const double drawnWidth = inkDrawnWidth(stroke.width, (from.force + to.force) / 2);
        if (drawnWidth <= 0)
            continue;
        painter.setPen(inkPen(stroke, drawnWidth));
        painter.drawLine(QPointF(from.x, from.y), QPointF(to.x, to.y));
    }
}

} // namespace

void drawInk(QPainter &painter, const InkDrawing &drawing) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    for (const InkStroke &stroke : drawing.strokes())
        drawStroke(painter, stroke);
    painter.restore();
}

std::optional<QImage> renderInkImage(const InkDrawing &drawing, const QRectF &area, double scale,
                                     const QColor &background) {
    if (!std::isfinite(area.x()) || !std::isfinite(area.y()) || !std::isfinite(area.width()) ||
        !std::isfinite(area.height()) || !std::isfinite(scale) || scale <= 0 || area.width() <= 0 ||
        area.height() <= 0) {
        return std::nullopt;
    }
    const double longest = std::max(area.width(), area.height());
    const double pixelScale = std::min(scale, maximumInkImageSide / longest);
    const auto pixels = [&](double length) {
        return int(std::clamp(std::ceil(length * pixelScale), 1.0, double(maximumInkImageSide)));
    };
    QImage image(pixels(area.width()), pixels(area.height()),
                 background.alpha() == 255 ? QImage::Format_RGB32
                                           : QImage::Format_ARGB32_Premultiplied);
    if (image.isNull())
        return std::nullopt;
    image.fill(background);
    {
        QPainter painter(&image);
        painter.scale(pixelScale, pixelScale);
        painter.translate(-area.topLeft());
        drawInk(painter, drawing);
    }
    image.setDevicePixelRatio(pixelScale);
    return image;
}

} // namespace velmora
