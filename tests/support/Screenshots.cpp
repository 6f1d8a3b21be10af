#include "support/Screenshots.h"

#include <QDir>
#include <QPainter>
#include <QWidget>

namespace velmora::test {

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

} // namespace velmora::test
