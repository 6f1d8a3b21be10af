#pragma once

#include <QWidget>

namespace velmora {

// The ornament's two rules: half the width less 8 points each; never negative, so a width
// below 16 (or not a number) leaves only the diamond.
double goldOrnamentRuleWidth(double width);

// Its whole drawn size: two rules, the diamond and 8 points either side of it.
QSizeF goldOrnamentSize(double width);

// A hairline gold rule broken by a small diamond, centred in the rectangle.
void paintGoldOrnament(QPainter &painter, const QRectF &rect, double width);

class MacGoldOrnament : public QWidget {
    Q_OBJECT

public:
    explicit MacGoldOrnament(double width, QWidget *parent = nullptr);

    double ornamentWidth() const { return m_width; }
    void setOrnamentWidth(double width);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    double m_width;
};

} // namespace velmora
