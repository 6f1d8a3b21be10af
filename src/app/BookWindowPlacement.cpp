#include "app/BookWindowPlacement.h"

#include "app/BookWindowGeometry.h"
#include "app/X11Display.h"

#include <QCoreApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace velmora {

using namespace std::chrono_literals;

namespace {

QSize insideOf(const QSize &frame, const QMargins &decorations) {
    return {std::max(1, frame.width() - decorations.left() - decorations.right()),
            std::max(1, frame.height() - decorations.top() - decorations.bottom())};
}

// Whether a pointer button is held on the display, as while the user drags the window's edge.
bool isPointerHeld() {
    const std::optional<X11Display> x11 = x11Display();
    if (!x11)
        return false;
    const auto pointer = xcbReply(xcb_query_pointer_reply(
        x11->connection, xcb_query_pointer(x11->connection, x11->root), nullptr));
    return pointer && (pointer->mask & (XCB_BUTTON_MASK_1 | XCB_BUTTON_MASK_2 | XCB_BUTTON_MASK_3));
}

} // namespace

BookWindowPlacement::BookWindowPlacement(QWidget &window)
    : QObject(&window)
    , m_window(window) {
    m_settle.setSingleShot(true);
    m_settle.setInterval(150ms);
    connect(&m_settle, &QTimer::timeout, this, &BookWindowPlacement::keepProportions);
    window.installEventFilter(this);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

QScreen *BookWindowPlacement::sizingScreen(bool testMode) const {
    QScreen *primary = QGuiApplication::primaryScreen();
    if (testMode)
        return primary;
    const QList<QScreen *> screens = QGuiApplication::screens();
    QList<QRect> visible;
    for (QScreen *screen : screens)
        visible.append(screen->availableGeometry());
    // A frame on no screen (a display that is gone) is taken to the primary one.
    if (const auto index = BookWindowGeometry::screenOfFrame(m_window.frameGeometry(), visible))
        return screens.at(*index);
    return primary;
}

QMargins BookWindowPlacement::decorations() const {
    const QWindow *handle = m_window.windowHandle();
    return handle && m_window.isVisible() ? handle->frameMargins() : QMargins();
}

void BookWindowPlacement::restoreFrame(std::shared_ptr<UserDefaults> defaults) {
    m_defaults = std::move(defaults);
    if (!m_defaults)
        return;
    const auto saved = m_defaults->stringValue(frameKey);
    if (const auto frame = saved ? BookWindowGeometry::frameFromText(*saved) : std::nullopt) {
        m_window.move(frame->topLeft());
        m_window.resize(insideOf(frame->size(), decorations()));
    }
}

void BookWindowPlacement::configure(bool testMode) {
    QScreen *screen = sizingScreen(testMode);
    if (!screen)
        return;
    m_requests.clear();
    m_fitted = BookWindowGeometry::sizedFrame(screen->availableGeometry());
    setMinimumFrameHeight(m_fitted.height());
    apply(m_fitted);
}

void BookWindowPlacement::apply(const QRect &frame) {
    request(insideOf(frame.size(), m_decorations));
    m_window.move(frame.topLeft());
    m_settledSize = frame.size();
}

void BookWindowPlacement::request(const QSize &inside) {
    if (m_requests.isEmpty() || m_requests.constLast() != inside)
        m_requests.append(inside);
    if (m_requests.size() > 4)
        m_requests.removeFirst();
    resizeTo(inside);
}

QSize BookWindowPlacement::reportedSize() const {
    const QWindow *handle = m_window.windowHandle();
    return handle ? handle->size() : m_window.size();
}

void BookWindowPlacement::resizeTo(const QSize &inside) {
    // A widget that still holds the size asked for while the window has another would take the
    // request as nothing to do.
    if (QWindow *handle = m_window.windowHandle();
        handle && m_window.size() == inside && handle->size() != inside)
        handle->resize(inside);
    else
        m_window.resize(inside);
}

void BookWindowPlacement::setMinimumFrameHeight(int height) {
    m_minimumFrameHeight = height;
    m_window.setMinimumSize(
        insideOf(QSize(BookWindowGeometry::widthForHeight(height), height), m_decorations));
}

bool BookWindowPlacement::isPlainWindow() const {
    return !(m_window.windowState() &
             (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

void BookWindowPlacement::noticeDecorations() {
    // The window manager decorates the window after it is mapped; until then they read as none.
    // The first measurement is the one the window is fitted by.
    if (m_measured || !isPlainWindow())
        return;
    const QMargins measured = decorations();
    if (measured.isNull())
        return;
    m_measured = true;
    if (measured == m_decorations)
        return;
    m_decorations = measured;
    setMinimumFrameHeight(m_minimumFrameHeight);
    if (m_fitted.isValid())
        apply(m_fitted);
}

void BookWindowPlacement::keepProportions() {
    if (!m_window.isVisible() || !isPlainWindow()) {
        m_settledSize = QSize();
        return;
    }
    // A drag still under way is looked at once it ends: the window manager keeps the size the
    // pointer gives it until then, and a correction asked meanwhile would seem refused.
    if (isPointerHeld()) {
        m_settle.start();
        return;
    }
    // The window manager answering an older request after a newer one: the size the window was
    // first given, before its decorations were known, is as tall inside as the whole frame may
    // be. It is asked again for the newest (and the fitted place, when that is what it was), a
    // few times at most, rather than taken for a drag.
    const QSize inside = reportedSize();
    if (m_requests.size() > 1 && inside != m_requests.constLast() && m_requests.contains(inside) &&
        m_reasserted < 3) {
        ++m_reasserted;
        if (m_fitted.isValid() &&
            m_requests.constLast() == insideOf(m_fitted.size(), m_decorations))
            apply(m_fitted);
        else
            resizeTo(m_requests.constLast());
        return;
    }
    // Come to rest: only what is asked from here on may still be answered.
    m_requests.clear();
    m_reasserted = 0;
    const QSize proposed = m_window.frameGeometry().size() - m_window.size() + inside;
    if (!m_settledSize.isValid()) {
        m_settledSize = proposed;
        return;
    }
    const QWindow *handle = m_window.windowHandle();
    const QPoint origin = handle ? handle->framePosition() : m_window.pos();
    const QScreen *screen = m_window.screen();
    const QRect target = BookWindowGeometry::frameForResize(
        QRect(origin, BookWindowGeometry::proportionalSize(m_settledSize, proposed)),
        screen ? screen->availableGeometry() : QRect(), false);
    // A window manager that answered the same correction with another size keeps refusing it;
    // asking again would only fight it.
    const bool refused = target.size() == m_lastCorrection;
    m_lastCorrection = target.size() == proposed || refused ? QSize() : target.size();
    m_settledSize = refused ? proposed : target.size();
    if (refused)
        return;
    if (target.size() != proposed)
        request(insideOf(target.size(), m_decorations));
    if (target.topLeft() != origin)
        m_window.move(target.topLeft());
}

void BookWindowPlacement::saveFrame() {
    if (!m_defaults || !m_shown || !isPlainWindow())
        return;
    const QString frame = BookWindowGeometry::frameText(m_window.frameGeometry());
    if (m_defaults->stringValue(frameKey) != frame)
        m_defaults->setString(frameKey, frame);
}

bool BookWindowPlacement::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) {
    // A busy program's queued answers from the window manager are folded into the last. When that
    // one gives back the size the window last reported before its newest request, Qt sees no
    // change of size and the widget is not told: it keeps the size it asked for while the window
    // has another. Looked at once Qt has taken the answer in, as a resize would be.
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto *event = static_cast<const xcb_generic_event_t *>(message);
    if ((event->response_type & 0x7f) != XCB_CONFIGURE_NOTIFY)
        return false;
    const auto *configure = reinterpret_cast<const xcb_configure_notify_event_t *>(event);
    if (configure->window != m_window.internalWinId())
        return false;
    // The last correction was met: the next one, to the same size, answers a new drag.
    if (m_lastCorrection.isValid() &&
        QSize(configure->width, configure->height) ==
            insideOf(m_lastCorrection, m_decorations) * m_window.devicePixelRatio())
        m_lastCorrection = QSize();
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (m_window.isVisible() && isPlainWindow() && reportedSize() != m_window.size())
                m_settle.start();
        },
        Qt::QueuedConnection);
    return false;
}

bool BookWindowPlacement::eventFilter(QObject *watched, QEvent *event) {
    if (watched != &m_window)
        return QObject::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Show:
        m_shown = true;
        if (!m_watchingScreen && m_window.windowHandle()) {
            m_watchingScreen = true;
            // The shortest the window may be follows the screen it is on.
            connect(
                m_window.windowHandle(), &QWindow::screenChanged, this, [this](QScreen *screen) {
                    if (screen)
                        setMinimumFrameHeight(
                            BookWindowGeometry::sizedFrame(screen->availableGeometry()).height());
                });
        }
        noticeDecorations();
        break;
    case QEvent::Move:
        noticeDecorations();
        break;
    case QEvent::Resize:
        noticeDecorations();
        // Only sizes the window manager brings (the user's drags): the program's own resizes are
        // meant as they are.
        if (event->spontaneous() && m_window.isVisible() && isPlainWindow())
            m_settle.start();
        break;
    case QEvent::Hide:
        saveFrame();
        break;
    default:
        break;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace velmora
