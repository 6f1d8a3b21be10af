#pragma once

#include <QWidget>

namespace velmora {

// The strip of leather along the open book's binding, its last 5 points darkening towards the
// trailing edge.
void paintBookBinding(QPainter &painter, const QRectF &rect);

class MacBookBinding : public QWidget {
    Q_OBJECT

public:
    static constexpr QSize designSize{12, 1024};

    explicit MacBookBinding(QWidget *parent = nullptr);
    QSize sizeHint() const override { return designSize; }

protected:
    void paintEvent(QPaintEvent *event) override;
};

} // namespace velmora
