#include "book/DiaryGlyphs.h"

#include <QHash>
#include <QPainter>
#include <QPainterPathStroker>
#include <QtMath>

#include <cmath>
#include <utility>

namespace velmora {

namespace {

// Symbols are designed on a grid of 100 units, a glyph's height beside text of 100 points
// being about 90 units.
constexpr double designUnitsPerPoint = 0.9;
constexpr double baseStroke = 9.0;

double weightFactor(DiaryGlyphWeight weight) {
    switch (weight) {
    case DiaryGlyphWeight::light:
        return 0.72;
    case DiaryGlyphWeight::regular:
        return 1.0;
    case DiaryGlyphWeight::medium:
        return 1.14;
    case DiaryGlyphWeight::semibold:
        return 1.3;
    case DiaryGlyphWeight::bold:
        return 1.5;
    }
    return 1.0;
}

class GlyphDesign {
public:
    explicit GlyphDesign(double weight)
        : m_weight(weight) {}

    void fill(const QPainterPath &path) { m_outline = m_outline.united(path); }
    void stroke(const QPainterPath &path, double widthFactor = 1.0) {
        QPainterPathStroker stroker;
        stroker.setWidth(baseStroke * m_weight * widthFactor);
        stroker.setCapStyle(Qt::RoundCap);
        stroker.setJoinStyle(Qt::RoundJoin);
        m_outline = m_outline.united(stroker.createStroke(path));
    }
    void cut(const QPainterPath &path) { m_outline = m_outline.subtracted(path); }
    QPainterPath outline() const { return m_outline.simplified(); }

private:
    double m_weight;
    QPainterPath m_outline;
};

QPainterPath polyline(std::initializer_list<QPointF> points) {
    QPainterPath path;
    bool first = true;
    for (const QPointF &point : points) {
        if (first)
            path.moveTo(point);
        else
            path.lineTo(point);
        first = false;
    }
    return path;
}

QPainterPath scallopedCircle() {
    QPainterPath path;
    constexpr int samples = 240;
    for (int i = 0; i <= samples; ++i) {
        const double angle = 2 * M_PI * i / samples;
        const double radius = 43 + 3.5 * std::cos(12 * angle);
        const QPointF point(50 + radius * std::cos(angle), 50 + radius * std::sin(angle));
        if (i == 0)
            path.moveTo(point);
        else
            path.lineTo(point);
    }
    path.closeSubpath();
    return path;
}

QPainterPath gearOutline() {
    QPainterPath path;
    constexpr int teeth = 8;
    constexpr double outer = 46;
    constexpr double inner = 36;
    for (int i = 0; i < teeth; ++i) {
        const double centre = 2 * M_PI * i / teeth;
        const double points[4][2] = {{centre - qDegreesToRadians(15.0), inner},
                                     {centre - qDegreesToRadians(8.0), outer},
                                     {centre + qDegreesToRadians(8.0), outer},
                                     {centre + qDegreesToRadians(15.0), inner}};
        for (const auto &[angle, radius] : points) {
            const QPointF point(50 + radius * std::cos(angle), 50 + radius * std::sin(angle));
            if (path.elementCount() == 0)
                path.moveTo(point);
            else
                path.lineTo(point);
        }
    }
    path.closeSubpath();
    return path;
}

QPainterPath designOutline(DiaryGlyphSymbol symbol, DiaryGlyphWeight weight) {
    GlyphDesign design(weightFactor(weight));
    switch (symbol) {
    case DiaryGlyphSymbol::exclamationmarkTriangleFill: {
        const QPainterPath triangle = polyline({{55, 6}, {104, 92}, {6, 92}, {55, 6}});
        QPainterPath body = triangle;
        body.closeSubpath();
        design.fill(body);
        design.stroke(triangle, 1.4);
        QPainterPath mark;
        mark.addRoundedRect(QRectF(50, 34, 10, 34), 5, 5);
        mark.addEllipse(QPointF(55, 79), 6, 6);
        design.cut(mark);
        break;
    }
    case DiaryGlyphSymbol::lockFill: {
        QPainterPath body;
        body.addRoundedRect(QRectF(8, 44, 74, 54), 10, 10);
        design.fill(body);
        QPainterPath shackle;
        shackle.moveTo(22, 46);
        shackle.lineTo(22, 30);
        shackle.arcTo(QRectF(22, 7, 46, 46), 180, -180);
        shackle.lineTo(68, 46);
        design.stroke(shackle, 1.1);
        break;
    }
    case DiaryGlyphSymbol::checkmark:
        design.stroke(polyline({{8, 52}, {36, 84}, {92, 14}}));
        break;
    case DiaryGlyphSymbol::seal:
        design.stroke(scallopedCircle());
        break;
    case DiaryGlyphSymbol::sealFill:
        design.fill(scallopedCircle());
        design.stroke(scallopedCircle());
        break;
    case DiaryGlyphSymbol::book: {
        QPainterPath pages;
        pages.moveTo(50, 22);
        pages.cubicTo(38, 12, 18, 10, 4, 14);
        pages.lineTo(4, 86);
        pages.cubicTo(18, 82, 38, 84, 50, 94);
        pages.cubicTo(62, 84, 82, 82, 96, 86);
        pages.lineTo(96, 14);
        pages.cubicTo(82, 10, 62, 12, 50, 22);
        pages.lineTo(50, 94);
        design.stroke(pages);
        break;
    }
    case DiaryGlyphSymbol::diamondFill:
        design.fill(polyline({{35, 0}, {70, 50}, {35, 100}, {0, 50}, {35, 0}}));
        break;
    case DiaryGlyphSymbol::magnifyingglass: {
        QPainterPath lens;
        lens.addEllipse(QPointF(40, 40), 30, 30);
        design.stroke(lens);
        design.stroke(polyline({{63, 63}, {92, 92}}), 1.5);
        break;
    }
    case DiaryGlyphSymbol::calendar: {
        QPainterPath frame;
        frame.addRoundedRect(QRectF(6, 12, 88, 80), 12, 12);
        design.stroke(frame);
        QPainterPath band;
        band.addRoundedRect(QRectF(6, 12, 88, 24), 12, 12);
        band.addRect(QRectF(6, 24, 88, 12));
        design.fill(band);
        QPainterPath days;
        for (const double y : {50.0, 68.0})
            for (const double x : {24.0, 46.0, 68.0})
                days.addRoundedRect(QRectF(x, y, 9, 9), 2, 2);
        design.fill(days);
        break;
    }
    case DiaryGlyphSymbol::gearshape: {
        design.stroke(gearOutline());
        QPainterPath hub;
        hub.addEllipse(QPointF(50, 50), 14, 14);
        design.stroke(hub);
        break;
    }
    case DiaryGlyphSymbol::xmark:
        design.stroke(polyline({{15, 15}, {85, 85}}));
        design.stroke(polyline({{85, 15}, {15, 85}}));
        break;
    case DiaryGlyphSymbol::chevronLeft:
        design.stroke(polyline({{62, 8}, {24, 50}, {62, 92}}), 1.1);
        break;
    case DiaryGlyphSymbol::chevronRight:
        design.stroke(polyline({{38, 8}, {76, 50}, {38, 92}}), 1.1);
        break;
    case DiaryGlyphSymbol::chevronDown:
        design.stroke(polyline({{8, 34}, {50, 72}, {92, 34}}), 1.1);
        break;
    case DiaryGlyphSymbol::xmarkCircleFill: {
        QPainterPath disc;
        disc.addEllipse(QPointF(50, 50), 48, 48);
        design.fill(disc);
        QPainterPathStroker stroker;
        stroker.setWidth(baseStroke * weightFactor(weight));
        stroker.setCapStyle(Qt::RoundCap);
        QPainterPath cross = polyline({{32, 32}, {68, 68}});
        cross.addPath(polyline({{68, 32}, {32, 68}}));
        design.cut(stroker.createStroke(cross));
        break;
    }
    case DiaryGlyphSymbol::pencilAndScribble: {
        QPainterPath pencil = polyline({{34, 74}, {40, 56}, {78, 18}, {90, 30}, {52, 68}});
        pencil.closeSubpath();
        design.stroke(pencil);
        QPainterPath scribble(QPointF(6, 88));
        scribble.cubicTo(14, 70, 24, 72, 24, 86);
        scribble.cubicTo(24, 98, 40, 96, 46, 86);
        design.stroke(scribble);
        break;
    }
    case DiaryGlyphSymbol::bookClosedFill: {
        QPainterPath cover;
        cover.addRoundedRect(QRectF(14, 4, 72, 92), 8, 8);
        design.fill(cover);
        QPainterPath spine;
        spine.addRect(QRectF(24, 4, 4, 92));
        design.cut(spine);
        break;
    }
    case DiaryGlyphSymbol::key: {
        QPainterPath head;
        head.addEllipse(QPointF(26, 50), 18, 18);
        design.stroke(head);
        design.stroke(polyline({{44, 50}, {96, 50}}));
        design.stroke(polyline({{80, 50}, {80, 66}}));
        design.stroke(polyline({{93, 50}, {93, 62}}));
        break;
    }
    }
    return design.outline();
}

// Outlines are built once per symbol and weight; each thread keeps its own so painting never
// waits on a lock.
const QPainterPath &cachedOutline(DiaryGlyphSymbol symbol, DiaryGlyphWeight weight) {
    thread_local QHash<int, QPainterPath> cache;
    const int key = int(symbol) * 16 + int(weight);
    auto it = cache.find(key);
    if (it == cache.end())
        it = cache.insert(key, designOutline(symbol, weight));
    return *it;
}

} // namespace

std::optional<DiaryGlyph> DiaryGlyph::named(const QString &name, DiaryGlyphWeight weight) {
    static const QHash<QString, DiaryGlyphSymbol> symbols{
        {QStringLiteral("exclamationmark.triangle.fill"),
         DiaryGlyphSymbol::exclamationmarkTriangleFill},
        {QStringLiteral("lock.fill"), DiaryGlyphSymbol::lockFill},
        {QStringLiteral("checkmark"), DiaryGlyphSymbol::checkmark},
        {QStringLiteral("seal"), DiaryGlyphSymbol::seal},
        {QStringLiteral("seal.fill"), DiaryGlyphSymbol::sealFill},
        {QStringLiteral("book"), DiaryGlyphSymbol::book},
        {QStringLiteral("diamond.fill"), DiaryGlyphSymbol::diamondFill},
        {QStringLiteral("magnifyingglass"), DiaryGlyphSymbol::magnifyingglass},
        {QStringLiteral("calendar"), DiaryGlyphSymbol::calendar},
        {QStringLiteral("gearshape"), DiaryGlyphSymbol::gearshape},
        {QStringLiteral("xmark"), DiaryGlyphSymbol::xmark},
        {QStringLiteral("chevron.left"), DiaryGlyphSymbol::chevronLeft},
        {QStringLiteral("chevron.right"), DiaryGlyphSymbol::chevronRight},
        {QStringLiteral("key"), DiaryGlyphSymbol::key},
        {QStringLiteral("chevron.down"), DiaryGlyphSymbol::chevronDown},
        {QStringLiteral("xmark.circle.fill"), DiaryGlyphSymbol::xmarkCircleFill},
        {QStringLiteral("pencil.and.scribble"), DiaryGlyphSymbol::pencilAndScribble},
        {QStringLiteral("book.closed.fill"), DiaryGlyphSymbol::bookClosedFill},
        {QStringLiteral("touchid"), DiaryGlyphSymbol::key},
    };
    const auto it = symbols.constFind(name);
    if (it == symbols.constEnd())
        return std::nullopt;
    return DiaryGlyph(*it, weight);
}

QSizeF DiaryGlyph::sizeForPointSize(double pointSize) const {
    const QRectF bounds = cachedOutline(m_symbol, m_weight).boundingRect();
    const double scale = std::max(pointSize, 0.0) * designUnitsPerPoint / 100.0;
    return bounds.size() * scale;
}

QPainterPath DiaryGlyph::path(const QRectF &rect) const {
    const QPainterPath &outline = cachedOutline(m_symbol, m_weight);
    const QRectF bounds = outline.boundingRect();
    if (rect.isEmpty() || bounds.isEmpty())
        return {};
    const double scale = std::min(rect.width() / bounds.width(), rect.height() / bounds.height());
    QTransform transform;
    transform.translate(rect.center().x(), rect.center().y());
    transform.scale(scale, scale);
    transform.translate(-bounds.center().x(), -bounds.center().y());
    return transform.map(outline);
}

void DiaryGlyph::paint(QPainter &painter, const QRectF &rect, const QColor &color) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(path(rect));
    painter.restore();
}

DiaryGlyphView::DiaryGlyphView(DiaryGlyph glyph, double pointSize, const QColor &color,
                               QWidget *parent)
    : QWidget(parent)
    , m_glyph(glyph)
    , m_pointSize(pointSize)
    , m_color(color) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void DiaryGlyphView::setGlyph(DiaryGlyph glyph) {
    if (glyph == m_glyph)
        return;
    m_glyph = glyph;
    updateGeometry();
    update();
}

void DiaryGlyphView::setColor(const QColor &color) {
    m_color = color;
    update();
}

void DiaryGlyphView::setDrawScale(double scale) {
    m_drawScale = scale;
    update();
}

QSize DiaryGlyphView::sizeHint() const {
    const QSizeF size = m_glyph.sizeForPointSize(m_pointSize);
    return {int(std::ceil(size.width())), int(std::ceil(size.height()))};
}

void DiaryGlyphView::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    const QSizeF size = m_glyph.sizeForPointSize(m_pointSize) * m_drawScale;
    QRectF box(QPointF(), size);
    box.moveCenter(QRectF(rect()).center());
    m_glyph.paint(painter, box, m_color);
}

} // namespace velmora
