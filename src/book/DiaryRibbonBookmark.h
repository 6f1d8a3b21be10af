#pragma once

#include "book/DiarySoftShadow.h"

#include <QAbstractButton>

namespace velmora {

// The ribbon's outline in a rectangle: a V notch cut into its tail, 45 % of the width deep but
// never more than 6 points.
QPainterPath ribbonShapePath(const QRectF &rect);

// The silk ribbon with its sheen, in the 14 × 46 point rectangle (no shadow).
void paintRibbon(QPainter &painter, const QRectF &ribbon);

// The claret ribbon that hangs from the top of the open book while the page shown is not
// today's; a click anywhere in its 44 × 46 point frame turns back to today (clicked()).
class DiaryRibbonBookmark : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr QSizeF ribbonSize{14, 46};
    static constexpr QSize frameSize{44, 46};

    explicit DiaryRibbonBookmark(QWidget *parent = nullptr);

    // The ribbon inside the widget, centred across the top of the click frame.
    QRectF ribbonRect() const;
    QSize sizeHint() const override;

protected:
    bool hitButton(const QPoint &position) const override;
    void paintEvent(QPaintEvent *event) override;

private:
    DiarySoftShadow m_shadow;
};

} // namespace velmora
