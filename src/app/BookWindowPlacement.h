#pragma once

#include "platform/UserDefaults.h"

#include <QAbstractNativeEventFilter>
#include <QMargins>
#include <QObject>
#include <QRect>
#include <QTimer>

#include <chrono>
#include <memory>

class QScreen;
class QWidget;

namespace velmora {

// Keeps the book window's frame, decorations included, on its screen at 780:1024. configure()
// sizes it to the screen before it is shown; once shown, the window manager's decorations are
// measured and the window is fitted again so that its frame, not only what lies inside, fits the
// visible area. A size the user drags to (one the window manager brings) is brought back to the
// book's proportions, never below the screen's visible height nor past what its visible area
// holds, and the frame is kept within that area; one the window itself asked for
// before its latest request, answered late, is not a drag: the latest is asked for again. The frame
// is kept in the settings under "DiaryBookWindow.book" whenever the window hides or goes away, and
// read back to open on the same screen.
class BookWindowPlacement : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    static inline const QString frameKey = QStringLiteral("DiaryBookWindow.book");

    // Watches `window`, which owns it.
    explicit BookWindowPlacement(QWidget &window);

    // Moves the window to the frame kept in `defaults`, where it is kept from now on.
    void restoreFrame(std::shared_ptr<UserDefaults> defaults);
    // How long a resize settles before it is brought back to the book's proportions: the window
    // manager keeps sending sizes while the user drags.
    void setSettleDelay(std::chrono::milliseconds delay) { m_settle.setInterval(delay); }

    // Places and sizes the window on its screen: where it is (the restored frame) chooses the
    // screen, a frame on no screen (or test mode) is taken to the primary screen, and the frame
    // fills the visible height at 780:1024.
    void configure(bool testMode);
    // The screen configure() sizes the window for.
    QScreen *sizingScreen(bool testMode) const;
    // The decorations around the window; none before it has been shown.
    QMargins decorations() const;
    // Writes the window's frame to the settings, when it has one worth keeping.
    void saveFrame();

    // Hears the window system's answers about the window (on X), which Qt may not pass on.
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply(const QRect &frame);
    // Asks the window manager for this size inside the decorations.
    void request(const QSize &inside);
    // Resizes the window without recording the request.
    void resizeTo(const QSize &inside);
    // The size inside the decorations the window system last reported (or was last asked for),
    // which the widget may not have been given.
    QSize reportedSize() const;
    void setMinimumFrameHeight(int height);
    void noticeDecorations();
    void keepProportions();
    bool isPlainWindow() const;

    QWidget &m_window;
    std::shared_ptr<UserDefaults> m_defaults;
    QRect m_fitted;
    int m_minimumFrameHeight = 0;
    // The decorations the last fitting allowed for, and whether they have been measured shown.
    QMargins m_decorations;
    bool m_measured = false;
    // The frame's size when the last resize settled.
    QSize m_settledSize;
    QTimer m_settle;
    // The size the last correction asked for, until it is met.
    QSize m_lastCorrection;
    // The sizes inside the decorations asked for since the size last came to rest, oldest first,
    // and how often an older one answered late was asked away again.
    QList<QSize> m_requests;
    int m_reasserted = 0;
    bool m_shown = false;
    bool m_watchingScreen = false;
};

} // namespace velmora
