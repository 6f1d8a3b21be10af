#include "app/WindowFocusReturn.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace velmora {

WindowFocusReturn::WindowFocusReturn(QWidget &bookWindow, QObject *parent)
    : QObject(parent)
    , m_bookWindow(&bookWindow) {}

bool WindowFocusReturn::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    if ((type != QEvent::WindowDeactivate && type != QEvent::Hide) || !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    auto *window = static_cast<QWidget *>(watched);
    if (!window->isWindow() || window == m_bookWindow)
        return QObject::eventFilter(watched, event);
    if (type == QEvent::WindowDeactivate) {
        // Hiding a window takes its activation away just before the hide is announced; one the
        // person left for another application long ago has nothing to give back.
        m_justDeactivated = window;
        QTimer::singleShot(0, this, [this] { m_justDeactivated.clear(); });
        return QObject::eventFilter(watched, event);
    }
    const QWidget *active = QApplication::activeWindow();
    if (active == window || (!active && m_justDeactivated == window)) {
        QPointer<QWidget> beneath =
            window->parentWidget() ? window->parentWidget()->window() : m_bookWindow.data();
        // Once the hide has reached the display: a window manager may have chosen already.
        QTimer::singleShot(0, this, [this, hidden = QPointer<QWidget>(window), beneath] {
            giveBack(hidden, beneath);
        });
    }
    return QObject::eventFilter(watched, event);
}

void WindowFocusReturn::giveBack(const QPointer<QWidget> &hidden,
                                 const QPointer<QWidget> &beneath) {
    const QWidget *active = QApplication::activeWindow();
    if (active && active != hidden && active->isVisible())
        return;
    for (QWidget *candidate : {beneath.data(), m_bookWindow.data()}) {
        if (candidate && candidate->isVisible() && !candidate->isMinimized()) {
            candidate->activateWindow();
            return;
        }
    }
}

} // namespace velmora
