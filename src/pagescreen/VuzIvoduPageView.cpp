#include "pagescreen/VuzIvoduPageView.h"

#include "pagescreen/PageScreenLogging.h"
#include "pagescreen/PageTaskFailure.h"
#include "platform/AsyncSleep.h"

#include <QPointer>
#include <QScopeGuard>

#include <algorithm>
#include <cmath>

namespace velmora {

VuzIvoduPageView::VuzIvoduPageView(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                                   UserDefaultsSettingsStore &settings, DiaryCommandRouter &router,
                                   VuzIvoduPageTimings timings, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_pageSystem(pageSystem)
    , m_settings(settings)
    , m_router(router)
    , m_timings(timings)
    , m_motion(timings.animationScale)
    , m_navigation(session, pageSystem, settings, m_motion, timings.crossFadeSettle)
    , m_writing(session, pageSystem, settings, m_motion, timings)
    , m_cards(session, pageSystem, m_motion) {
    m_civilDateTimer.setSingleShot(true);
    connect(&m_civilDateTimer, &QTimer::timeout, this, &VuzIvoduPageView::reevaluateCivilDate);
    joinParts();
}

VuzIvoduPageView::~VuzIvoduPageView() {
    // The parts go after this object's own members; nothing they do on the way reaches back.
    for (QObject *part : std::initializer_list<QObject *>{&m_navigation, &m_writing, &m_cards})
        part->disconnect(this);
    m_appearance.cancel();
}

// What each part reports, and what it asks of the others.
void VuzIvoduPageView::joinParts() {
    const auto fail = [this](const QString &message) { setPersistenceError(message); };

    connect(&m_navigation, &PageNavigation::failed, this, fail);
    connect(&m_navigation, &PageNavigation::arrived, this, [this] {
        m_writing.loadEditorFromSession();
        m_cards.refreshMarks();
    });
    connect(&m_navigation, &PageNavigation::settled, this,
            &VuzIvoduPageView::requestFocusWhereWritable);
    connect(&m_navigation, &PageNavigation::edgeInteractionChanged, this,
            &VuzIvoduPageView::edgeInteractionChanged);
    connect(&m_navigation, &PageNavigation::settlingChanged, this,
            &VuzIvoduPageView::settlingChanged);

    connect(&m_writing, &PageWriting::failed, this, fail);
    connect(&m_writing, &PageWriting::failureCleared, this,
            [this] { setPersistenceError(std::nullopt); });
    connect(&m_writing, &PageWriting::focusWanted, this, &VuzIvoduPageView::requestFocus);
    connect(&m_writing, &PageWriting::entryStored, &m_cards, &PageCards::refreshMarks);
    connect(&m_writing, &PageWriting::syncWanted, this, &VuzIvoduPageView::requestSync);
    connect(&m_writing, &PageWriting::closeRequested, this, &VuzIvoduPageView::closeDiaryRequested);
    connect(&m_writing, &PageWriting::entryTextChanged, this, &VuzIvoduPageView::entryTextChanged);
    connect(&m_writing, &PageWriting::editorFontChanged, this,
            &VuzIvoduPageView::editorFontChanged);
    connect(&m_writing, &PageWriting::showSavedNoteChanged, this,
            &VuzIvoduPageView::showSavedNoteChanged);
    connect(&m_writing, &PageWriting::showSealConfirmationChanged, this,
            &VuzIvoduPageView::showSealConfirmationChanged);
    connect(&m_writing, &PageWriting::showSealAcknowledgementChanged, this,
            &VuzIvoduPageView::showSealAcknowledgementChanged);
    connect(&m_writing, &PageWriting::showLeavePromptChanged, this,
            &VuzIvoduPageView::showLeavePromptChanged);

    connect(&m_cards, &PageCards::failed, this, fail);
    connect(&m_cards, &PageCards::focusWanted, this, &VuzIvoduPageView::requestFocus);
    connect(&m_cards, &PageCards::showSearchChanged, this, &VuzIvoduPageView::showSearchChanged);
    connect(&m_cards, &PageCards::showCalendarChanged, this,
            &VuzIvoduPageView::showCalendarChanged);
    connect(&m_cards, &PageCards::entryDaysChanged, this, &VuzIvoduPageView::entryDaysChanged);
    connect(&m_cards, &PageCards::onThisDayChanged, this, &VuzIvoduPageView::onThisDayChanged);
}

// --- Appearing and disappearing ---------------------------------------------------------------

void VuzIvoduPageView::appear() {
    if (m_shown)
        return;
    m_shown = true;
    m_appearance = CancellationToken();

    // The page system keeps its built-in geometry until told otherwise; tell it before the first
    // day is laid out, so the first layout already has the leaf's real size.
    applyReadingScale();
    m_subscriptions << connect(&m_settings, &UserDefaultsSettingsStore::readingScaleChanged, this,
                               &VuzIvoduPageView::applyReadingScale);

    m_subscriptions << connect(&m_session, &DiarySessionStore::saveStateChanged, this,
                               [this](const DiarySaveState &state) {
                                   handleSaveStateChange(state);
                                   Q_EMIT saveStateNoteChanged();
                               });
    handleSaveStateChange(m_session.saveState());

    m_subscriptions << connect(&m_router, &DiaryCommandRouter::lastEventChanged, this,
                               &VuzIvoduPageView::handleRouterEvent);
    if (const auto &event = m_router.lastEvent())
        handleRouterEvent(*event);

    m_lastSeenDay = m_session.selectedDay();
    m_subscriptions << connect(&m_session, &DiarySessionStore::selectedDayChanged, this,
                               [this](const DayKey &day) {
                                   if (m_lastSeenDay == day)
                                       return;
                                   m_lastSeenDay = day;
                                   rememberLastOpenedDay(day);
                               });
    m_subscriptions << connect(&m_session, &DiarySessionStore::syncedChangeCountChanged, this,
                               &VuzIvoduPageView::showStoredPage);
    m_subscriptions << connect(&m_session, &DiarySessionStore::reloadedFromStore, this,
                               &VuzIvoduPageView::showStoredPage);
    m_subscriptions << connect(&m_session, &DiarySessionStore::replacementChanged, this, [this] {
        // The seal card and the leave prompt ask about the page being replaced: they go, to be
        // asked again, if wanted, of the page the new diary brings. Neither opens while the page
        // is held, and should one have slipped in, it goes with the old page too.
        m_writing.hideSealConfirmation();
        m_writing.dismissLeavePrompt();
        Q_EMIT heldForReplacementChanged(isHeldForReplacement());
        Q_EMIT saveStateNoteChanged();
    });

    m_civilToday = todayKey();
    m_civilZone = m_session.calendar().timeZoneIdentifier();
    armCivilDateTimer();

    m_navigation.loadStarted();
    launchPageTask(loadTask());
    launchPageTask(m_cards.reloadOnThisDay());
}

void VuzIvoduPageView::disappear() {
    if (!m_shown)
        return;
    m_shown = false;
    for (const auto &subscription : std::as_const(m_subscriptions))
        disconnect(subscription);
    m_subscriptions.clear();
    m_civilDateTimer.stop();
    m_appearance.cancel();
    m_navigation.stop();
    m_cards.stop();
    launchPageTask(m_writing.flushPendingWriting());
}

void VuzIvoduPageView::applyReadingScale() {
    m_pageSystem.updateMetrics(
        LeafLayoutMetrics{writingWidth, writingHeight, 0, 0, 0, m_settings.readingScale()});
}

QCoro::Task<void> VuzIvoduPageView::loadTask() {
    const QPointer<VuzIvoduPageView> self(this);
    const auto loaded = qScopeGuard([self] {
        if (self)
            self->m_navigation.loadEnded();
    });
    const CancellationToken appearance = m_appearance;
    // Read before today opens: opening today is itself a change of day, which is remembered.
    const auto lastOpened =
        m_settings.reopensLastPage()
            ? UserDefaultsSettingsStore::lastOpenedDaySetting.stored(*m_settings.defaults())
            : std::nullopt;
    std::exception_ptr failure;
    try {
        co_await m_session.selectToday(appearance);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        if (!isCancellation(failure))
            setPersistenceError(describePageFailure(failure));
        co_return;
    }

    if (lastOpened) {
        const auto day = DayKey::fromRawValue(*lastOpened);
        if (day && *day != m_session.selectedDay()) {
            try {
                co_await m_pageSystem.navigate(*day, appearance);
            } catch (...) {
                failure = std::current_exception();
            }
            if (!self)
                co_return;
            if (failure) {
                if (!isCancellation(failure))
                    setPersistenceError(describePageFailure(failure));
                co_return;
            }
            m_navigation.resetTransition();
        }
    }

    m_writing.loadEditorFromSession();
    m_pageSystem.reloadDescriptors(0);
    m_cards.refreshMarks();
    Q_EMIT pageLoaded();

    if (isCurrentEntrySealed() || !canWriteSelectedDay())
        co_return;
    try {
        co_await sleepFor(m_timings.focusAfterLoad, appearance);
    } catch (const CancellationError &) {
        // The focus is asked for even when the book went away meanwhile, as designed.
    }
    if (self)
        requestFocus();
}

void VuzIvoduPageView::rememberLastOpenedDay(const DayKey &day) {
    UserDefaultsSettingsStore::lastOpenedDaySetting.write(*m_settings.defaults(), day.rawValue());
}

// --- The sync -----------------------------------------------------------------------------------

void VuzIvoduPageView::setSyncScheduler(std::function<void(std::chrono::nanoseconds)> schedule) {
    m_scheduleSync = std::move(schedule);
}

void VuzIvoduPageView::requestSync() {
    if (m_scheduleSync)
        m_scheduleSync(std::chrono::nanoseconds::zero());
}

// The store holds another page for the day shown (a sync pass stored one, or a restore or an
// import replaced the diary): the page shows it where it stands, so nothing typed next is saved
// over words the user has not seen.
void VuzIvoduPageView::showStoredPage() {
    m_writing.loadEditorFromSession();
    m_pageSystem.reloadDescriptors(m_pageSystem.selectedLeafIndex());
    m_cards.refreshMarks();
}

// A pass changed something in the diary, handwriting included.
void VuzIvoduPageView::handleCloudSyncChange() {
    Q_EMIT handwritingChanged();
    m_cards.refreshMarks();
    launchPageTask(m_cards.reloadOnThisDay());
}

// --- Commands, Escape, the alert and the keyboard ---------------------------------------------

void VuzIvoduPageView::handleRouterEvent(const DiaryCommandRouter::Event &event) {
    if (m_router.claim(routerConsumer, event))
        handleCommand(event.command);
}

void VuzIvoduPageView::handleCommand(DiaryCommand command) {
    // The seal card asks about the page beneath it: nothing moves the page away until it is
    // answered. Once answered, the card that says the page is sealed holds nothing back.
    if (showSealConfirmation() &&
        (command == DiaryCommand::newEntry || command == DiaryCommand::goToToday))
        return;
    switch (command) {
    case DiaryCommand::newEntry:
    case DiaryCommand::goToToday:
        goToToday();
        break;
    case DiaryCommand::save:
        m_writing.save();
        break;
    case DiaryCommand::seal:
        m_writing.askToSeal();
        break;
    case DiaryCommand::find:
        m_cards.toggleSearch();
        break;
    case DiaryCommand::toggleFullScreen:
        Q_EMIT fullScreenToggleRequested();
        break;
    case DiaryCommand::showShortcuts:
        break;
    }
}

void VuzIvoduPageView::handleEscape() {
    if (showSealConfirmation())
        m_writing.hideSealConfirmation();
    else if (!m_cards.closeTopCard())
        m_writing.requestClose();
}

void VuzIvoduPageView::handleSaveStateChange(const DiarySaveState &state) {
    if (state.kind == DiarySaveState::Kind::failed)
        setPersistenceError(state.message);
}

void VuzIvoduPageView::setPersistenceError(std::optional<QString> message) {
    if (message)
        qCWarning(lcPageScreen) << "Writing not saved:" << *message;
    if (m_persistenceError == message)
        return;
    m_persistenceError = std::move(message);
    Q_EMIT persistenceErrorChanged(m_persistenceError);
}

void VuzIvoduPageView::dismissPersistenceError() {
    setPersistenceError(std::nullopt);
}

QString VuzIvoduPageView::persistenceAlertMessage() const {
    return m_persistenceError.value_or(tr("Please try again."));
}

void VuzIvoduPageView::retry() {
    dismissPersistenceError();
    m_writing.retry();
}

void VuzIvoduPageView::requestFocus() {
    ++m_focusRequest;
    Q_EMIT focusRequestChanged(m_focusRequest);
}

void VuzIvoduPageView::requestFocusWhereWritable() {
    if (!isCurrentEntrySealed() && canWriteSelectedDay())
        requestFocus();
}

// --- Derived values ---------------------------------------------------------------------------

VuzIvoduPageAnimation VuzIvoduPageView::leafChangeAnimation() const {
    if (motionMode() == PageTransitionMode::crossFade)
        return {};
    return m_motion.animation(VuzIvoduPageAnimation::Curve::easeInOut, 0.18);
}

VuzIvoduPageAnimation VuzIvoduPageView::ribbonAnimation() const {
    return m_motion.animation(VuzIvoduPageAnimation::Curve::easeOut, 0.25);
}

QDateTime VuzIvoduPageView::selectedDayDate() const {
    return m_session.selectedDay().date(m_session.calendar()).value_or(m_session.clock()->now());
}

DayKey VuzIvoduPageView::todayKey() const {
    return DayKey::fromDate(m_session.clock()->now(), m_session.calendar());
}

std::optional<QString> VuzIvoduPageView::saveStateNote() const {
    if (const auto &replacement = m_session.replacement())
        return *replacement == DiaryReplacementKind::restore ? tr("Restoring…") : tr("Importing…");
    switch (m_session.saveState().kind) {
    case DiarySaveState::Kind::pending:
    case DiarySaveState::Kind::saving:
        return tr("Saving…");
    case DiarySaveState::Kind::saved:
        return tr("Draft saved");
    case DiarySaveState::Kind::failed:
        return tr("Not saved");
    case DiarySaveState::Kind::idle:
    case DiarySaveState::Kind::sealed:
        return std::nullopt;
    }
    return std::nullopt;
}

PageContentKind VuzIvoduPageView::pageContentKind() const {
    switch (m_session.authoringAccess()) {
    case DiaryAuthoringAccess::allowed:
    case DiaryAuthoringAccess::existingDraft:
        return PageContentKind::editor;
    case DiaryAuthoringAccess::sealed:
        return PageContentKind::nothing;
    case DiaryAuthoringAccess::requiresPastDateConfirmation:
    case DiaryAuthoringAccess::futureDateUnavailable:
        return PageContentKind::notice;
    }
    return PageContentKind::nothing;
}

std::optional<PageNoticeContent> VuzIvoduPageView::pageNotice() const {
    switch (m_session.authoringAccess()) {
    case DiaryAuthoringAccess::requiresPastDateConfirmation:
        return PageNoticeContent{tr("Write for this date?"), tr("This is an earlier blank page."),
                                 tr("Write for this date")};
    case DiaryAuthoringAccess::futureDateUnavailable:
        return PageNoticeContent{tr("This page is waiting for its day."),
                                 tr("Future blank pages cannot be written yet."), std::nullopt};
    case DiaryAuthoringAccess::allowed:
    case DiaryAuthoringAccess::existingDraft:
    case DiaryAuthoringAccess::sealed:
        return std::nullopt;
    }
    return std::nullopt;
}

double VuzIvoduPageView::lineHeight(double pointSize) {
    return std::max(std::round(pointSize * 1.6), 40.0);
}

bool VuzIvoduPageView::isPageCovered() const {
    return showSealConfirmation() || showSealAcknowledgement() || showSearch() || showCalendar() ||
           showLeavePrompt() || m_persistenceError.has_value();
}

bool VuzIvoduPageView::acceptsTyping() const {
    return m_shown && !isSettling() && !isPageCovered() && !isHeldForReplacement() &&
           pageContentKind() == PageContentKind::editor;
}

// --- The civil date -----------------------------------------------------------------------------

void VuzIvoduPageView::armCivilDateTimer() {
    const QDateTime now = m_session.clock()->now();
    const QDateTime midnight = m_session.calendar().startOfDayAdding(1, now);
    qint64 wait = m_timings.civilDateCheck.count();
    if (midnight.isValid())
        wait = std::min<qint64>(wait, now.msecsTo(midnight) + 1);
    m_civilDateTimer.start(std::chrono::milliseconds(std::max<qint64>(wait, 1)));
}

void VuzIvoduPageView::reevaluateCivilDate() {
    const DayKey today = todayKey();
    const QString zone = m_session.calendar().timeZoneIdentifier();
    if (today != m_civilToday || zone != m_civilZone) {
        m_civilToday = today;
        m_civilZone = zone;
        // A blank page that could not be written may now be today's. A page that could be
        // written stays so: the day the user sat down to write does not lock itself at midnight.
        const auto access = m_session.authoringAccess();
        if (!m_session.currentEntry() &&
            (access == DiaryAuthoringAccess::futureDateUnavailable ||
             access == DiaryAuthoringAccess::requiresPastDateConfirmation))
            launchPageTask(m_session.refreshAuthoringAccess());
        // On this day looks back from today, which is another day now.
        launchPageTask(m_cards.reloadOnThisDay());
        Q_EMIT civilDateChanged();
    }
    if (m_shown)
        armCivilDateTimer();
}

} // namespace velmora
