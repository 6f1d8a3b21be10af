#include "app/DiaryBookWindow.h"

#include "app/BookWindowGeometry.h"
#include "app/MacAppDelegate.h"

#include <QApplication>
#include <QCloseEvent>
#include <QGuiApplication>
#include <QMenuBar>
#include <QPalette>
#include <QScreen>
#include <QStyle>

namespace velmora {

namespace {

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x1E, 0x1E, 0x20);
    const QColor base(0x2A, 0x2A, 0x2C);
    const QColor text(0xEC, 0xEC, 0xEE);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, window);
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, base);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::ToolTipBase, base);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Highlight, QColor(0x8A, 0x6A, 0x3A));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    return palette;
}

} // namespace

DiaryBookWindow::DiaryBookWindow(QWidget *parent)
    : QMainWindow(parent)
    , m_placement(new BookWindowPlacement(*this)) {
    setWindowTitle(tr("Velmora"));
    setObjectName(frameAutosaveName);
    applyAppearance(QStringLiteral("light"), false);
    resize(BookWindowGeometry::designWidth, BookWindowGeometry::designHeight);
}

DiaryBookWindow::~DiaryBookWindow() {
    // A quit ends the program with the window still on screen.
    m_placement->saveFrame();
}

void DiaryBookWindow::setDelegate(MacAppDelegate *delegate) {
    m_delegate = delegate;
}

void DiaryBookWindow::setFrameDefaults(std::shared_ptr<UserDefaults> defaults) {
    m_placement->restoreFrame(std::move(defaults));
}

int DiaryBookWindow::titleBarHeight() const {
    if (!isVisible())
        return 0;
    return std::max(0, frameGeometry().height() - geometry().height());
}

void DiaryBookWindow::configure(bool testMode) {
    m_placement->configure(testMode);
}

QSize DiaryBookWindow::configuredContentSize(bool testMode) const {
    QScreen *screen = m_placement->sizingScreen(testMode);
    if (!screen)
        return size();
    const QRect frame = BookWindowGeometry::sizedFrame(screen->availableGeometry());
    QMenuBar *menus = menuBar();
    const int menusHeight = menus->isNativeMenuBar() ? 0 : menus->sizeHint().height();
    return {frame.width(), std::max(1, frame.height() - titleBarHeight() - menusHeight)};
}

qreal DiaryBookWindow::configuredPixelRatio(bool testMode) const {
    QScreen *screen = m_placement->sizingScreen(testMode);
    return screen ? screen->devicePixelRatio() : devicePixelRatioF();
}

void DiaryBookWindow::applyAppearance(const QString &appearance, bool desktopPrefersDark) {
    if (appearance == u"light")
        m_dark = false;
    else if (appearance == u"dark")
        m_dark = true;
    else
        m_dark = desktopPrefersDark;
    const QPalette palette = m_dark ? darkPalette() : QApplication::style()->standardPalette();
    // Black behind the book; the menus keep the desktop's colours.
    QPalette behindBook = palette;
    behindBook.setColor(QPalette::Window, Qt::black);
    setPalette(behindBook);
    menuBar()->setPalette(palette);
}

void DiaryBookWindow::closeEvent(QCloseEvent *event) {
    if (m_delegate && !m_delegate->windowShouldClose()) {
        event->ignore();
        return;
    }
    QMainWindow::closeEvent(event);
}

} // namespace velmora
