#pragma once

#include "app/BookWindowPlacement.h"

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
    ~DiaryBookWindow() override;

    void setDelegate(MacAppDelegate *delegate);
    // Where the window's frame is kept between runs; the window moves to the kept frame.
    void setFrameDefaults(std::shared_ptr<UserDefaults> defaults);

    // Places and sizes the window on its screen (the primary one in test mode, else the one its
    // saved frame is on), its frame as tall as the screen's visible area at 780:1024.
    void configure(bool testMode);
    BookWindowPlacement &placement() { return *m_placement; }
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
    QPointer<MacAppDelegate> m_delegate;
    BookWindowPlacement *m_placement;
    bool m_dark = false;
};

} // namespace velmora
