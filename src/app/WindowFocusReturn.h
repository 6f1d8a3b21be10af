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

    QPointer<QWidget> m_bookWindow;
    QPointer<QWidget> m_justDeactivated;
};

} // namespace velmora
