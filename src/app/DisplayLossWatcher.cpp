#include "app/DisplayLossWatcher.h"

#include "app/AppLogging.h"

#include <QCoreApplication>
#include <QThread>

#include <atomic>

namespace velmora {

namespace {

// Messages come from every thread; the watcher is made, used and dropped on the GUI thread only.
std::atomic<QtMessageHandler> previousHandler{nullptr};
std::atomic<DisplayLossWatcher *> currentWatcher{nullptr};

bool onGuiThread() {
    const QCoreApplication *application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

} // namespace

DisplayLossWatcher::DisplayLossWatcher(std::function<void()> lastChance)
    : m_lastChance(std::move(lastChance)) {
    if (currentWatcher.load()) {
        qCWarning(lcApp) << "a lost display is already watched";
        return;
    }
    currentWatcher = this;
    previousHandler = qInstallMessageHandler(&DisplayLossWatcher::handleMessage);
}

DisplayLossWatcher::~DisplayLossWatcher() {
    if (currentWatcher.load() != this)
        return;
    // Only a handler still ours is taken back: one installed later stays.
    const QtMessageHandler current = qInstallMessageHandler(previousHandler.load());
    if (current != &DisplayLossWatcher::handleMessage)
        qInstallMessageHandler(current);
    currentWatcher = nullptr;
}

bool DisplayLossWatcher::isDisplayLoss(QtMsgType type, const QString &message) {
    // The words Qt's xcb and Wayland plugins say just before they call exit(1).
    return (type == QtWarningMsg || type == QtCriticalMsg) &&
           (message.startsWith(QLatin1String("The X11 connection broke")) ||
            message.startsWith(QLatin1String("The Wayland connection broke")) ||
            message.startsWith(QLatin1String("The Wayland connection experienced a fatal error")));
}

void DisplayLossWatcher::handleMessage(QtMsgType type, const QMessageLogContext &context,
                                       const QString &message) {
    if (const QtMessageHandler previous = previousHandler.load())
        previous(type, context, message);
    if (!isDisplayLoss(type, message) || !onGuiThread())
        return;
    DisplayLossWatcher *watcher = currentWatcher.load();
    if (!watcher || watcher->m_spent)
        return;
    watcher->m_spent = true;
    if (watcher->m_lastChance)
        watcher->m_lastChance();
}

} // namespace velmora
