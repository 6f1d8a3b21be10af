#pragma once

#include "domain/DayKey.h"
#include "domain/DiaryCommand.h"
#include "domain/DiarySaveState.h"
#include "domain/DiarySessionStore.h"
#include "domain/UserDefaultsSettingsStore.h"
#include "pages/DiaryPageSystemStore.h"
#include "pages/PageTransitionState.h"
#include "pagescreen/VuzIvoduPageAnimation.h"
#include "platform/Cancellation.h"
#include "recall/DiaryOnThisDayItem.h"
#include "recall/views/MacSearchCardController.h"

#include <QCoroTask>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <utility>

namespace velmora {

class DiaryHandwritingIndex;
class SerialExecutor;

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

// How long the open book waits before it acts on its own. Tests shorten them.
struct VuzIvoduPageTimings {
    std::chrono::nanoseconds focusAfterLoad = std::chrono::milliseconds(250);
    std::chrono::nanoseconds savedNote = std::chrono::milliseconds(1100);
    std::chrono::nanoseconds savedNoteReducedMotion = std::chrono::milliseconds(700);
    std::chrono::nanoseconds sealAcknowledgement = std::chrono::milliseconds(1600);
    std::chrono::nanoseconds crossFadeSettle = std::chrono::milliseconds(180);
    // The longest the page waits between two looks at the civil date, so a suspended machine or
    // a clock set by hand is noticed within this time.
    std::chrono::milliseconds civilDateCheck = std::chrono::seconds(60);
    // Stretches (or, in tests, shortens) every animation the view plays.
    double animationScale = 1;
};

// The open book's state and work, without any widget: which day it shows, the editor's working
// text, font and size, the overlays and prompts it raises, and the tasks that make writing
// durable before anything irreversible happens. The view paints this state and routes input
// here; the root view creates both when the cover opens.
//
// Subscriptions, made in this order when the book appears:
//  - the session's save state: the current value is handled at once, then every change;
//  - the router's last event: the current event at once, then every new one, each event id at
//    most once for this screen (the router's claim);
//  - the session's selected day: changes only;
//  - the session's synced change count and the sync's change count: changes only.
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
    static inline const QString reopensLastPageKey = QStringLiteral("reopensLastPage");
    static inline const QString lastOpenedDayKey = QStringLiteral("lastOpenedDay");
    static inline const QString reduceMotionArgument = QStringLiteral("--velmora-reduce-motion");

    // The edge drag measures progress against the page's width.
    static constexpr double edgeDragPageWidth = 768;
    static constexpr double edgeDragMinimumDistance = 8;
    // The drag's predicted end lies this far ahead of the pointer at its last velocity; with the
    // factor of 4 the drag applies, the interaction's velocity is then the pointer's own.
    static constexpr double edgeDragDecelerationSeconds = 0.25;
    static constexpr double edgeDragVelocityFactor = 4;

    // The page's writing area, in points; the page system lays leaves out to it.
    static constexpr double writingWidth = 696;
    static constexpr double writingHeight = 840;

    VuzIvoduPageView(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                     UserDefaultsSettingsStore &settings, DiaryCommandRouter &router,
                     VuzIvoduPageTimings timings = {}, QObject *parent = nullptr);
    ~VuzIvoduPageView() override;

    // Asks the sync for a pass after the given delay; none until the shell provides it.
    void setSyncScheduler(std::function<void(std::chrono::nanoseconds)> schedule);
    // The desktop's reduce-motion setting; the launch flag wins over it.
    void setSystemReduceMotion(bool reduce);
    bool systemReduceMotion() const { return m_systemReduceMotion; }
    bool isReducedMotion() const;
    PageTransitionMode motionMode() const;

    // The book came on screen / left it.
    void appear();
    void disappear();
    bool isShown() const { return m_shown; }

    DiarySessionStore &session() const { return m_session; }
    DiaryPageSystemStore &pageSystem() const { return m_pageSystem; }
    UserDefaultsSettingsStore &settings() const { return m_settings; }

    // State.
    const QString &entryText() const { return m_entryText; }
    const QString &selectedFont() const { return m_selectedFont; }
    double fontSize() const { return m_fontSize; }
    bool showSearch() const { return m_showSearch; }
    bool showCalendar() const { return m_showCalendar; }
    bool showLeavePrompt() const { return m_showLeavePrompt; }
    bool showSavedNote() const { return m_showSavedNote; }
    bool showSealConfirmation() const { return m_showSealConfirmation; }
    bool showSealAcknowledgement() const { return m_showSealAcknowledgement; }
    int focusRequest() const { return m_focusRequest; }
    const QSet<int> &entryDays() const { return m_entryDays; }
    const std::optional<QString> &persistenceError() const { return m_persistenceError; }
    const PageTurnInteraction &edgeInteraction() const { return m_edgeInteraction; }
    // How the latest change of the saved note and of the seal card is to be animated.
    const VuzIvoduPageAnimation &savedNoteAnimation() const { return m_savedNoteAnimation; }
    const VuzIvoduPageAnimation &sealCardAnimation() const { return m_sealCardAnimation; }
    // A change of the leaf shown cross-fades in physical motion and is instant in plain motion.
    VuzIvoduPageAnimation leafChangeAnimation() const;
    // The ribbon back to today slides in and out.
    VuzIvoduPageAnimation ribbonAnimation() const;

    // Derived.
    bool isCurrentEntrySealed() const;
    bool canWriteSelectedDay() const;
    QDateTime selectedDayDate() const;
    DayKey todayKey() const;
    // "Saving…", "Draft saved", "Not saved", or none.
    std::optional<QString> saveStateNote() const;
    PageContentKind pageContentKind() const;
    std::optional<PageNoticeContent> pageNotice() const;
    // The editor's line height for its font: max(round(p × 1.6), 40).
    static double lineHeight(double pointSize);
    // The page is on its way: the book is opening on its first day, a turn or a jump is under
    // way, or a turn is still being drawn. What is typed meanwhile waits for where it lands.
    bool isSettling() const;
    // A card or an alert lies over the page: keys neither write on the page nor turn it.
    bool isPageCovered() const;
    // The page at rest, uncovered, with the editor on it: typing may write.
    bool acceptsTyping() const;

    // The editor writes every change of its whole text here.
    void setEntryTextFromEditor(const QString &text);

    // The "Writing Not Saved" alert: shown while persistenceError holds a message.
    bool isPersistenceErrorPresented() const { return m_persistenceError.has_value(); }
    void dismissPersistenceError();
    QString persistenceAlertMessage() const;
    void retry();
    // The page copy: the proposed file name, and the write of the editor's text to the chosen
    // file. Cancelling the panel calls nothing.
    QString proposedCopyName() const;
    QCoro::Task<void> saveCopy(QString path);

    // The "Leave this page?" alert.
    void dismissLeavePrompt();
    void leaveAndComeBack();
    void lockPageAndLeave();

    // Notices and the seal card.
    void confirmPastDateWriting();
    void confirmSeal();
    void hideSealConfirmation();
    void setShowSearch(bool show);
    void toggleSearch();
    void setShowCalendar(bool show);

    void requestClose();
    void handleEscape();
    void handleCommand(DiaryCommand command);
    void goToToday();
    void turnToNextPage();
    void turnToPreviousPage();
    void navigate(const DayKey &day);

    // The drag at a page edge: `translation` is the pointer's horizontal travel since the press,
    // `predictedEndTranslation` where it would come to rest. The leading strip turns backward,
    // the trailing one forward.
    void edgeDragChanged(double translation, double predictedEndTranslation,
                         PageTurnDirection direction);
    void edgeDragEnded(double predictedEndTranslation);
    // The leaf a drag in that direction uncovers: the neighbouring leaf of the day, else a blank
    // preview of the neighbouring day.
    std::optional<PageDescriptor> adjacentDescriptor(PageTurnDirection direction) const;

    // A physical turn is on screen: the page system animates one and motion is physical.
    bool isPhysicalTurnRunning() const;
    // The leaf a physical edge drag uncovers is shown under the lifted one.
    bool showsUnderLeaf() const;
    // The lifted leaf's rotation in degrees: negative turning forward.
    double edgeTurnAngle() const;
    // The book-style turn has ended.
    void finishPageTurn();
    void openCalendar();
    void showSettings();
    void handleCloudSyncChange();

    // The calendar and search cards. They look into the drawings and the index of recognised
    // handwriting once given them; until then on this day asks nothing and the search finds
    // nothing.
    using OnThisDayQuery =
        std::function<QCoro::Task<DiaryOnThisDay>(QDateTime date, GregorianCalendar calendar)>;
    void setRecall(DiaryHandwritingStore handwriting, DiaryHandwritingIndex &index);
    void setOnThisDayQuery(OnThisDayQuery query) { m_onThisDayQuery = std::move(query); }
    MacSearchCardController::Find searchFind() const;
    const std::optional<int> &firstYear() const { return m_firstYear; }
    const QList<DiaryOnThisDayItem> &onThisDay() const { return m_onThisDay; }
    // The marks of the displayed month: none while they belong to another month.
    QSet<int> calendarEntryDays() const;
    // The years the calendar's year menu offers, first and last.
    std::pair<int, int> calendarYears() const;
    void changeCalendarMonth(const DayKey &day);
    // Looks back from the clock's today, whatever day the book shows.
    QCoro::Task<void> reloadOnThisDay();
    // The cards' own close: the keyboard goes back to the editor.
    void closeCalendar();
    void closeSearch();
    // How the cards come and go: both fade, the search card in and out, the calendar out.
    VuzIvoduPageAnimation searchCardAnimation() const;
    VuzIvoduPageAnimation calendarCardAnimation() const;
    // The civil date or the time zone may have changed: look again at what may be written.
    void reevaluateCivilDate();

    // The tasks. Each runs on the GUI thread and never throws.
    QCoro::Task<void> loadTask();
    QCoro::Task<void> saveNowTask();
    QCoro::Task<void> sealPageTask();
    QCoro::Task<void> retrySaveTask();
    QCoro::Task<void> lockPageAndLeaveTask();
    QCoro::Task<void> leaveDiaryTask();
    QCoro::Task<void> flushPendingWriting();

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

private:
    using Operation = std::function<QCoro::Task<void>(CancellationToken)>;

    void setEntryText(const QString &text);
    void setEditorFont(const QString &font, double size);
    void setPersistenceError(std::optional<QString> message);
    void setShowSavedNote(bool show, VuzIvoduPageAnimation animation);
    void setShowSealConfirmation(bool show, VuzIvoduPageAnimation animation = {});
    void setShowSealAcknowledgement(bool show, VuzIvoduPageAnimation animation);
    VuzIvoduPageAnimation animation(VuzIvoduPageAnimation::Curve curve, double seconds) const;
    void setShowLeavePrompt(bool show);
    void setEntryDays(QSet<int> days);
    void setCalendarMarks(const DayKey &month, QSet<int> days);
    void requestFocus();
    void resetEdgeInteraction();
    void resetTransition();
    void requestSync();

    void applyReadingScale();
    void loadEditorFromSession();
    void restartCalendarRefresh();
    void handleDisappear();
    void handleSaveStateChange(const DiarySaveState &state);
    void handleRouterEvent(const DiaryCommandRouter::Event &event);
    void rememberLastOpenedDay(const DayKey &day);
    void handleSyncedChange();
    void entryTextDidChange(const QString &text);
    void saveNow();
    void closeDiary();

    void updateSettling();
    void startNavigation(Operation operation);
    QCoro::Task<void> navigationTask(Operation operation, CancellationToken token);
    QCoro::Task<void> refreshCalendarTask(QDateTime monthDate, DayKey firstDay,
                                          CancellationToken token);
    // Starts a task that nobody waits for; it keeps itself alive until it ends.
    static void launch(QCoro::Task<void> task);

    // The shared steps of the tasks.
    QCoro::Task<bool> drainAutosave();
    void commitEditorText();
    void requireCommittedEntry(bool drained) const;
    QCoro::Task<void> hideSavedNoteAfter(std::chrono::nanoseconds hold);
    // Commits the editor's text, makes it durable and seals the day, then shows the sealed day
    // from its first leaf. False, with the failure shown, when the page stays unsealed (or the
    // page screen went away meanwhile).
    QCoro::Task<bool> commitAndSeal();

    void armCivilDateTimer();

    DiarySessionStore &m_session;
    DiaryPageSystemStore &m_pageSystem;
    UserDefaultsSettingsStore &m_settings;
    DiaryCommandRouter &m_router;
    VuzIvoduPageTimings m_timings;
    std::function<void(std::chrono::nanoseconds)> m_scheduleSync;
    bool m_systemReduceMotion = false;
    bool m_shown = false;

    QString m_entryText;
    QString m_selectedFont = QStringLiteral("Georgia");
    double m_fontSize = 16;
    bool m_showSearch = false;
    bool m_showLeavePrompt = false;
    bool m_showSavedNote = false;
    bool m_showCalendar = false;
    QSet<int> m_entryDays;
    std::optional<QString> m_persistenceError;
    bool m_showSealConfirmation = false;
    bool m_showSealAcknowledgement = false;
    VuzIvoduPageAnimation m_savedNoteAnimation;
    VuzIvoduPageAnimation m_sealCardAnimation;
    PageTurnInteraction m_edgeInteraction;
    // The running navigation, until it ends.
    std::optional<CancellationToken> m_navigationTask;
    int m_loadsRunning = 0;
    bool m_settling = false;
    std::optional<CancellationToken> m_calendarTask;
    int m_focusRequest = 0;

    // Ended when the book leaves the screen, as the framework ends a view's own tasks.
    CancellationToken m_appearance;
    // Ended with this object, so sleeping tasks wake and find it gone.
    CancellationToken m_lifetime;
    QList<QMetaObject::Connection> m_subscriptions;
    std::optional<DayKey> m_lastSeenDay;
    DayKey m_civilToday;
    QString m_civilZone;
    QTimer m_civilDateTimer;
    std::unique_ptr<SerialExecutor> m_copyWriter;

    DiaryHandwritingIndex *m_handwritingIndex = nullptr;
    OnThisDayQuery m_onThisDayQuery;
    std::optional<int> m_firstYear;
    QList<DiaryOnThisDayItem> m_onThisDay;
    // Only the newest reload answers: an older one may finish later with yesterday's list.
    quint64 m_onThisDayGeneration = 0;
    DayKey m_entryDaysMonth;
};

} // namespace velmora
