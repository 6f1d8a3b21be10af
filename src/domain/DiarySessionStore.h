#pragma once

#include "domain/Clock.h"
#include "domain/DayKey.h"
#include "domain/DiaryCommand.h"
#include "domain/DiaryEntryDTO.h"
#include "domain/DiaryRepository.h"
#include "domain/DiarySaveState.h"
#include "domain/DiarySessionPhase.h"
#include "domain/DraftAutosaveCoordinator.h"
#include "domain/SettingsStore.h"
#include "platform/Cancellation.h"
#include "platform/GregorianCalendar.h"
#include "platform/WaitQueue.h"

#include <QCoroTask>
#include <QList>
#include <QObject>
#include <QSet>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace velmora {

// What replaces the whole diary underneath the open day.
enum class DiaryReplacementKind { restore, import };

// Makes sure nothing typed is left unsaved; followed before quitting, closing, resigning,
// saving, sealing, retrying, leaving and changing pages.
class DiarySessionFlushing {
public:
    virtual ~DiarySessionFlushing() = default;
    // True when nothing is pending or every pending edit was saved.
    virtual QCoro::Task<bool> flushPendingWriting() = 0;
};

// The observable state of the one open day: which day is selected, its stored entry, the unsaved
// draft, the save state, whether the day may be written and what the views should show. Lives
// on the GUI thread for the whole run. Every published field announces objectWillChange before
// it changes and its own changed signal after.
//
// An edit belongs to the day it was typed on: it is saved under that day's entry even when the
// day changes meanwhile, and a change of day publishes the new day only once no writing of the
// old one is pending.
class DiarySessionStore : public QObject, public DiaryCommandHandler, public DiarySessionFlushing {
    Q_OBJECT
    Q_PROPERTY(velmora::DayKey selectedDay READ selectedDay NOTIFY selectedDayChanged)
    Q_PROPERTY(std::optional<velmora::DiaryEntryDTO> currentEntry READ currentEntry NOTIFY
                   currentEntryChanged)
    Q_PROPERTY(
        std::optional<velmora::DiaryCommand> lastCommand READ lastCommand NOTIFY lastCommandChanged)
    Q_PROPERTY(velmora::DiarySaveState saveState READ saveState NOTIFY saveStateChanged)
    Q_PROPERTY(velmora::DiaryAuthoringAccess authoringAccess READ authoringAccess NOTIFY
                   authoringAccessChanged)
    Q_PROPERTY(velmora::DiarySessionPhase phase READ phase NOTIFY phaseChanged)
    Q_PROPERTY(qint64 syncedChangeCount READ syncedChangeCount NOTIFY syncedChangeCountChanged)

public:
    using AutosaveTiming = DraftAutosaveTiming;

    static constexpr std::chrono::nanoseconds flushPollInterval = std::chrono::milliseconds(1);

    // `calendar` is the user's auto-updating current calendar in the program; `clock` the system
    // clock when none is given.
    DiarySessionStore(std::shared_ptr<DiaryRepository> repository,
                      std::shared_ptr<SettingsStore> settings, GregorianCalendar calendar,
                      std::shared_ptr<const Clock> clock = nullptr, AutosaveTiming timing = {},
                      QObject *parent = nullptr);
    ~DiarySessionStore() override;

    const DayKey &selectedDay() const { return m_selectedDay; }
    const std::optional<DiaryEntryDTO> &currentEntry() const { return m_currentEntry; }
    const std::optional<DiaryCommand> &lastCommand() const { return m_lastCommand; }
    const DiarySaveState &saveState() const { return m_saveState; }
    DiaryAuthoringAccess authoringAccess() const { return m_authoringAccess; }
    const DiarySessionPhase &phase() const { return m_phase; }
    qint64 syncedChangeCount() const { return m_syncedChangeCount; }

    // The newest draft the user typed that no save has confirmed yet.
    const std::optional<DiaryDraftDTO> &pendingDraft() const { return m_pendingDraft; }
    DraftAutosaveCoordinator &autosave() const { return *m_autosave; }
    const std::shared_ptr<DiaryRepository> &repository() const { return m_repository; }
    const std::shared_ptr<SettingsStore> &settings() const { return m_settings; }
    const std::shared_ptr<const Clock> &clock() const { return m_clock; }
    const GregorianCalendar &calendar() const { return m_calendar; }

    // Numbers the changes of day; a change still running when it moves on has been overtaken.
    quint64 selectionGeneration() const { return m_selectionGeneration; }
    // For navigation that starts elsewhere (the page screen) and must overtake a running change.
    void advanceSelectionGeneration() { ++m_selectionGeneration; }

    // Opens the day of the clock's current time.
    QCoro::Task<void> selectToday(CancellationToken token = CancellationToken());

    // Opens another day: flushes pending writing, loads the day's entry, then publishes the day,
    // the entry and the save state and decides the authoring access. Fails with
    // CancellationError when `token` is cancelled or a newer change overtook this one; a change
    // that fails after loading began puts back the published state it found, unless a newer
    // change owns it.
    QCoro::Task<void> changeDay(DayKey target, CancellationToken token = CancellationToken());

    // The whole diary is about to be replaced underneath the open day (a restore, an import):
    // stores pending writing, then holds the day until endReplacement(). Meanwhile edits are
    // refused, synced entries are left to the store, and flushes (quitting, closing, changing
    // pages) wait for the end. False when pending writing could not be stored; the day is held
    // all the same.
    QCoro::Task<bool> beginReplacement(DiaryReplacementKind kind);
    // Ends the hold. Once the store was replaced meanwhile, writing that could not be stored
    // before goes beside the new diary as a recovery record rather than over it, and the open
    // day is read again (reloadedFromStore) before anything can be typed on it, so its next save
    // is checked against the new entry.
    QCoro::Task<void> endReplacement();
    const std::optional<DiaryReplacementKind> &replacement() const { return m_replacement; }

    // Decides `authoringAccess` and `phase` for the selected day again.
    QCoro::Task<void> refreshAuthoringAccess();

    // The user's "Write for this date" on a blank past day.
    void confirmWritingForPastDay();

    // The days of the month of `dateInMonth` that have an entry.
    QCoro::Task<QSet<int>> entryDays(QDateTime dateInMonth);

    void handle(DiaryCommand command) override;

    QCoro::Task<bool> flushPendingWriting() override;

    // Records an edit of the selected day. Throws PersistenceError (sealed entry, a seal in
    // progress, edit numbering exhausted) or DiarySessionError (a day that may not be written).
    void updateDraft(const QString &content, const std::optional<QString> &fontName = std::nullopt,
                     std::optional<double> bodyPointSize = std::nullopt);

    // The text to show for the selected day.
    QString currentText() const;

    // The autosave's save operation and acknowledgement. A save the store refuses because its
    // entry moved on (a conflict, or a seal made elsewhere) re-reads the day before the refusal
    // is reported: a stored draft is kept as a recovery record and becomes the entry the text is
    // saved onto at the next try; a sealed entry is shown, and the unsaved text kept as a
    // recovery record.
    QCoro::Task<DiarySaveResult> performAutosave(DiaryDraftDTO draft, qint64 editSequence);
    void acknowledgeSave(const DiarySaveResult &result);
    void autosaveStateDidChange(const DiarySaveState &state);

    // Seals the selected day's entry after saving any pending writing. `askedOfGeneration` is
    // the shownGeneration() of the page the user asked about (by default, the one shown now):
    // nothing is sealed while the diary is being replaced or once it has been since.
    QCoro::Task<DiaryEntryDTO> seal(std::optional<quint64> askedOfGeneration = std::nullopt);
    // The store's generation the open day was read in; another once the diary was replaced.
    quint64 shownGeneration() const { return m_readInGeneration; }

    // True while local writing is not yet safely stored.
    bool hasPendingLocalWriting() const;

    // Takes in an entry that sync stored for the open day; entries of other days are ignored.
    // Unsaved local writing that differs from it is first kept as a recovery record (a failure
    // to keep it is thrown and changes nothing); then the synced entry replaces it.
    QCoro::Task<void> applySyncedEntry(DiaryEntryDTO entry);
    // Sync wrote or removed drawings of these days: the open page reloads once when its day is
    // among them.
    void applySyncedHandwriting(const QList<DayKey> &days);

Q_SIGNALS:
    void objectWillChange();
    void selectedDayChanged(const velmora::DayKey &day);
    void currentEntryChanged(const std::optional<velmora::DiaryEntryDTO> &entry);
    void lastCommandChanged(const std::optional<velmora::DiaryCommand> &command);
    void saveStateChanged(const velmora::DiarySaveState &state);
    void authoringAccessChanged(velmora::DiaryAuthoringAccess access);
    void phaseChanged(const velmora::DiarySessionPhase &phase);
    void syncedChangeCountChanged(qint64 count);
    // The open day was read again after the diary changed underneath it.
    void reloadedFromStore();
    // A replacement of the whole diary began or ended.
    void replacementChanged();

private:
    struct Snapshot {
        DayKey selectedDay;
        std::optional<DiaryEntryDTO> currentEntry;
        DiarySaveState saveState;
        DiaryAuthoringAccess authoringAccess;
        DiarySessionPhase phase;
    };

    template <typename T, typename Signal> void publish(T &field, T value, Signal changed);
    void setSelectedDay(DayKey day);
    void setCurrentEntry(std::optional<DiaryEntryDTO> entry);
    void setSaveState(DiarySaveState state);
    void setAuthoringAccess(DiaryAuthoringAccess access);
    void setPhase(DiarySessionPhase phase);

    Snapshot snapshot() const;
    void restore(const Snapshot &snapshot);
    DayKey today() const;
    void decideAuthoringAccess();
    void applyAutosaveState(const DiarySaveState &state);
    void applyPendingOrIdlePhase();
    void restoreEditingPhase();
    QCoro::Task<void> waitWhileSaveInFlight();
    QCoro::Task<void> waitWhileReplacing();
    // The flush itself, which does not wait for a replacement.
    QCoro::Task<bool> storePendingWriting();
    void publishLoadedDay(DayKey day, std::optional<DiaryEntryDTO> loaded, quint64 readIn);
    QCoro::Task<void> readSelectedDayAgain();
    // Keeps the writing the store was not given before the diary was replaced; false when it
    // could not be kept, and then it stays pending.
    QCoro::Task<bool> keepUnstoredWritingAside();
    // Keeps the day's newest unsaved writing as a recovery record unless it reads `unless`; true
    // once nothing pending is left unkept, false once the session or `abandoned()` gives up on it.
    // Throws what the store threw.
    QCoro::Task<bool> keepPendingWritingAside(DayKey day, std::optional<QString> unless,
                                              std::function<bool()> abandoned);
    QCoro::Task<void> keepWritingOfAReplacedDiary(DiaryDraftDTO draft,
                                                  std::optional<DiaryEntryDTO> stored,
                                                  quint64 storedGeneration);
    std::optional<DiaryDraftDTO> pendingLocalDraft(const DayKey &day) const;
    QCoro::Task<void> recoverRejectedSave(DiaryDraftDTO draft);
    QCoro::Task<void> keepPendingWritingBeside(DiaryEntryDTO sealed);
    // Keeps unsaved local writing as a recovery record; a failure to keep it is thrown.
    QCoro::Task<void> keepLocalWritingAside(DiaryDraftDTO local);

    std::shared_ptr<DiaryRepository> m_repository;
    std::shared_ptr<SettingsStore> m_settings;
    std::shared_ptr<const Clock> m_clock;
    GregorianCalendar m_calendar;
    DayKey m_selectedDay;
    std::optional<DiaryEntryDTO> m_currentEntry;
    std::optional<DiaryCommand> m_lastCommand;
    DiarySaveState m_saveState;
    DiaryAuthoringAccess m_authoringAccess = DiaryAuthoringAccess::allowed;
    DiarySessionPhase m_phase;
    qint64 m_syncedChangeCount = 0;
    DraftAutosaveCoordinator *m_autosave = nullptr;
    std::optional<DiaryDraftDTO> m_pendingDraft;
    quint64 m_selectionGeneration = 0;
    // The day of the last saved entry, so a late save of another day leaves the open one alone.
    DayKey m_lastSavedDay;
    // Set when a save was refused because the day had been sealed elsewhere and the unsaved text
    // is kept: once the autosave reports the failure, the day is shown sealed.
    bool m_sealAfterRejectedSave = false;
    // One element per seal still running, with the re-read after a refusal: a day's edits are
    // refused until none of its seals runs, since a landing seal would drop them.
    QList<DayKey> m_sealingDays;
    // The store's generation when the open day's entry was read: a save or seal made from it
    // is refused once the diary has been replaced since.
    quint64 m_readInGeneration = 0;
    // Set when a save was refused because the diary had been replaced and its text was kept
    // aside: once the autosave reports the failure, the edit is dropped and the new page shown.
    bool m_dropAfterRejectedSave = false;
    std::optional<DiaryReplacementKind> m_replacement;
    // What waits for the replacement to end: a flush, or the next replacement.
    WaitQueue m_replacementWaiters;
    quint64 m_generationBeforeReplacement = 0;
};

} // namespace velmora
