#include "book/MacGoldOrnament.h"

#include "book/DiaryDecorative.h"
#include "book/DiaryGlyphs.h"
#include "book/theme/DiaryTheme.h"

#include <QPainter>

#include <cmath>

namespace velmora {

namespace {

constexpr double spacing = 8;
constexpr double diamondPoints = 5;

const DiaryGlyph diamond(DiaryGlyphSymbol::diamondFill);

} // namespace

double goldOrnamentRuleWidth(double width) {
    const double rule = width * 0.5 - spacing;
    return rule > 0 ? rule : 0;
}

QSizeF goldOrnamentSize(double width) {
    const QSizeF mark = diamond.sizeForPointSize(diamondPoints);
    return {2 * goldOrnamentRuleWidth(width) + 2 * spacing + mark.width(),
            std::max(1.0, mark.height())};
}

void paintGoldOrnament(QPainter &painter, const QRectF &rect, double width) {
    const double rule = goldOrnamentRuleWidth(width);
    const QSizeF mark = diamond.sizeForPointSize(diamondPoints);
    const QSizeF size = goldOrnamentSize(width);
    const double left = rect.center().x() - size.width() / 2;
    const double middle = rect.center().y();
    const QColor ruleColor = withOpacity(diaryGoldColor(), 0.5);
    painter.save();
    painter.fillRect(QRectF(left, middle - 0.5, rule, 1), ruleColor);
    diamond.paint(painter, QRectF(QPointF(left + rule + spacing, middle - mark.height() / 2), mark),
                  withOpacity(diaryGoldColor(), 0.7));
    painter.fillRect(QRectF(left + rule + 2 * spacing + mark.width(), middle - 0.5, rule, 1),
                     ruleColor);
    painter.restore();
}

MacGoldOrnament::MacGoldOrnament(double width, QWidget *parent)
    : QWidget(parent)
    , m_width(width) {
    makeDecorative(this, DiaryClicks::stop);
    resize(sizeHint());
}

void MacGoldOrnament::setOrnamentWidth(double width) {
    m_width = width;
    updateGeometry();
    update();
}

QSize MacGoldOrnament::sizeHint() const {
    const QSizeF size = goldOrnamentSize(m_width);
    return {int(std::ceil(size.width())), int(std::ceil(size.height()))};
}

void MacGoldOrnament::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintGoldOrnament(painter, rect(), m_width);
}

} // namespace velmora
