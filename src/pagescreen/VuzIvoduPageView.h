#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryCommand.h"
#include "domain/DiarySaveState.h"
#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "pages/DiaryPageSystemStore.h"
#include "pages/PageTransitionState.h"
#include "pagescreen/PageCards.h"
#include "pagescreen/PageMotion.h"
#include "pagescreen/PageNavigation.h"
#include "pagescreen/PageWriting.h"
#include "pagescreen/VuzIvoduPageAnimation.h"
#include "pagescreen/VuzIvoduPageTimings.h"
#include "platform/Cancellation.h"

#include <QCoroTask>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

namespace velmora {

// What the writing area of a writable leaf holds.
enum class PageContentKind { editor, notice, nothing };

// The notice shown instead of the editor on a day that may not be written (yet).
struct PageNoticeContent {
    QString title;
    QString detail;
    // None: the notice offers no action.
    std::optional<QString> actionTitle;

    friend bool operator==(const PageNoticeContent &, const PageNoticeContent &) = default;
};

// The open book's state and work, without any widget. The view paints this state and routes
// input here; the root view creates both when the cover opens. It owns the parts that do the
// work and joins them:
//  - PageNavigation: which day and leaf shows, turns, the edge drag, settling;
//  - PageWriting: the editor's working text and font, Save and its note, the seal card, leaving,
//    retry and the page copy;
//  - PageCards: the calendar and search cards, their marks, on this day and the search.
// It keeps what spans them: the first load, commands and Escape, the "Writing Not Saved" alert
// every part raises, the keyboard's return to the editor, the civil date, and the sync.
//
// Subscriptions, made in this order when the book appears:
//  - the session's save state: the current value is handled at once, then every change;
//  - the router's last event: the current event at once, then every new one, each event id at
//    most once for this screen (the router's claim);
//  - the session's selected day: changes only;
//  - the session's synced change count, its reloads from the store and the sync's change count:
//    changes only.
// The load starts after these have taken their current values.
class VuzIvoduPageView : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString entryText READ entryText NOTIFY entryTextChanged)
    Q_PROPERTY(QString selectedFont READ selectedFont NOTIFY editorFontChanged)
    Q_PROPERTY(double fontSize READ fontSize NOTIFY editorFontChanged)
    Q_PROPERTY(bool showSearch READ showSearch NOTIFY showSearchChanged)
    Q_PROPERTY(bool showCalendar READ showCalendar NOTIFY showCalendarChanged)
    Q_PROPERTY(bool showLeavePrompt READ showLeavePrompt NOTIFY showLeavePromptChanged)
    Q_PROPERTY(bool showSavedNote READ showSavedNote NOTIFY showSavedNoteChanged)
    Q_PROPERTY(
        bool showSealConfirmation READ showSealConfirmation NOTIFY showSealConfirmationChanged)
    Q_PROPERTY(bool showSealAcknowledgement READ showSealAcknowledgement NOTIFY
                   showSealAcknowledgementChanged)
    Q_PROPERTY(int focusRequest READ focusRequest NOTIFY focusRequestChanged)

public:
    // The name under which this screen claims router events.
    static inline const QString routerConsumer = QStringLiteral("page");
    static inline const QString &reduceMotionArgument = PageMotion::reduceMotionArgument;

    static constexpr double edgeDragPageWidth = PageNavigation::edgeDragPageWidth;
    static constexpr double edgeDragMinimumDistance = PageNavigation::edgeDragMinimumDistance;
    static constexpr double edgeDragDecelerationSeconds =
        PageNavigation::edgeDragDecelerationSeconds;
    static constexpr double edgeDragVelocityFactor = PageNavigation::edgeDragVelocityFactor;

    // The page's writing area, in points; the page system lays leaves out to it.
    static constexpr double writingWidth = 696;
    static constexpr double writingHeight = 840;

    VuzIvoduPageView(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                     UserDefaultsSettingsStore &settings, DiaryCommandRouter &router,
                     VuzIvoduPageTimings timings = {}, QObject *parent = nullptr);
    ~VuzIvoduPageView() override;

    // The desktop's reduce-motion setting; the launch flag wins over it.
    void setSystemReduceMotion(bool reduce) { m_motion.setSystemReduceMotion(reduce); }
    bool systemReduceMotion() const { return m_motion.systemReduceMotion(); }
    bool isReducedMotion() const { return m_motion.isReducedMotion(); }
    PageTransitionMode motionMode() const { return m_motion.mode(); }

    // The book came on screen / left it.
    void appear();
    void disappear();
    bool isShown() const { return m_shown; }

    DiarySessionStore &session() const { return m_session; }
    DiaryPageSystemStore &pageSystem() const { return m_pageSystem; }
    UserDefaultsSettingsStore &settings() const { return m_settings; }

    // State.
    const QString &entryText() const { return m_writing.entryText(); }
    const QString &selectedFont() const { return m_writing.selectedFont(); }
    double fontSize() const { return m_writing.fontSize(); }
    bool showSearch() const { return m_cards.showSearch(); }
    bool showCalendar() const { return m_cards.showCalendar(); }
    bool showLeavePrompt() const { return m_writing.showLeavePrompt(); }
    bool showSavedNote() const { return m_writing.showSavedNote(); }
    bool showSealConfirmation() const { return m_writing.showSealConfirmation(); }
    bool showSealAcknowledgement() const { return m_writing.showSealAcknowledgement(); }
    int focusRequest() const { return m_focusRequest; }
    const QSet<int> &entryDays() const { return m_cards.entryDays(); }
    const std::optional<QString> &persistenceError() const { return m_persistenceError; }
    const PageTurnInteraction &edgeInteraction() const { return m_navigation.edgeInteraction(); }
    // How the latest change of the saved note and of the seal card is to be animated.
    const VuzIvoduPageAnimation &savedNoteAnimation() const {
        return m_writing.savedNoteAnimation();
    }
    const VuzIvoduPageAnimation &sealCardAnimation() const { return m_writing.sealCardAnimation(); }
    // A change of the leaf shown cross-fades in physical motion and is instant in plain motion.
    VuzIvoduPageAnimation leafChangeAnimation() const;
    // The ribbon back to today slides in and out.
    VuzIvoduPageAnimation ribbonAnimation() const;

    // Derived.
    bool isCurrentEntrySealed() const { return m_writing.isCurrentEntrySealed(); }
    bool canWriteSelectedDay() const { return m_writing.canWriteSelectedDay(); }
    QDateTime selectedDayDate() const;
    DayKey todayKey() const;
    // "Saving…", "Draft saved", "Not saved", "Restoring…" or "Importing…" while the diary is
    // replaced underneath the page, or none.
    std::optional<QString> saveStateNote() const;
    // The diary is being replaced underneath the page (a restore, an import): the page takes no
    // writing and does not turn until the new diary is read.
    bool isHeldForReplacement() const { return m_session.replacement().has_value(); }
    PageContentKind pageContentKind() const;
    std::optional<PageNoticeContent> pageNotice() const;
    // The editor's line height for its font: max(round(p × 1.6), 40).
    static double lineHeight(double pointSize);
    // The page is on its way: the book is opening on its first day, a turn or a jump is under
    // way, or a turn is still being drawn. What is typed meanwhile waits for where it lands.
    bool isSettling() const { return m_navigation.isSettling(); }
    // A card or an alert lies over the page: keys neither write on the page nor turn it.
    bool isPageCovered() const;
    // The page at rest, uncovered, with the editor on it: typing may write.
    bool acceptsTyping() const;

    // The editor writes every change of its whole text here.
    void setEntryTextFromEditor(const QString &text) { m_writing.setEntryTextFromEditor(text); }

    // The "Writing Not Saved" alert: shown while persistenceError holds a message.
    bool isPersistenceErrorPresented() const { return m_persistenceError.has_value(); }
    void dismissPersistenceError();
    QString persistenceAlertMessage() const;
    void retry();
    // The page copy: the proposed file name, and the write of the editor's text to the chosen
    // file. Cancelling the panel calls nothing.
    QString proposedCopyName() const { return m_writing.proposedCopyName(); }
    QCoro::Task<void> saveCopy(QString path) { return m_writing.saveCopy(std::move(path)); }

    // The "Leave this page?" alert.
    void dismissLeavePrompt() { m_writing.dismissLeavePrompt(); }
    void leaveAndComeBack() { m_writing.leaveAndComeBack(); }
    void lockPageAndLeave() { m_writing.lockPageAndLeave(); }

    // Notices and the seal card.
    void confirmPastDateWriting() { m_writing.confirmPastDateWriting(); }
    void confirmSeal() { m_writing.confirmSeal(); }
    void hideSealConfirmation() { m_writing.hideSealConfirmation(); }
    void setShowSearch(bool show) { m_cards.setShowSearch(show); }
    void toggleSearch() { m_cards.toggleSearch(); }
    void setShowCalendar(bool show) { m_cards.setShowCalendar(show); }

    void requestClose() { m_writing.requestClose(); }
    void handleEscape();
    void handleCommand(DiaryCommand command);
    void goToToday() { navigate(todayKey()); }
    void turnToNextPage() { m_navigation.turnToNextPage(); }
    void turnToPreviousPage() { m_navigation.turnToPreviousPage(); }
    void navigate(const DayKey &day) { m_navigation.navigate(day); }

    // The drag at a page edge: `translation` is the pointer's horizontal travel since the press,
    // `predictedEndTranslation` where it would come to rest. The leading strip turns backward,
    // the trailing one forward.
    void edgeDragChanged(double translation, double predictedEndTranslation,
                         PageTurnDirection direction) {
        m_navigation.edgeDragChanged(translation, predictedEndTranslation, direction);
    }
    void edgeDragEnded(double predictedEndTranslation) {
        m_navigation.edgeDragEnded(predictedEndTranslation);
    }
    // The leaf a drag in that direction uncovers: the neighbouring leaf of the day, else a blank
    // preview of the neighbouring day.
    std::optional<PageDescriptor> adjacentDescriptor(PageTurnDirection direction) const {
        return m_navigation.adjacentDescriptor(direction);
    }
    // A physical turn is on screen: the page system animates one and motion is physical.
    bool isPhysicalTurnRunning() const { return m_navigation.isPhysicalTurnRunning(); }
    // The leaf a physical edge drag uncovers is shown under the lifted one.
    bool showsUnderLeaf() const { return m_navigation.showsUnderLeaf(); }
    // The lifted leaf's rotation in degrees: negative turning forward.
    double edgeTurnAngle() const { return m_navigation.edgeTurnAngle(); }
    // The book-style turn has ended.
    void finishPageTurn() { m_navigation.resetTransition(); }
    void openCalendar() { m_cards.openCalendar(); }
    void showSettings() { Q_EMIT settingsRequested(); }

    // The sync. It is asked for a pass after Save and after sealing a page on the way out; its
    // own changes come back through the session's synced change count (the open page reloads)
    // and through handleCloudSyncChange (handwriting, the calendar and on this day).
    // None is asked until the shell provides the scheduler.
    void setSyncScheduler(std::function<void(std::chrono::nanoseconds)> schedule);
    void handleCloudSyncChange();

    // The calendar and search cards (see PageCards).
    using OnThisDayQuery = PageCards::OnThisDayQuery;
    void setRecall(DiaryHandwritingStore handwriting, DiaryHandwritingIndex &index) {
        m_cards.setRecall(std::move(handwriting), index);
    }
    void setOnThisDayQuery(OnThisDayQuery query) { m_cards.setOnThisDayQuery(std::move(query)); }
    MacSearchCardController::Find searchFind() const { return m_cards.searchFind(); }
    const std::optional<int> &firstYear() const { return m_cards.firstYear(); }
    const QList<DiaryOnThisDayItem> &onThisDay() const { return m_cards.onThisDay(); }
    // The marks of the displayed month: none while they belong to another month.
    QSet<int> calendarEntryDays() const { return m_cards.calendarEntryDays(); }
    // The years the calendar's year menu offers, first and last.
    std::pair<int, int> calendarYears() const { return m_cards.calendarYears(); }
    void changeCalendarMonth(const DayKey &day) { m_cards.changeCalendarMonth(day); }
    // Looks back from the clock's today, whatever day the book shows.
    QCoro::Task<void> reloadOnThisDay() { return m_cards.reloadOnThisDay(); }
    // The cards' own close: the keyboard goes back to the editor.
    void closeCalendar() { m_cards.closeCalendar(); }
    void closeSearch() { m_cards.closeSearch(); }
    VuzIvoduPageAnimation searchCardAnimation() const { return m_cards.searchCardAnimation(); }
    VuzIvoduPageAnimation calendarCardAnimation() const { return m_cards.calendarCardAnimation(); }
    // The civil date or the time zone may have changed: look again at what may be written.
    void reevaluateCivilDate();

    // The tasks. Each runs on the GUI thread and never throws.
    QCoro::Task<void> loadTask();
    QCoro::Task<void> saveNowTask() { return m_writing.saveNowTask(); }
    QCoro::Task<void> sealPageTask() { return m_writing.sealPageTask(); }
    QCoro::Task<void> retrySaveTask() { return m_writing.retrySaveTask(); }
    QCoro::Task<void> lockPageAndLeaveTask() { return m_writing.lockPageAndLeaveTask(); }
    QCoro::Task<void> leaveDiaryTask() { return m_writing.leaveDiaryTask(); }
    QCoro::Task<void> flushPendingWriting() { return m_writing.flushPendingWriting(); }

Q_SIGNALS:
    void entryTextChanged(const QString &text);
    void editorFontChanged();
    void showSearchChanged(bool show);
    void showCalendarChanged(bool show);
    void showLeavePromptChanged(bool show);
    void showSavedNoteChanged(bool show);
    void showSealConfirmationChanged(bool show);
    void showSealAcknowledgementChanged(bool show);
    void focusRequestChanged(int request);
    void entryDaysChanged(const QSet<int> &days);
    void persistenceErrorChanged(const std::optional<QString> &message);
    void edgeInteractionChanged();
    void onThisDayChanged();
    void saveStateNoteChanged();
    // The page's date-dependent texts (today's key, the hour, the prompt) may read differently.
    void civilDateChanged();
    // New handwriting may have arrived for the open day.
    void handwritingChanged();
    // The day the book opened on is read and laid out.
    void pageLoaded();
    // Close the book (the root view's showDiary becomes false).
    void closeDiaryRequested();
    void settingsRequested();
    void fullScreenToggleRequested();
    // The page started on its way, or came to rest (see isSettling).
    void settlingChanged(bool settling);
    void heldForReplacementChanged(bool held);

private:
    void joinParts();
    void setPersistenceError(std::optional<QString> message);
    void requestFocus();
    void requestFocusWhereWritable();
    void requestSync();
    void showStoredPage();

    void applyReadingScale();
    void handleSaveStateChange(const DiarySaveState &state);
    void handleRouterEvent(const DiaryCommandRouter::Event &event);
    void rememberLastOpenedDay(const DayKey &day);
    void armCivilDateTimer();

    DiarySessionStore &m_session;
    DiaryPageSystemStore &m_pageSystem;
    UserDefaultsSettingsStore &m_settings;
    DiaryCommandRouter &m_router;
    VuzIvoduPageTimings m_timings;
    PageMotion m_motion;
    PageNavigation m_navigation;
    PageWriting m_writing;
    PageCards m_cards;
    std::function<void(std::chrono::nanoseconds)> m_scheduleSync;
    bool m_shown = false;

    std::optional<QString> m_persistenceError;
    int m_focusRequest = 0;

    // Ended when the book leaves the screen, as the framework ends a view's own tasks.
    CancellationToken m_appearance;
    QList<QMetaObject::Connection> m_subscriptions;
    std::optional<DayKey> m_lastSeenDay;
    DayKey m_civilToday;
    QString m_civilZone;
    QTimer m_civilDateTimer;
};

} // namespace velmora
