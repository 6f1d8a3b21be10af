#include "book/MacBookBinding.h"

#include "book/DiaryDecorative.h"
#include "book/MacTextures.h"

#include <QLinearGradient>
#include <QPainter>

namespace velmora {

void paintBookBinding(QPainter &painter, const QRectF &rect) {
    paintLeatherTexture(painter, rect);
    const double edge = std::min(5.0, rect.width());
    const QRectF shade(rect.right() - edge, rect.top(), edge, rect.height());
    QLinearGradient gradient(shade.topLeft(), shade.topRight());
    gradient.setColorAt(0, Qt::transparent);
    gradient.setColorAt(1, QColor::fromRgbF(0, 0, 0, 0.35f));
    painter.fillRect(shade, gradient);
}

MacBookBinding::MacBookBinding(QWidget *parent)
    : QWidget(parent) {
    makeDecorative(this, DiaryClicks::stop);
    resize(designSize);
}

void MacBookBinding::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    paintBookBinding(painter, rect());
}

} // namespace velmora
