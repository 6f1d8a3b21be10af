#pragma once

#include <QByteArray>
#include <QColor>
#include <QList>
#include <QRectF>
#include <QString>
#include <QTransform>

#include <optional>

namespace velmora {

// One sample of a stroke, in points; force scales the stroke's width at that sample.
struct InkPoint {
    double x = 0;
    double y = 0;
    double force = 1;

    friend bool operator==(const InkPoint &, const InkPoint &) = default;
};

struct InkStroke {
    QColor color;
    double width = 1;
    QList<InkPoint> points;

    friend bool operator==(const InkStroke &, const InkStroke &) = default;
};

// The handwriting of one leaf, as a drawing file holds it:
//   {"format":"velmora-drawing","version":1,
//    "strokes":[{"color":"#RRGGBBAA","width":W,"points":[[x,y,force],…]}]}
class InkDrawing {
public:
    // What a drawing file may hold; anything beyond is refused whole rather than drawn, so a
    // hostile file can neither exhaust memory nor ask for a bitmap the size of a city.
    static constexpr qint64 maximumFileSize = 64 * 1024 * 1024;
    static constexpr double maximumCoordinate = 100000;
    static constexpr double maximumWidth = 100;
    static constexpr qsizetype maximumStrokeCount = 10000;
    static constexpr qsizetype maximumPointCount = 1000000;

    InkDrawing() = default;
    explicit InkDrawing(QList<InkStroke> strokes)
        : m_strokes(std::move(strokes)) {}

    // None for bytes that are not a drawing file of this format and version, or that break one
    // of the limits above; `whyRefused` then says why, for the log.
    static std::optional<InkDrawing> decode(const QByteArray &bytes, QString *whyRefused = nullptr);
    QByteArray encode() const;

    // The bytes of a drawing file. None when it cannot be read, is larger than a drawing may be
    // or is no regular file (a link, a pipe); the reason is logged.
    static std::optional<QByteArray> readFile(const QString &path);

    const QList<InkStroke> &strokes() const { return m_strokes; }
    qsizetype strokeCount() const { return m_strokes.size(); }

    // The area the ink covers: every point grown by half its drawn width. Null when there is
    // no point at all.
    QRectF bounds() const;

    // A copy with every point mapped by the transform and widths scaled with it.
    InkDrawing transformed(const QTransform &transform) const;

    friend bool operator==(const InkDrawing &, const InkDrawing &) = default;

private:
    QList<InkStroke> m_strokes;
};

// The width a stroke of the given width is drawn with at a sample of the given force.
inline double inkDrawnWidth(double width, double force) {
    return force > 0 ? width * force : 0;
}

} // namespace velmora
