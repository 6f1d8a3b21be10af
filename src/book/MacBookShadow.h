#pragma once

#include "book/DiarySoftShadow.h"

#include <QWidget>

#include <optional>

namespace velmora {

// The book's design size and the rectangle it takes, scaled to fit and centred, in an area.
inline constexpr QSizeF diaryBookSize{780, 1024};
double diaryBookScale(QSizeF area);
QRectF fittedBookRect(const QRectF &area);

// The soft shadow the book casts, under the book's rectangle: black at 0.45 in a rounded
// rectangle, 10 points lower, blurred by 28 points, all scaled with the book.
QPainterPath bookShadowShape(const QRectF &book);

// Covers the book's stage; draws the shadow of the book, which by default lies fitted and
// centred in the widget as the book stage places it.
class MacBookShadow : public QWidget {
    Q_OBJECT

public:
    explicit MacBookShadow(QWidget *parent = nullptr);

    // Where the book lies when the stage places it elsewhere than fitted and centred.
    void setBookRect(std::optional<QRectF> book);
    QRectF bookRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<QRectF> m_book;
    double m_cachedScale = 0;
    std::optional<DiarySoftShadow> m_shadow;
};

} // namespace velmora
