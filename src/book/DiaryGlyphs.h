#pragma once

#include <QColor>
#include <QPainterPath>
#include <QSizeF>
#include <QString>
#include <QWidget>

#include <optional>

class QPainter;

namespace velmora {

// The small symbols the book's controls and cards show, drawn as outlines so they stay sharp at
// any size and in any colour.
enum class DiaryGlyphSymbol {
    exclamationmarkTriangleFill,
    lockFill,
    checkmark,
    seal,
    sealFill,
    book,
    diamondFill,
    magnifyingglass,
    calendar,
    gearshape,
    xmark,
    chevronLeft,
    chevronRight,
    key,
    chevronDown,
    xmarkCircleFill,
    pencilAndScribble,
    bookClosedFill,
};

// Stroke weights, as a text font's weights thicken its strokes.
enum class DiaryGlyphWeight { light, regular, medium, semibold, bold };

class DiaryGlyph {
public:
    explicit DiaryGlyph(DiaryGlyphSymbol symbol,
                        DiaryGlyphWeight weight = DiaryGlyphWeight::regular)
        : m_symbol(symbol)
        , m_weight(weight) {}

    // The glyph a symbol name of the design stands for ("lock.fill", "chevron.left", …);
    // "touchid" is drawn as a key, as this desktop unlocks with the account password.
    static std::optional<DiaryGlyph> named(const QString &name,
                                           DiaryGlyphWeight weight = DiaryGlyphWeight::regular);

    DiaryGlyphSymbol symbol() const { return m_symbol; }
    DiaryGlyphWeight weight() const { return m_weight; }

    // The glyph's natural size beside text of the given point size.
    QSizeF sizeForPointSize(double pointSize) const;

    // The glyph's filled outline, fitted into the rectangle with its proportions kept, centred.
    QPainterPath path(const QRectF &rect) const;

    void paint(QPainter &painter, const QRectF &rect, const QColor &color) const;

    friend bool operator==(const DiaryGlyph &, const DiaryGlyph &) = default;

private:
    DiaryGlyphSymbol m_symbol;
    DiaryGlyphWeight m_weight;
};

// One glyph as a widget, sized as it would stand beside text of the given point size.
class DiaryGlyphView : public QWidget {
    Q_OBJECT

public:
    DiaryGlyphView(DiaryGlyph glyph, double pointSize, const QColor &color,
                   QWidget *parent = nullptr);

    void setGlyph(DiaryGlyph glyph);
    void setColor(const QColor &color);
    // Scales the drawn glyph about its centre without changing the layout (the seal's breath).
    void setDrawScale(double scale);

    const DiaryGlyph &glyph() const { return m_glyph; }
    const QColor &color() const { return m_color; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    DiaryGlyph m_glyph;
    double m_pointSize;
    QColor m_color;
    double m_drawScale = 1.0;
};

} // namespace velmora
