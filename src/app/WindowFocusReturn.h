#pragma once

#include <QObject>
#include <QPointer>
#include <QWidget>

namespace velmora {

// Gives the keyboard back to the window beneath when one of the program's windows that had it
// goes away: the settings window, a file panel, an alert. A window manager does this on its own;
// without one, keys went nowhere until the person clicked a window. Watches the application's
// events, so that every window of the program is covered.
class WindowFocusReturn : public QObject {
    Q_OBJECT

public:
    explicit WindowFocusReturn(QWidget &bookWindow, QObject *parent = nullptr);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void giveBack(const QPointer<QWidget> &hidden, const QPointer<QWidget> &beneath);
    // Once the program lost the keyboard after one of its windows went: given back, unless
    // another window (of this program or another) has it.
    void giveBackIfLostToNothing();

    QPointer<QWidget> m_bookWindow;
    QPointer<QWidget> m_justDeactivated;
    // The window beneath the last one that went while the program had the keyboard, until one of
    // the program's windows has it again or the person goes on with the program.
    QPointer<QWidget> m_returnTo;
};

} // namespace velmora
