#include "book/DiaryRibbonBookmark.h"

#include "book/theme/DiaryTheme.h"

#include <QLinearGradient>
#include <QPainter>

#include <cmath>

namespace velmora {

namespace {

// Room below the frame for the ribbon's shadow, outside the click target.
constexpr int shadowRoom = 4;

} // namespace

QPainterPath ribbonShapePath(const QRectF &r) {
    const double notch = std::min(r.width() * 0.45, 6.0);
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right(), r.top());
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.center().x(), r.bottom() - notch);
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    return path;
}

void paintRibbon(QPainter &painter, const QRectF &ribbon) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient silk(ribbon.topLeft(), ribbon.topRight());
    silk.setColorAt(0, colorFromHex(QStringLiteral("5E1520")));
    silk.setColorAt(0.5, colorFromHex(QStringLiteral("8C2A35")));
    silk.setColorAt(1, colorFromHex(QStringLiteral("6E1B26")));
    painter.fillPath(ribbonShapePath(ribbon), silk);

    // The sheen is a band down the middle, over the notch as well.
    const QRectF band = ribbon.adjusted(4, 0, -4, 0);
    QLinearGradient sheen(band.topLeft(), band.topRight());
    sheen.setColorAt(0, QColor(255, 255, 255, 0));
    sheen.setColorAt(0.5, QColor::fromRgbF(1, 1, 1, 0.22f));
    sheen.setColorAt(1, QColor(255, 255, 255, 0));
    painter.fillRect(band, sheen);
    painter.restore();
}

DiaryRibbonBookmark::DiaryRibbonBookmark(QWidget *parent)
    : QAbstractButton(parent)
    , m_shadow(QColor::fromRgbF(0, 0, 0, 0.2f), 1.5, QPointF(0.5, 1.5)) {
    setObjectName(QStringLiteral("ribbon-bookmark"));
    setAccessibleName(tr("Bookmark"));
    setAccessibleDescription(tr("Turns to today’s page"));
    setToolTip(accessibleDescription());
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setAttribute(Qt::WA_TranslucentBackground);
    resize(sizeHint());
}

QRectF DiaryRibbonBookmark::ribbonRect() const {
    return {(frameSize.width() - ribbonSize.width()) / 2, 0, ribbonSize.width(),
            ribbonSize.height()};
}

QSize DiaryRibbonBookmark::sizeHint() const {
    return frameSize + QSize(0, shadowRoom);
}

bool DiaryRibbonBookmark::hitButton(const QPoint &position) const {
    return QRect(QPoint(), frameSize).contains(position);
}

void DiaryRibbonBookmark::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF ribbon = ribbonRect();
    m_shadow.paint(painter, ribbonShapePath(ribbon));
    paintRibbon(painter, ribbon);
    if (hasFocus()) {
        painter.setPen(QPen(diaryAccentColor(), 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(QPointF(), QSizeF(frameSize)).adjusted(1, 1, -1, -1), 4, 4);
    }
}

} // namespace velmora
