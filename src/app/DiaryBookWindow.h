#pragma once

#include <QMainWindow>
#include <QPointer>

namespace velmora {

class MacAppDelegate;

// The single book window. Closing it asks the delegate first, which drains pending writing and
// then closes it for real; the program keeps running with the window hidden.
class DiaryBookWindow : public QMainWindow {
    Q_OBJECT

public:
    static inline const QString frameAutosaveName = QStringLiteral("DiaryBookWindow.book");

    explicit DiaryBookWindow(QWidget *parent = nullptr);

    void setDelegate(MacAppDelegate *delegate);

    // Places and sizes the window on its screen: centred on the primary screen in test mode,
    // centred when it lies on no screen, then as tall as the screen's visible area at 780:1024.
    void configure(bool testMode);
    // The size configure() gives what lies below the menus, and the density of its screen.
    QSize configuredContentSize(bool testMode) const;
    qreal configuredPixelRatio(bool testMode) const;

    // "light", "dark", or anything else to follow the desktop (`desktopPrefersDark`).
    void applyAppearance(const QString &appearance, bool desktopPrefersDark);
    bool isDark() const { return m_dark; }

    // The height of the window's decorations; 0 until the window has been shown.
    int titleBarHeight() const;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    QScreen *sizingScreen(bool testMode) const;

    QPointer<MacAppDelegate> m_delegate;
    bool m_dark = false;
};

} // namespace velmora
