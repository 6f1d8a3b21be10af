#pragma once

#include <QImage>
#include <QRect>
#include <QString>

class QWidget;

namespace velmora::test {

// Renders a widget into an image at the given device pixel ratio, as the window would show it.
QImage grabWidget(QWidget *widget, qreal devicePixelRatio = 2.0);

// Writes the image as <name>.png into the folder VELMORA_SCREENSHOT_DIR names; does nothing
// when the variable is unset. Returns false only when writing was asked for and failed.
bool saveScreenshot(const QImage &image, const QString &name);

// The text the widget draws within the area, as it is drawn: after any eliding.
QString drawnText(QWidget *widget, const QRect &area);

} // namespace velmora::test
