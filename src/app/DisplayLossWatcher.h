#pragma once

#include <QString>
#include <QtGlobal>

#include <functional>

namespace velmora {

// Qt's platform plugins end the process with exit(1) the moment they find the connection to the
// display broken (the X server or the Wayland compositor went away), from inside the event loop,
// with no signal and no turn of the loop left to answer it. They say so first, as a warning; that
// warning, heard here on the GUI thread, is the last moment anything can still be stored. One per
// process: it stands between Qt and the message handler that was installed before it.
class DisplayLossWatcher {
public:
    // `lastChance` runs on the GUI thread, once, before the plugin ends the process.
    explicit DisplayLossWatcher(std::function<void()> lastChance);
    ~DisplayLossWatcher();
    DisplayLossWatcher(const DisplayLossWatcher &) = delete;
    DisplayLossWatcher &operator=(const DisplayLossWatcher &) = delete;

    // Whether a message is a platform plugin's last word before it ends the process.
    static bool isDisplayLoss(QtMsgType type, const QString &message);

private:
    static void handleMessage(QtMsgType type, const QMessageLogContext &context,
                              const QString &message);

    std::function<void()> m_lastChance;
    QtMessageHandler m_previous = nullptr;
    bool m_spent = false;
};

} // namespace velmora
