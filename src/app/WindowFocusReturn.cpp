#include "app/WindowFocusReturn.h"

#include "app/X11Display.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>

namespace velmora {

namespace {

// Whether the display's keyboard is with no window at all, as when the window that had it went
// and no window manager chose another: only then may the program take it back unasked. False
// away from X, where the compositor always chooses.
bool keyboardIsWithNoWindow() {
    const std::optional<X11Display> x11 = x11Display();
    if (!x11)
        return false;
    const auto focus = xcbReply(
        xcb_get_input_focus_reply(x11->connection, xcb_get_input_focus(x11->connection), nullptr));
    return focus && (focus->focus == XCB_NONE || focus->focus == XCB_INPUT_FOCUS_POINTER_ROOT ||
                     focus->focus == x11->root);
}

} // namespace

WindowFocusReturn::WindowFocusReturn(QWidget &bookWindow, QObject *parent)
    : QObject(parent)
    , m_bookWindow(&bookWindow) {}

bool WindowFocusReturn::eventFilter(QObject *watched, QEvent *event) {
    const QEvent::Type type = event->type();
    // The person has gone on with the program: whatever happens to the keyboard later is theirs.
    if (type == QEvent::KeyPress || type == QEvent::MouseButtonPress) {
        m_returnTo.clear();
        return QObject::eventFilter(watched, event);
    }
    if ((type != QEvent::WindowDeactivate && type != QEvent::WindowActivate &&
         type != QEvent::Hide) ||
        !watched->isWidgetType())
        return QObject::eventFilter(watched, event);
    auto *window = static_cast<QWidget *>(watched);
    if (!window->isWindow())
        return QObject::eventFilter(watched, event);
    if (type == QEvent::WindowActivate) {
        m_returnTo.clear();
        return QObject::eventFilter(watched, event);
    }
    if (type == QEvent::WindowDeactivate) {
        // The window system can take the keyboard from the window beneath after it was given
        // back, as the one that went is unmapped: it is then looked at once more.
        if (m_returnTo)
            QTimer::singleShot(0, this, [this] { giveBackIfLostToNothing(); });
        if (window == m_bookWindow)
            return QObject::eventFilter(watched, event);
        // Hiding a window takes its activation away just before the hide is announced; one the
        // person left for another application long ago has nothing to give back.
        m_justDeactivated = window;
        QTimer::singleShot(0, this, [this] { m_justDeactivated.clear(); });
        return QObject::eventFilter(watched, event);
    }
    if (window == m_bookWindow)
        return QObject::eventFilter(watched, event);
    const QWidget *active = QApplication::activeWindow();
    const bool hadKeyboard = active == window || (!active && m_justDeactivated == window);
    // Only a window of the display that can have had the keyboard: not a tooltip or a menu,
    // which never take it, nor a widget shown inside the book's scene.
    const Qt::WindowType kind = window->windowType();
    const bool takesKeys = window->windowHandle() && kind != Qt::Popup && kind != Qt::ToolTip;
    if (takesKeys && (hadKeyboard || active)) {
        QPointer<QWidget> beneath =
            window->parentWidget() ? window->parentWidget()->window() : m_bookWindow.data();
        m_returnTo = beneath;
        // Once the hide has reached the display: a window manager may have chosen already.
        if (hadKeyboard)
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

void WindowFocusReturn::giveBackIfLostToNothing() {
    if (!m_returnTo || QApplication::activeWindow() || !keyboardIsWithNoWindow())
        return;
    giveBack(nullptr, m_returnTo);
}

} // namespace velmora
