#pragma once

// Drawings made for tests of handwriting: header-only, for tests that link the ink library.

#include "ink/InkDrawing.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStringList>
#include <QtTest/QTest>

#include <cmath>

namespace velmora::test {

inline InkStroke inkLine(const QList<QPointF> &points, double width = 2, double force = 1,
                         QColor color = QColor(20, 20, 40)) {
    InkStroke stroke;
    stroke.color = color;
    stroke.width = width;
    for (const QPointF &point : points)
        stroke.points.append(InkPoint{point.x(), point.y(), force});
    return stroke;
}

// Lines of text as a hand would write them: each glyph's outline traced, and its inside
// hatched with close horizontal strokes. The first line's baseline is at `origin`.
inline InkDrawing handwrittenText(const QStringList &lines, QPointF origin = {40, 60},
                                  double pointSize = 28) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(pointSize);
    QPainterPath path;
    for (qsizetype i = 0; i < lines.size(); ++i)
        path.addText(origin + QPointF(0, double(i) * pointSize * 1.8), font, lines.at(i));

    QList<InkStroke> strokes;
    for (const QPolygonF &outline : path.toSubpathPolygons())
        strokes.append(inkLine(QList<QPointF>(outline.cbegin(), outline.cend()), 1.2));

    // The hatching: find the runs inside the glyphs on rows half a point apart.
    constexpr double pixelsPerPoint = 4;
    const QRectF area = path.boundingRect().adjusted(-2, -2, 2, 2);
    QImage mask(int(std::ceil(area.width() * pixelsPerPoint)),
                int(std::ceil(area.height() * pixelsPerPoint)), QImage::Format_ARGB32);
    mask.fill(Qt::transparent);
    {
        QPainter painter(&mask);
        painter.scale(pixelsPerPoint, pixelsPerPoint);
        painter.translate(-area.topLeft());
        painter.fillPath(path, Qt::black);
    }
    for (double y = area.top(); y < area.bottom(); y += 0.5) {
        const int row = int((y - area.top()) * pixelsPerPoint);
        if (row >= mask.height())
            break;
        const auto *pixels = reinterpret_cast<const QRgb *>(mask.constScanLine(row));
        int start = -1;
        for (int x = 0; x <= mask.width(); ++x) {
            const bool inside = x < mask.width() && qAlpha(pixels[x]) > 128;
            if (inside && start < 0) {
                start = x;
            } else if (!inside && start >= 0) {
                const double from = area.left() + start / pixelsPerPoint;
                const double to = area.left() + (x - 1) / pixelsPerPoint;
                strokes.append(inkLine({{from, y}, {to, y}}, 1.0));
                start = -1;
            }
        }
    }
    return InkDrawing(strokes);
}

// Circles, a square and a wave: ink with nothing to read.
inline InkDrawing drawnShapes() {
    QList<InkStroke> strokes;
    for (int circle = 0; circle < 3; ++circle) {
        QList<QPointF> points;
        const QPointF centre(80 + circle * 120, 120);
        for (int step = 0; step <= 64; ++step) {
            const double angle = step * 2 * M_PI / 64;
            points.append(centre + QPointF(std::cos(angle), std::sin(angle)) * (30 + circle * 8));
        }
        strokes.append(inkLine(points, 3));
    }
    strokes.append(inkLine({{60, 220}, {200, 220}, {200, 330}, {60, 330}, {60, 220}}, 3));
    QList<QPointF> wave;
    for (int step = 0; step <= 100; ++step)
        wave.append(QPointF(240 + step * 3, 280 + 30 * std::sin(step / 6.0)));
    strokes.append(inkLine(wave, 3));
    return InkDrawing(strokes);
}

} // namespace velmora::test
