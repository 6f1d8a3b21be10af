#pragma once

#include "domain/Clock.h"
#include "domain/DayKey.h"
#include "domain/DiaryRepository.h"
#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "platform/Cancellation.h"
#include "platform/UserDefaults.h"
#include "store/DiaryHandwritingStore.h"
#include "sync/DiaryCloudSyncFolder.h"
#include "sync/DiaryCloudSyncManifest.h"
#include "sync/DiaryCloudSyncRoot.h"

#include <QCoroTask>
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmora {

class DiaryCloudSyncWatcher;

// `failed` carries the failure's message (DiaryCloudSync::failureMessage).
enum class DiaryCloudSyncStatus { failed, off, unavailable, syncing, upToDate };

// The end of one sync loop. Whoever waits for it holds it, so a waiter never waits on an object
// that is gone.
class DiaryCloudSyncLoopEnd : public QObject {
    Q_OBJECT

public:
    bool hasEnded() const { return m_ended; }
    void end();

Q_SIGNALS:
    void ended();

private:
    bool m_ended = false;
};

// Keeps the diary and the tablet on the same pages through the sync folder. Passes run one at a
// time on the GUI thread, with at most one more asked for behind the running one: pages first,
// then handwriting, then the profile, with the manifest of marks saved after each step that
// completed. Every file operation runs off the GUI thread and is awaited, so the user keeps
// writing while a pass runs.
class DiaryCloudSync : public QObject {
    Q_OBJECT
    Q_PROPERTY(qint64 changeCount READ changeCount NOTIFY changeCountChanged)
    Q_PROPERTY(bool isEnabled READ isEnabled NOTIFY isEnabledChanged)

public:
    // The sync folder, when there is one. Called off the GUI thread; may touch the disk.
    using RootProvider = std::function<std::optional<QString>()>;
    using InkChangedHandler = std::function<void(const QList<QPair<DayKey, qint64>> &)>;
    using Manifest = DiaryCloudSyncManifest;
    using Mark = DiaryCloudSyncMark;

    static inline const QString lastSyncKey = QStringLiteral("Velmora.sync.lastSync");
    // Beside the manifest's folder in the diary's folder: page files that could not be read and
    // were replaced by the local page, kept by day and fingerprint.
    static inline const QString unreadablePagesFolderName = QStringLiteral("Recovery/Sync");

    struct Services {
        std::shared_ptr<DiaryRepository> repository;
        QPointer<DiarySessionStore> session;
        std::shared_ptr<UserDefaultsSettingsStore> settings;
        std::shared_ptr<DiaryHandwritingStore> handwriting;
        std::shared_ptr<UserDefaults> defaults;
        // Stamps `lastSync` and words its age; the system clock when none is given.
        std::shared_ptr<const Clock> clock = nullptr;
    };

    // How long the triggers wait; tests shorten them.
    struct Timing {
        // After a page was saved or sealed.
        std::chrono::nanoseconds afterSave = std::chrono::seconds(4);
        // After something changed in the sync folder.
        std::chrono::nanoseconds afterFolderChange = std::chrono::seconds(1);
        std::chrono::nanoseconds heartbeat = std::chrono::seconds(60);
    };

    DiaryCloudSync(Services services, QString manifestURL, RootProvider rootProvider,
                   bool watchesICloud, std::chrono::seconds heartbeatInterval,
                   QObject *parent = nullptr);
    ~DiaryCloudSync() override;

    // The root provider of a run that must never reach a real sync folder.
    static RootProvider noSyncRoot();
    // The root provider of a live run: "Diary Sync" in the folder the user chose, none while no
    // usable folder is chosen.
    static RootProvider iCloudSyncRoot(std::shared_ptr<const DiaryCloudSyncFolderChoice> choice);

    DiaryCloudSyncStatus status() const { return m_status; }
    // The message of a failed pass; empty in every other status.
    const QString &failureMessage() const { return m_failureMessage; }
    // The status line shown beside the sync switch.
    QString statusText() const;
    static QString statusText(DiaryCloudSyncStatus status, const QString &failureMessage,
                              const std::optional<QDateTime> &lastSync, const QDateTime &now);
    const std::optional<QDateTime> &lastSync() const { return m_lastSync; }
    bool isEnabled() const { return m_isEnabled; }
    qint64 changeCount() const { return m_changeCount; }
    const QString &manifestURL() const { return m_manifestURL; }
    const RootProvider &rootProvider() const { return m_rootProvider; }
    bool watchesICloud() const { return m_watchesICloud; }
    std::chrono::seconds heartbeatInterval() const { return m_heartbeatInterval; }
    const Services &services() const { return m_services; }
    const Timing &timing() const { return m_timing; }
    void setTiming(const Timing &timing);
    // Asks the sync tool to fetch a file that is only a placeholder.
    void setDownloadRequester(DiaryCloudSyncFolder::DownloadRequester requester) {
        m_downloads = std::move(requester);
    }
    // Runs at each step of every write into the sync folder; tests write there as the other side.
    void setWriteInterruption(DiaryCloudSyncFolder::WriteInterruption interruption) {
        m_writeInterruption = std::move(interruption);
    }
    QString unreadablePagesFolder() const;
    bool isRunning() const { return m_running; }

    InkChangedHandler onInkChanged;

    // Once: follows the session's saves, watches the sync folder, starts the heartbeat and asks
    // for a pass at once.
    void start();
    // Asks for a pass after the delay, while the switch is on; a newer request replaces it.
    void schedule(std::chrono::nanoseconds after);
    // Stores the switch; off shows `off` at once, on asks for a pass at once.
    void setEnabled(bool enabled);
    // Runs a pass now, or one more behind a running one, and returns when the passes have ended.
    QCoro::Task<void> syncNow();
    // Never throws; returns when the pass ended or `atMost` passed. A pass that outlasts the
    // limit goes on.
    QCoro::Task<void> syncNow(std::chrono::nanoseconds atMost);
    // For quitting: no pass starts any more, the running one stops after the file operation in
    // flight, and this returns once it has stopped or `atMost` passed.
    QCoro::Task<void> stop(std::chrono::nanoseconds atMost);
    // The diary was replaced as a whole (a restore, an import that replaced it): what the page
    // marks say about local revisions no longer holds, even where a page brought the revision of
    // its mark along. Every page of the new diary counts as changed here from the next pass on
    // (on disk too), so it goes out where the other device did not change the day since the
    // last exchange, and the page file it replaces is kept as a recovery record.
    void forgetLocalRevisions();

    // The design's choice among the versions of one page file (the current file first): a sealed
    // version beats every draft, then the latest `updatedAt`; ties keep the earlier version.
    static std::optional<DiaryEntryDTO> pickPreferredEntry(const QList<DiaryEntryDTO> &versions);
    // Whether the incoming entry replaces the local one when both differ.
    static bool remoteEntryWins(const DiaryEntryDTO &local, const DiaryEntryDTO &remote,
                                bool localChanged);
    // The same words, status, font and size: nothing to exchange.
    static bool samePage(const DiaryEntryDTO &a, const DiaryEntryDTO &b);

Q_SIGNALS:
    void changeCountChanged(qint64 count);
    void isEnabledChanged(bool isEnabled);
    void statusChanged(DiaryCloudSyncStatus status);
    void lastSyncChanged();
    void syncLoopEnded();

private:
    // Runs `work` on a pool thread and hands back its result or its exception on the GUI thread.
    template <typename F> static QCoro::Task<std::invoke_result_t<F &>> offThread(F work);
    // The same, for work of a pass: throws CancellationError when the engine went away meanwhile.
    template <typename F> QCoro::Task<std::invoke_result_t<F &>> folderWork(F work);
    // Awaits a store or session task; throws CancellationError when the engine went away.
    template <typename T> QCoro::Task<T> awaited(QCoro::Task<T> task);

    void requestSync();
    QCoro::Task<void> runSyncLoop();
    // One pass, then the change count raised for what it stored, however it ended, and the local
    // revisions forgotten on disk if the pass could not do it on its way.
    QCoro::Task<void> runSyncOnce();
    QCoro::Task<void> runPass();
    // Whether the running pass should stop at the next point where it can.
    bool passInterrupted() const;

    // The manifest of one pass: its marks, what the file holds, and up to which request to forget
    // the local revisions the marks have forgotten them.
    struct PassManifest {
        Manifest marks;
        Manifest onDisk;
        quint64 forgottenThrough = 0;
    };
    QCoro::Task<void> saveManifest(PassManifest &manifest);
    // Saves the marks of a step that completed; false when the pass ends there, the switch
    // turned off or the pass stopped.
    QCoro::Task<bool> keepStep(PassManifest &manifest);
    // Forgets the local revisions on disk when a pass could not do it on its way.
    QCoro::Task<void> settleForgottenRevisions();
    QCoro::Task<void> waitForLoopEnd(std::optional<std::chrono::nanoseconds> atMost);

    QCoro::Task<bool> reconcilePages(const DiaryCloudSyncFolder &folder, Manifest &manifest);
    // The one place where handwriting joins the pass, between pages and the profile. Returns
    // whether a local drawing file was written or removed.
    QCoro::Task<bool> reconcileInk(const DiaryCloudSyncFolder &folder, Manifest &manifest);
    QCoro::Task<bool> reconcileProfile(const DiaryCloudSyncFolder &folder);
    QCoro::Task<bool> isDaySealed(DayKey day);

    struct PageDay;
    QCoro::Task<bool> reconcilePage(const DiaryCloudSyncFolder &folder, Manifest &manifest,
                                    const PageDay &day);
    QCoro::Task<bool> readAndMerge(const DiaryCloudSyncFolder &folder, Manifest &manifest,
                                   const PageDay &day);
    // Writes the local entry of the day over its page file, unless the file changed since it was
    // listed or changes before the write takes its place. Returns whether it marked the day.
    QCoro::Task<bool> uploadPage(const DiaryCloudSyncFolder &folder, Manifest &manifest,
                                 const PageDay &day);
    struct DayRead;
    // Keeps every version of the day with words that none of `kept` has as a recovery record;
    // returns the copies that may go once the day's outcome is stored.
    QCoro::Task<QList<DiaryCloudSyncFolder::ConflictCopy>>
    keepVersions(const DiaryCloudSyncFolder &folder, const DayRead &read,
                 QList<DiaryEntryDTO> kept);
    // Removes those copies, unless they changed since they were read.
    QCoro::Task<void> settleConflicts(const DiaryCloudSyncFolder &folder, const DayKey &day,
                                      const QList<DiaryCloudSyncFolder::ConflictCopy> &copies);

    // Keeps the message of a day that waits until someone clears its file's name, the first of
    // the pass, to show instead of "Up to date".
    void leaveBehind(const DiaryCloudSyncFolder::FolderError &error);
    void setStatus(DiaryCloudSyncStatus status, const QString &failureMessage = {});
    QDateTime now() const;
    void startWatching();

    Services m_services;
    QString m_manifestURL;
    RootProvider m_rootProvider;
    bool m_watchesICloud = false;
    std::chrono::seconds m_heartbeatInterval;
    Timing m_timing;
    DiaryCloudSyncFolder::DownloadRequester m_downloads = DiaryCloudSyncFolder::noDownloads();
    DiaryCloudSyncFolder::WriteInterruption m_writeInterruption;
    DiaryCloudSyncStatus m_status = DiaryCloudSyncStatus::off;
    QString m_failureMessage;
    QTimer m_scheduled;
    QTimer m_heartbeat;
    bool m_started = false;
    bool m_stopped = false;
    bool m_running = false;
    bool m_rerunRequested = false;
    std::shared_ptr<DiaryCloudSyncLoopEnd> m_loopEnd;
    CancellationToken m_passToken;
    // The manifest as this engine last read or wrote it, and the file's fingerprint then.
    struct ManifestFile {
        std::optional<QString> fingerprint;
        Manifest manifest;
    };
    std::optional<ManifestFile> m_manifestOnDisk;
    // Raised by forgetLocalRevisions; the marks on disk have forgotten them up to
    // `m_forgottenOnDisk`, the marks of the running pass up to `m_passForgotten`.
    quint64 m_forgetRequests = 0;
    quint64 m_forgottenOnDisk = 0;
    quint64 m_passForgotten = 0;
    DiaryCloudSyncWatcher *m_watcher = nullptr;
    std::optional<QDateTime> m_lastSync;
    bool m_isEnabled = true;
    qint64 m_changeCount = 0;
    // Whether the running pass changed the diary; set as soon as it stored something, so a step
    // that throws afterwards does not hide it.
    bool m_passChanged = false;
    // Why a day of the running pass could not be sent, the first such; a pass that went through
    // everything else shows it instead of "Up to date".
    QString m_passLeftBehind;
};

} // namespace velmora
