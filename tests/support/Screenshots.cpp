#include "support/Screenshots.h"

#include <QDir>
#include <QPaintEngine>
#include <QPainter>
#include <QWidget>

namespace velmora::test {

namespace {

// A device that keeps the text drawn on it and nothing else.
class TextRecorder : public QPaintDevice, private QPaintEngine {
public:
    TextRecorder(QSize size, int dpi)
        : QPaintEngine(AllFeatures)
        , m_size(size)
        , m_dpi(dpi) {}

    QString text;

    QPaintEngine *paintEngine() const override { return const_cast<TextRecorder *>(this); }
    bool begin(QPaintDevice *) override { return true; }
    bool end() override { return true; }
    void updateState(const QPaintEngineState &) override {}
    void drawPath(const QPainterPath &) override {}
    void drawPixmap(const QRectF &, const QPixmap &, const QRectF &) override {}
    void drawTextItem(const QPointF &, const QTextItem &item) override { text += item.text(); }
    Type type() const override { return User; }

protected:
    int metric(PaintDeviceMetric metric) const override {
        switch (metric) {
        case PdmWidth:
            return m_size.width();
        case PdmHeight:
            return m_size.height();
        case PdmDpiX:
        case PdmDpiY:
        case PdmPhysicalDpiX:
        case PdmPhysicalDpiY:
            return m_dpi;
        case PdmDevicePixelRatioScaled:
            return int(devicePixelRatioFScale());
        default:
            return metric == PdmDepth ? 32 : 1;
        }
    }

private:
    QSize m_size;
    int m_dpi;
};

} // namespace

QImage grabWidget(QWidget *widget, qreal devicePixelRatio) {
    if (!widget->testAttribute(Qt::WA_WState_Polished))
        widget->ensurePolished();
    QImage image(widget->size() * devicePixelRatio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(devicePixelRatio);
    image.fill(Qt::transparent);
    widget->render(&image, QPoint(), QRegion(),
                   QWidget::DrawWindowBackground | QWidget::DrawChildren);
    return image;
}

bool saveScreenshot(const QImage &image, const QString &name) {
    const QString folder = qEnvironmentVariable("VELMORA_SCREENSHOT_DIR");
    if (folder.isEmpty())
        return true;
    if (!QDir().mkpath(folder))
        return false;
    return image.save(QDir(folder).filePath(name + QStringLiteral(".png")), "PNG");
}

QString drawnText(QWidget *widget, const QRect &area) {
    TextRecorder recorder(widget->size(), widget->logicalDpiX());
    QPainter painter(&recorder);
    widget->render(&painter, QPoint(), QRegion(area), QWidget::DrawChildren);
    painter.end();
    return recorder.text;
}

} // namespace velmora::test
