#pragma once

#include "backup/DiaryDataOperationGuard.h"
#include "daily/DiaryReminderCenter.h"
#include "domain/DiarySessionStore.h"
#include "sync/DiaryCloudSync.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <QWidget>

#include <chrono>
#include <functional>

namespace velmora {

// A logout or shutdown of the desktop session, as the session manager asks it.
class DiarySessionEndRequest {
public:
    virtual ~DiarySessionEndRequest() = default;
    // Whether the logout may still be cancelled.
    virtual bool allowsInteraction() = 0;
    virtual void cancel() = 0;
};

// Keeps typed words from being lost on the way out: a quit, a close of the book window and the
// program losing the focus all drain the session's pending writing first, and a quit or close
// goes ahead only when that drain stored everything. Also brings the book window forward.
// References to the services are weak and read again at each step; a missing one skips its step.
class MacAppDelegate : public QObject {
    Q_OBJECT

public:
    enum class TerminateReply {
        terminateNow,
        terminateLater,
        // A quit is already being prepared; it answers for this request too.
        alreadyTerminating,
    };

    // How long a quit lets a sync pass, and an export's file, go on before it stops them.
    static constexpr std::chrono::seconds terminationSyncLimit{5};
    // How long a quit then waits for a pass it stopped to finish the file operation in flight.
    static constexpr std::chrono::seconds terminationStopLimit{2};

    explicit MacAppDelegate(QObject *parent = nullptr);

    template <typename Session>
    requires std::derived_from<Session, QObject> && std::derived_from<Session, DiarySessionFlushing>
    void setSession(Session *session) {
        m_sessionObject = session;
        m_session = session;
    }
    void setCloudSync(DiaryCloudSync *cloudSync) { m_cloudSync = cloudSync; }
    void setReminders(DiaryReminderCenter *reminders) { m_reminders = reminders; }
    void setDataOperations(DiaryDataOperationGuard *operations) { m_dataOperations = operations; }
    void setForceMainWindowOntoPrimaryScreen(bool force) { m_forceOntoPrimaryScreen = force; }
    // The quit's limits; tests shorten them.
    void setTerminationSyncLimits(std::chrono::nanoseconds sync, std::chrono::nanoseconds stop) {
        m_terminationSync = sync;
        m_terminationStop = stop;
    }
    // What a granted quit does; leaving the event loop unless a test says otherwise.
    void setTerminate(std::function<void()> terminate) { m_terminate = std::move(terminate); }
    // How a hidden or closed book window is brought back ("Show Diary").
    void setShowDiary(std::function<void()> showDiary) { m_showDiary = std::move(showDiary); }

    bool terminationInProgress() const { return m_terminationInProgress; }
    bool closeInProgress() const { return m_closeInProgress; }
    bool allowNextClose() const { return m_allowNextClose; }
    QWidget *managedWindow() const { return m_managedWindow; }

    void adoptMainWindow(QWidget *window);

    // Quit from the menu, the keyboard, a signal or the desktop session.
    TerminateReply applicationShouldTerminate();
    // The book window asks before it closes; false keeps it open for now.
    bool windowShouldClose();
    // The desktop session is ending. Runs the quit drain to its end before returning unless the
    // logout can be cancelled, in which case it is cancelled and the program quits itself once
    // the drain stored everything.
    void commitData(DiarySessionEndRequest &request);

    void applicationDidFinishLaunching();
    void applicationDidBecomeActive();
    void applicationDidResignActive();

    void presentMainWindow();
    void ensureMainWindowVisible();

Q_SIGNALS:
    // The answer of a quit that was answered later: true once it may end.
    void terminationReplied(bool terminate);
    // A close task ended; `closed` when the window was closed after the drain.
    void closeFinished(bool closed);
    // A drain on losing the focus ended.
    void resignDrainFinished(bool drained);

private:
    DiarySessionFlushing *session() const { return m_sessionObject ? m_session : nullptr; }
    QCoro::Task<void> runTermination(DiarySessionFlushing *session, QPointer<QObject> sessionObject,
                                     QPointer<DiaryCloudSync> cloudSync,
                                     QPointer<DiaryDataOperationGuard> operations);
    QCoro::Task<void> runClose(DiarySessionFlushing *session, QPointer<QObject> sessionObject);
    QCoro::Task<void> runResign();

    QPointer<QObject> m_sessionObject;
    DiarySessionFlushing *m_session = nullptr;
    QPointer<DiaryCloudSync> m_cloudSync;
    QPointer<DiaryReminderCenter> m_reminders;
    QPointer<DiaryDataOperationGuard> m_dataOperations;
    bool m_forceOntoPrimaryScreen = false;
    std::chrono::nanoseconds m_terminationSync = terminationSyncLimit;
    std::chrono::nanoseconds m_terminationStop = terminationStopLimit;
    bool m_terminationInProgress = false;
    bool m_closeInProgress = false;
    bool m_allowNextClose = false;
    QPointer<QWidget> m_managedWindow;
    std::function<void()> m_terminate;
    std::function<void()> m_showDiary;
};

// Shows a window in front of the others and gives it the keyboard: hidden or minimized, it comes
// back as it was before (maximized or full screen stay so).
void bringForward(QWidget &window);

// The drain shared by quitting, closing and resigning: false when pending writing could not be
// stored (or the session went away meanwhile).
QCoro::Task<bool> drainPendingWriting(DiarySessionFlushing *session,
                                      QPointer<QObject> sessionObject);

// The same drain for a process that ends before its event loop turns again (its display went
// away): it returns once nothing is pending, taking the store's answers from the calls posted to
// this thread rather than from the loop. False when a save failed or `limit` passed first.
bool drainPendingWritingNow(DraftAutosaveCoordinator &autosave, std::chrono::nanoseconds limit);

} // namespace velmora
