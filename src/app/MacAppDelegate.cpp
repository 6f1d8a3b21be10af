#include "app/MacAppDelegate.h"

#include "app/AppLogging.h"
#include "app/BookWindowGeometry.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <memory>
#include <optional>

namespace velmora {

QCoro::Task<bool> drainPendingWriting(DiarySessionFlushing *session,
                                      QPointer<QObject> sessionObject) {
    if (!session || !sessionObject)
        co_return false;
    try {
        const bool drained = co_await session->flushPendingWriting();
        co_return drained &&sessionObject;
    } catch (const DiaryError &error) {
        qCWarning(lcApp) << "pending writing could not be stored:" << error.message();
    } catch (const std::exception &error) {
        qCWarning(lcApp) << "pending writing could not be stored:" << error.what();
    }
    co_return false;
}

namespace {

// Delivers the calls other threads posted to this one (a save's answer among them) until `done`,
// without the event loop, whose other work (input, painting, the display) is not done here.
bool deliverPostedCallsUntil(const std::function<bool()> &done, const QDeadlineTimer &deadline) {
    for (;;) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
        if (done())
            return true;
        if (deadline.hasExpired())
            return false;
        QThread::msleep(1);
    }
}

QCoro::Task<void> flushInto(DraftAutosaveCoordinator &autosave,
                            std::shared_ptr<std::optional<bool>> saved) {
    *saved = co_await autosave.flush();
}

} // namespace

bool drainPendingWritingNow(DraftAutosaveCoordinator &autosave, std::chrono::nanoseconds limit) {
    const QDeadlineTimer deadline(std::chrono::duration_cast<std::chrono::milliseconds>(limit));
    autosave.cancelTimers();
    for (;;) {
        if (!deliverPostedCallsUntil([&] { return !autosave.inFlight(); }, deadline))
            return false;
        if (!autosave.pendingEdit())
            return true;
        auto saved = std::make_shared<std::optional<bool>>();
        flushInto(autosave, saved);
        if (!deliverPostedCallsUntil([&] { return saved->has_value(); }, deadline) || !**saved)
            return false;
    }
}

MacAppDelegate::MacAppDelegate(QObject *parent)
    : QObject(parent)
    // Not quit(): that first asks every window to close, and the book window's close waits for
    // a drain of its own.
    , m_terminate([] { QCoreApplication::exit(0); }) {}

void MacAppDelegate::adoptMainWindow(QWidget *window) {
    if (m_managedWindow == window)
        return;
    m_managedWindow = window;
}

MacAppDelegate::TerminateReply MacAppDelegate::applicationShouldTerminate() {
    // A second request must not cut short the drain the first one started.
    if (m_terminationInProgress)
        return TerminateReply::alreadyTerminating;
    // From here no backup, restore, export or import begins, whatever is answered meanwhile.
    if (m_dataOperations)
        m_dataOperations->setQuitting(true);
    DiarySessionFlushing *flushing = session();
    if (!flushing) {
        m_terminate();
        return TerminateReply::terminateNow;
    }
    m_terminationInProgress = true;
    runTermination(flushing, m_sessionObject, m_cloudSync, m_dataOperations);
    return TerminateReply::terminateLater;
}

QCoro::Task<void> MacAppDelegate::runTermination(DiarySessionFlushing *session,
                                                 QPointer<QObject> sessionObject,
                                                 QPointer<DiaryCloudSync> cloudSync,
                                                 QPointer<DiaryDataOperationGuard> operations) {
    const QPointer<MacAppDelegate> self(this);
    const std::chrono::nanoseconds syncLimit = m_terminationSync;
    const std::chrono::nanoseconds stopLimit = m_terminationStop;
    const bool drained = co_await drainPendingWriting(session, sessionObject);
    const QDeadlineTimer workDeadline(syncLimit);
    if (drained && cloudSync) {
        co_await cloudSync->syncNow(syncLimit);
        // A pass that outlasted the limit is stopped, and the quit waits for its file operation
        // in flight, so the program is never torn down under it.
        if (cloudSync)
            co_await cloudSync->stop(stopLimit);
    }
    // Last: an export's file still being written gets what is left of the same time to be put in
    // place, and is then stopped, its temporary file removed; an import begun before the quit
    // ends its work. Either way their threads are gone before the program's statics are.
    if (drained && operations)
        co_await operations->settleWork(workDeadline.remainingTimeAsDuration());
    if (!self)
        co_return;
    m_terminationInProgress = false;
    if (!drained) {
        qCWarning(lcApp) << "quit refused: pending writing could not be stored";
        if (operations)
            operations->setQuitting(false);
    }
    Q_EMIT terminationReplied(drained);
    if (drained)
        m_terminate();
}

bool MacAppDelegate::windowShouldClose() {
    if (m_allowNextClose) {
        m_allowNextClose = false;
        return true;
    }
    DiarySessionFlushing *flushing = session();
    if (!flushing)
        return true;
    // While a quit is being prepared its drain decides: if it fails the window must stay with
    // the text on it, and if it succeeds the program ends anyway.
    if (m_closeInProgress || m_terminationInProgress)
        return false;
    m_closeInProgress = true;
    runClose(flushing, m_sessionObject);
    return false;
}

QCoro::Task<void> MacAppDelegate::runClose(DiarySessionFlushing *session,
                                           QPointer<QObject> sessionObject) {
    const QPointer<MacAppDelegate> self(this);
    const bool drained = co_await drainPendingWriting(session, sessionObject);
    if (!self)
        co_return;
    m_closeInProgress = false;
    const QPointer<QWidget> window = m_managedWindow;
    if (!drained || !window) {
        Q_EMIT closeFinished(false);
        co_return;
    }
    m_allowNextClose = true;
    // On the next turn: with nothing to store the drain ends inside the close request that
    // started it, and a window cannot be closed from within its own close.
    QTimer::singleShot(0, this, [self, window] {
        const bool closed = window && window->close();
        if (self)
            Q_EMIT self->closeFinished(closed);
    });
}

void MacAppDelegate::commitData(DiarySessionEndRequest &request) {
    if (m_terminationInProgress) {
        // The quit already under way answers; the logout must not end the program before its
        // drain has stored everything.
        if (request.allowsInteraction()) {
            request.cancel();
            return;
        }
    } else if (applicationShouldTerminate() != TerminateReply::terminateLater) {
        return;
    }
    bool granted = true;
    if (m_terminationInProgress) {
        QEventLoop loop;
        const auto connection =
            connect(this, &MacAppDelegate::terminationReplied, &loop, [&](bool terminate) {
                granted = terminate;
                loop.quit();
            });
        loop.exec();
        disconnect(connection);
    }
    if (!granted && request.allowsInteraction())
        request.cancel();
}

void MacAppDelegate::applicationDidFinishLaunching() {
    const QPointer<MacAppDelegate> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self)
            self->presentMainWindow();
    });
    QTimer::singleShot(400, this, [self] {
        if (self)
            self->ensureMainWindowVisible();
    });
}

void MacAppDelegate::applicationDidBecomeActive() {
    const QPointer<MacAppDelegate> self(this);
    QTimer::singleShot(0, this, [self] {
        // Here the program becomes active through one of its own windows, and that window keeps
        // the keyboard: the book is put back on the screen only when it is the one. Brought over
        // the settings window or an alert the person came back to, it took their next key. A
        // closed book window stays closed until Show Diary, a reminder or a second launch asks.
        if (self && self->m_managedWindow && QApplication::activeWindow() == self->m_managedWindow)
            self->presentMainWindow();
    });
    if (m_cloudSync)
        m_cloudSync->schedule(std::chrono::nanoseconds::zero());
}

void MacAppDelegate::applicationDidResignActive() {
    runResign();
}

QCoro::Task<void> MacAppDelegate::runResign() {
    const QPointer<MacAppDelegate> self(this);
    bool drained = false;
    if (DiarySessionFlushing *flushing = session())
        drained = co_await drainPendingWriting(flushing, m_sessionObject);
    if (!self)
        co_return;
    if (m_cloudSync)
        m_cloudSync->schedule(std::chrono::nanoseconds::zero());
    if (const QPointer<DiaryReminderCenter> reminders = m_reminders) {
        co_await reminders->reschedule();
        if (!self)
            co_return;
    }
    Q_EMIT resignDrainFinished(drained);
}

void MacAppDelegate::presentMainWindow() {
    QWidget *window = m_managedWindow;
    if (!window)
        return;
    QList<QRect> visibleFrames;
    for (QScreen *screen : QGuiApplication::screens())
        visibleFrames.append(screen->availableGeometry());
    const bool offScreen = BookWindowGeometry::isOffScreen(window->frameGeometry(), visibleFrames);
    QScreen *target = QGuiApplication::primaryScreen();
    if (m_forceOntoPrimaryScreen && target) {
        window->move(BookWindowGeometry::centredOrigin(target->availableGeometry(),
                                                       window->frameGeometry().size()));
    } else if (offScreen && target) {
        window->move(BookWindowGeometry::centredOrigin(target->availableGeometry(),
                                                       window->frameGeometry().size()));
    }
    bringForward(*window);
}

void MacAppDelegate::ensureMainWindowVisible() {
    // A minimized window counts as visible to Qt, but not to someone looking for it.
    if (m_managedWindow && m_managedWindow->isVisible() && !m_managedWindow->isMinimized())
        return;
    if (m_showDiary)
        m_showDiary();
}

void bringForward(QWidget &window) {
    if (window.isMinimized())
        window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    window.activateWindow();
}

} // namespace velmora
