#include "book/MacBookShadow.h"

#include "book/DiaryDecorative.h"

#include <QPainter>

#include <cmath>

namespace velmora {

double diaryBookScale(QSizeF area) {
    const double scale =
        std::min(area.height() / diaryBookSize.height(), area.width() / diaryBookSize.width());
    return std::isfinite(scale) && scale > 0 ? scale : 0;
}

QRectF fittedBookRect(const QRectF &area) {
    QRectF book(QPointF(), diaryBookSize * diaryBookScale(area.size()));
    book.moveCenter(area.center());
    return book;
}

QPainterPath bookShadowShape(const QRectF &book) {
    const double scale = book.width() / diaryBookSize.width();
    QPainterPath shape;
    shape.addRoundedRect(book, 6 * scale, 6 * scale);
    return shape;
}

MacBookShadow::MacBookShadow(QWidget *parent)
    : QWidget(parent) {
    makeDecorative(this);
    setAttribute(Qt::WA_TranslucentBackground);
}

void MacBookShadow::setBookRect(std::optional<QRectF> book) {
    m_book = book;
    update();
}

QRectF MacBookShadow::bookRect() const {
    return m_book ? *m_book : fittedBookRect(rect());
}

void MacBookShadow::paintEvent(QPaintEvent *) {
    const QRectF book = bookRect();
    const double scale = book.width() / diaryBookSize.width();
    if (!(scale > 0))
        return;
    if (!m_shadow || scale != m_cachedScale) {
        m_shadow.emplace(QColor::fromRgbF(0, 0, 0, 0.45f), 28 * scale, QPointF(0, 10 * scale));
        m_cachedScale = scale;
    }
    QPainter painter(this);
    m_shadow->paint(painter, bookShadowShape(book));
}

} // namespace velmora
