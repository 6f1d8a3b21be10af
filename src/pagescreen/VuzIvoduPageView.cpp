#include "pagescreen/VuzIvoduPageView.h"

#include "book/theme/DiaryTheme.h"
#include "pagescreen/PageScreenLogging.h"
#include "platform/AsyncSleep.h"
#include "platform/DiaryError.h"
#include "platform/FilePaths.h"
#include "platform/FileSystemError.h"
#include "platform/SerialExecutor.h"

#include <QCoreApplication>
#include <QScopeGuard>
#include <QStringEncoder>
#include <QTimeZone>

#include <algorithm>
#include <cmath>

namespace velmora {

namespace {

bool isCancellation(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const CancellationError &) {
        return true;
    } catch (...) {
        return false;
    }
}

// The text a failure shows in the "Writing Not Saved" alert.
QString describe(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const DiaryError &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromUtf8(error.what());
    } catch (...) {
        qCWarning(lcPageScreen) << "A page task failed with an error of unknown type";
        return VuzIvoduPageView::tr("Please try again.");
    }
}

} // namespace

VuzIvoduPageView::VuzIvoduPageView(DiarySessionStore &session, DiaryPageSystemStore &pageSystem,
                                   UserDefaultsSettingsStore &settings, DiaryCommandRouter &router,
                                   VuzIvoduPageTimings timings, QObject *parent)
    : QObject(parent)
    , m_session(session)
    , m_pageSystem(pageSystem)
    , m_settings(settings)
    , m_router(router)
    , m_timings(timings) {
    m_civilDateTimer.setSingleShot(true);
    connect(&m_civilDateTimer, &QTimer::timeout, this, &VuzIvoduPageView::reevaluateCivilDate);
    connect(&m_pageSystem, &DiaryPageSystemStore::transitionChanged, this,
            &VuzIvoduPageView::updateSettling);
}

VuzIvoduPageView::~VuzIvoduPageView() {
    m_lifetime.cancel();
    m_appearance.cancel();
    if (m_navigationTask)
        m_navigationTask->cancel();
    if (m_calendarTask)
        m_calendarTask->cancel();
}

void VuzIvoduPageView::setSyncScheduler(std::function<void(std::chrono::nanoseconds)> schedule) {
    m_scheduleSync = std::move(schedule);
}

void VuzIvoduPageView::setSystemReduceMotion(bool reduce) {
    m_systemReduceMotion = reduce;
}

bool VuzIvoduPageView::isReducedMotion() const {
    // The launch flag is read afresh each time, as the design asks.
    return m_systemReduceMotion || QCoreApplication::arguments().contains(reduceMotionArgument);
}

PageTransitionMode VuzIvoduPageView::motionMode() const {
    return isReducedMotion() ? PageTransitionMode::crossFade : PageTransitionMode::physical;
}

void VuzIvoduPageView::launch(QCoro::Task<void> task) {
    // A task whose handle is dropped runs on and frees itself when it ends.
    Q_UNUSED(task)
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
                               &VuzIvoduPageView::handleSyncedChange);

    m_civilToday = todayKey();
    m_civilZone = m_session.calendar().timeZoneIdentifier();
    armCivilDateTimer();

    ++m_loadsRunning;
    updateSettling();
    launch(loadTask());
    launch(reloadOnThisDay());
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
    handleDisappear();
}

void VuzIvoduPageView::handleDisappear() {
    if (m_navigationTask)
        m_navigationTask->cancel();
    if (m_calendarTask)
        m_calendarTask->cancel();
    m_pageSystem.advanceNavigationGeneration();
    m_session.advanceSelectionGeneration();
    resetTransition();
    launch(flushPendingWriting());
}

void VuzIvoduPageView::applyReadingScale() {
    double scale = m_settings.readingScale();
    scale = std::isfinite(scale) ? std::clamp(scale, UserDefaultsSettingsStore::minimumReadingScale,
                                              UserDefaultsSettingsStore::maximumReadingScale)
                                 : UserDefaultsSettingsStore::defaultReadingScale;
    m_pageSystem.updateMetrics(LeafLayoutMetrics{writingWidth, writingHeight, 0, 0, 0, scale});
}

// --- State ------------------------------------------------------------------------------------

void VuzIvoduPageView::setEntryText(const QString &text) {
    if (m_entryText == text)
        return;
    m_entryText = text;
    Q_EMIT entryTextChanged(m_entryText);
}

void VuzIvoduPageView::setEditorFont(const QString &font, double size) {
    if (m_selectedFont == font && m_fontSize == size)
        return;
    m_selectedFont = font;
    m_fontSize = size;
    Q_EMIT editorFontChanged();
}

void VuzIvoduPageView::setPersistenceError(std::optional<QString> message) {
    if (message)
        qCWarning(lcPageScreen) << "Writing not saved:" << *message;
    if (m_persistenceError == message)
        return;
    m_persistenceError = std::move(message);
    Q_EMIT persistenceErrorChanged(m_persistenceError);
}

VuzIvoduPageAnimation VuzIvoduPageView::animation(VuzIvoduPageAnimation::Curve curve,
                                                  double seconds) const {
    return VuzIvoduPageAnimation::eased(curve, seconds, m_timings.animationScale);
}

VuzIvoduPageAnimation VuzIvoduPageView::leafChangeAnimation() const {
    if (motionMode() == PageTransitionMode::crossFade)
        return {};
    return animation(VuzIvoduPageAnimation::Curve::easeInOut, 0.18);
}

VuzIvoduPageAnimation VuzIvoduPageView::ribbonAnimation() const {
    return animation(VuzIvoduPageAnimation::Curve::easeOut, 0.25);
}

void VuzIvoduPageView::setShowSavedNote(bool show, VuzIvoduPageAnimation animation) {
    if (m_showSavedNote == show)
        return;
    m_showSavedNote = show;
    m_savedNoteAnimation = animation;
    Q_EMIT showSavedNoteChanged(show);
}

void VuzIvoduPageView::setShowSealConfirmation(bool show, VuzIvoduPageAnimation animation) {
    if (m_showSealConfirmation == show)
        return;
    m_showSealConfirmation = show;
    m_sealCardAnimation = animation;
    Q_EMIT showSealConfirmationChanged(show);
}

void VuzIvoduPageView::setShowSealAcknowledgement(bool show, VuzIvoduPageAnimation animation) {
    if (m_showSealAcknowledgement == show)
        return;
    m_showSealAcknowledgement = show;
    m_sealCardAnimation = animation;
    Q_EMIT showSealAcknowledgementChanged(show);
}

void VuzIvoduPageView::setShowLeavePrompt(bool show) {
    if (m_showLeavePrompt == show)
        return;
    m_showLeavePrompt = show;
    Q_EMIT showLeavePromptChanged(show);
}

void VuzIvoduPageView::setShowSearch(bool show) {
    if (m_showSearch == show)
        return;
    m_showSearch = show;
    Q_EMIT showSearchChanged(show);
}

void VuzIvoduPageView::toggleSearch() {
    setShowSearch(!m_showSearch);
}

void VuzIvoduPageView::setShowCalendar(bool show) {
    if (m_showCalendar == show)
        return;
    m_showCalendar = show;
    Q_EMIT showCalendarChanged(show);
}

void VuzIvoduPageView::setEntryDays(QSet<int> days) {
    if (m_entryDays == days)
        return;
    m_entryDays = std::move(days);
    Q_EMIT entryDaysChanged(m_entryDays);
}

void VuzIvoduPageView::requestFocus() {
    ++m_focusRequest;
    Q_EMIT focusRequestChanged(m_focusRequest);
}

void VuzIvoduPageView::resetEdgeInteraction() {
    if (m_edgeInteraction.state == PageTransitionState::idle())
        return;
    m_edgeInteraction.state = PageTransitionState::idle();
    Q_EMIT edgeInteractionChanged();
}

void VuzIvoduPageView::resetTransition() {
    m_pageSystem.setTransition(PageTransitionState::idle());
}

void VuzIvoduPageView::requestSync() {
    if (m_scheduleSync)
        m_scheduleSync(std::chrono::nanoseconds::zero());
}

// --- Derived values ---------------------------------------------------------------------------

bool VuzIvoduPageView::isCurrentEntrySealed() const {
    const auto &entry = m_session.currentEntry();
    return entry && entry->isSealed();
}

bool VuzIvoduPageView::canWriteSelectedDay() const {
    const auto access = m_session.authoringAccess();
    return access == DiaryAuthoringAccess::allowed || access == DiaryAuthoringAccess::existingDraft;
}

QDateTime VuzIvoduPageView::selectedDayDate() const {
    return m_session.selectedDay().date(m_session.calendar()).value_or(m_session.clock()->now());
}

DayKey VuzIvoduPageView::todayKey() const {
    return DayKey::fromDate(m_session.clock()->now(), m_session.calendar());
}

std::optional<QString> VuzIvoduPageView::saveStateNote() const {
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

// --- Loading, reopening, commands ---------------------------------------------------------------

void VuzIvoduPageView::loadEditorFromSession() {
    setEntryText(m_session.currentText());
    if (const auto &entry = m_session.currentEntry())
        setEditorFont(resolvedFontName(entry->fontName), entry->bodyPointSize);
    else
        setEditorFont(resolvedFontName(m_settings.selectedFont()), m_settings.defaultFontSize());
}

QCoro::Task<void> VuzIvoduPageView::loadTask() {
    const QPointer<VuzIvoduPageView> self(this);
    const auto loaded = qScopeGuard([self] {
        if (!self)
            return;
        --self->m_loadsRunning;
        self->updateSettling();
    });
    const CancellationToken appearance = m_appearance;
    // Read before today opens: opening today is itself a change of day, which is remembered.
    const auto &defaults = m_settings.defaults();
    const auto lastOpened = defaults->boolValue(reopensLastPageKey)
                                ? defaults->stringValue(lastOpenedDayKey)
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
            setPersistenceError(describe(failure));
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
                    setPersistenceError(describe(failure));
                co_return;
            }
            resetTransition();
        }
    }

    loadEditorFromSession();
    m_pageSystem.reloadDescriptors(0);
    restartCalendarRefresh();
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
    m_settings.defaults()->setString(lastOpenedDayKey, day.rawValue());
}

void VuzIvoduPageView::handleSyncedChange() {
    loadEditorFromSession();
    m_pageSystem.reloadDescriptors(m_pageSystem.selectedLeafIndex());
    restartCalendarRefresh();
}

void VuzIvoduPageView::handleCloudSyncChange() {
    Q_EMIT handwritingChanged();
    restartCalendarRefresh();
    launch(reloadOnThisDay());
}

void VuzIvoduPageView::handleRouterEvent(const DiaryCommandRouter::Event &event) {
    if (m_router.claim(routerConsumer, event))
        handleCommand(event.command);
}

void VuzIvoduPageView::handleCommand(DiaryCommand command) {
    // The seal card asks about the page beneath it: nothing moves the page away until it is
    // answered.
    const bool sealCardShown = m_showSealConfirmation || m_showSealAcknowledgement;
    if (sealCardShown && (command == DiaryCommand::newEntry || command == DiaryCommand::goToToday))
        return;
    switch (command) {
    case DiaryCommand::newEntry:
    case DiaryCommand::goToToday:
        goToToday();
        break;
    case DiaryCommand::save:
        if (!isCurrentEntrySealed())
            saveNow();
        break;
    case DiaryCommand::seal:
        // Counts characters: a page of spaces may be sealed.
        if (!isCurrentEntrySealed() && canWriteSelectedDay() && !m_entryText.isEmpty())
            setShowSealConfirmation(true);
        break;
    case DiaryCommand::find:
        toggleSearch();
        break;
    case DiaryCommand::toggleFullScreen:
        Q_EMIT fullScreenToggleRequested();
        break;
    case DiaryCommand::showShortcuts:
        break;
    }
}

// --- The edit road ------------------------------------------------------------------------------

void VuzIvoduPageView::setEntryTextFromEditor(const QString &text) {
    if (text == m_entryText)
        return;
    setEntryText(text);
    entryTextDidChange(text);
}

void VuzIvoduPageView::entryTextDidChange(const QString &text) {
    if (isCurrentEntrySealed())
        return;
    const bool hadNoEntry = !m_session.currentEntry();
    // Emptying a page that was never stored creates no draft. Once anything of the day is on its
    // way to the store, though, the empty text must follow it, or the deleted words come back.
    if (hadNoEntry && text.isEmpty()) {
        const DayKey &day = m_session.selectedDay();
        const auto &draft = m_session.pendingDraft();
        const auto &edit = m_session.autosave().pendingEdit();
        const bool pending = (draft && draft->dayKey == day) || (edit && edit->draft.dayKey == day);
        if (!pending && !m_session.autosave().inFlight())
            return;
    }
    try {
        m_session.updateDraft(text, m_selectedFont, m_fontSize);
    } catch (...) {
        setPersistenceError(describe(std::current_exception()));
        return;
    }
    if (hadNoEntry)
        restartCalendarRefresh();
}

void VuzIvoduPageView::confirmPastDateWriting() {
    m_session.confirmWritingForPastDay();
    requestFocus();
}

// --- Calendar ---------------------------------------------------------------------------------

void VuzIvoduPageView::restartCalendarRefresh() {
    // Only an open calendar card shows the marks, and opening it refreshes them; a closed card
    // asks the store nothing on every keystroke and turn.
    if (!m_showCalendar)
        return;
    const DayKey firstDay = m_pageSystem.calendarMonth().firstDay;
    const auto monthDate = firstDay.date(m_session.calendar());
    if (!monthDate)
        return;
    if (m_calendarTask)
        m_calendarTask->cancel();
    const CancellationToken token;
    m_calendarTask = token;
    launch(refreshCalendarTask(*monthDate, firstDay, token));
}

QCoro::Task<void> VuzIvoduPageView::refreshCalendarTask(QDateTime monthDate, DayKey firstDay,
                                                        CancellationToken token) {
    const QPointer<VuzIvoduPageView> self(this);
    QSet<int> days;
    std::exception_ptr failure;
    try {
        days = co_await m_session.entryDays(monthDate);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self || token.isCancelled())
        co_return;
    if (failure) {
        setPersistenceError(describe(failure));
        co_return;
    }
    // Only the month still shown takes the answer.
    if (m_pageSystem.calendarMonth().firstDay != firstDay)
        co_return;
    setCalendarMarks(firstDay, std::move(days));
}

// --- Navigation ---------------------------------------------------------------------------------

void VuzIvoduPageView::startNavigation(Operation operation) {
    if (m_navigationTask)
        m_navigationTask->cancel();
    m_pageSystem.advanceNavigationGeneration();
    m_session.advanceSelectionGeneration();
    const CancellationToken token;
    m_navigationTask = token;
    resetTransition();
    updateSettling();
    launch(navigationTask(std::move(operation), token));
}

QCoro::Task<void> VuzIvoduPageView::navigationTask(Operation operation, CancellationToken token) {
    const QPointer<VuzIvoduPageView> self(this);
    // A navigation overtaken by a newer one leaves the newer one running.
    const auto ended = qScopeGuard([self, token] {
        if (!self || self->m_navigationTask != token)
            return;
        self->m_navigationTask.reset();
        self->updateSettling();
    });
    std::exception_ptr failure;
    try {
        co_await operation(token);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    if (failure) {
        resetEdgeInteraction();
        if (!isCancellation(failure))
            setPersistenceError(describe(failure));
        co_return;
    }
    if (token.isCancelled())
        co_return;

    loadEditorFromSession();
    restartCalendarRefresh();
    resetEdgeInteraction();

    if (m_pageSystem.transition().mode == PageTransitionMode::crossFade) {
        try {
            co_await sleepFor(m_timings.crossFadeSettle, token);
        } catch (const CancellationError &) {
            // A newer navigation took over; it settles the page itself.
        }
        if (!self || token.isCancelled())
            co_return;
        resetTransition();
    }
    if (!isCurrentEntrySealed() && canWriteSelectedDay())
        requestFocus();
}

bool VuzIvoduPageView::isSettling() const {
    return m_loadsRunning > 0 || m_navigationTask ||
           m_pageSystem.transition().phase != PageTransitionPhase::idle;
}

bool VuzIvoduPageView::isPageCovered() const {
    return m_showSealConfirmation || m_showSealAcknowledgement || m_showSearch || m_showCalendar ||
           m_showLeavePrompt || m_persistenceError.has_value();
}

bool VuzIvoduPageView::acceptsTyping() const {
    return m_shown && !isSettling() && !isPageCovered() &&
           pageContentKind() == PageContentKind::editor;
}

void VuzIvoduPageView::updateSettling() {
    const bool settling = isSettling();
    if (settling == m_settling)
        return;
    m_settling = settling;
    Q_EMIT settlingChanged(settling);
}

void VuzIvoduPageView::goToToday() {
    navigate(todayKey());
}

void VuzIvoduPageView::navigate(const DayKey &day) {
    startNavigation([this, day](CancellationToken token) {
        return m_pageSystem.navigate(day, std::move(token));
    });
}

void VuzIvoduPageView::turnToNextPage() {
    startNavigation([this](CancellationToken token) {
        return m_pageSystem.turnForward(motionMode(), std::move(token));
    });
}

void VuzIvoduPageView::turnToPreviousPage() {
    startNavigation([this](CancellationToken token) {
        return m_pageSystem.turnBackward(motionMode(), std::move(token));
    });
}

// --- The edge drag ------------------------------------------------------------------------------

std::optional<PageDescriptor>
VuzIvoduPageView::adjacentDescriptor(PageTurnDirection direction) const {
    const auto &descriptors = m_pageSystem.descriptors();
    const qint64 index = m_pageSystem.selectedLeafIndex();
    if (direction == PageTurnDirection::backward && index >= 1 && index - 1 < descriptors.size())
        return descriptors.at(index - 1);
    if (direction == PageTurnDirection::forward && index >= 0 && index + 1 < descriptors.size())
        return descriptors.at(index + 1);

    const GregorianCalendar &calendar = m_session.calendar();
    const auto date = m_session.selectedDay().date(calendar);
    if (!date)
        return std::nullopt;
    const QDateTime neighbour =
        calendar.startOfDayAdding(direction == PageTurnDirection::backward ? -1 : 1, *date);
    if (!neighbour.isValid())
        return std::nullopt;
    const DayKey day = DayKey::fromDate(neighbour, calendar);
    PageDescriptor preview;
    preview.id = PageDescriptorID{day, std::nullopt, 0};
    preview.dayKey = day;
    preview.leafIndex = 0;
    preview.leafCount = 1;
    preview.fontName = m_settings.selectedFont();
    preview.bodyPointSize = m_settings.defaultFontSize();
    preview.kind = PageKind::blank;
    preview.originTimeZone = QString::fromUtf8(QTimeZone::systemTimeZoneId());
    return preview;
}

bool VuzIvoduPageView::isPhysicalTurnRunning() const {
    const PageTransitionState &transition = m_pageSystem.transition();
    return transition.phase == PageTransitionPhase::animating &&
           transition.mode == PageTransitionMode::physical &&
           motionMode() == PageTransitionMode::physical;
}

bool VuzIvoduPageView::showsUnderLeaf() const {
    const auto phase = m_edgeInteraction.state.phase;
    return motionMode() == PageTransitionMode::physical &&
           (phase == PageTransitionPhase::interactive || phase == PageTransitionPhase::animating) &&
           !isPhysicalTurnRunning();
}

double VuzIvoduPageView::edgeTurnAngle() const {
    if (!showsUnderLeaf())
        return 0;
    const double angle = m_edgeInteraction.state.progress * 52;
    return m_edgeInteraction.state.direction == PageTurnDirection::forward ? -angle : angle;
}

void VuzIvoduPageView::finishPageTurn() {
    resetTransition();
}

void VuzIvoduPageView::openCalendar() {
    setShowCalendar(true);
    restartCalendarRefresh();
    launch(reloadOnThisDay());
}

void VuzIvoduPageView::showSettings() {
    Q_EMIT settingsRequested();
}

void VuzIvoduPageView::edgeDragChanged(double translation, double predictedEndTranslation,
                                       PageTurnDirection direction) {
    const auto source = m_pageSystem.selectedDescriptor();
    if (!source)
        return;
    const auto target = adjacentDescriptor(direction);
    if (!target)
        return;
    if (m_edgeInteraction.state.phase == PageTransitionPhase::idle)
        m_edgeInteraction.begin(source, target, direction, motionMode());
    m_edgeInteraction.update(translation, edgeDragPageWidth,
                             (predictedEndTranslation - translation) * edgeDragVelocityFactor);
    Q_EMIT edgeInteractionChanged();
}

void VuzIvoduPageView::edgeDragEnded(double predictedEndTranslation) {
    const auto direction = m_edgeInteraction.state.direction;
    const bool committed = m_edgeInteraction.finish(predictedEndTranslation, edgeDragPageWidth);
    Q_EMIT edgeInteractionChanged();
    if (!committed || !direction) {
        resetEdgeInteraction();
        return;
    }
    if (*direction == PageTurnDirection::backward)
        turnToPreviousPage();
    else
        turnToNextPage();
}

// --- Prompts ----------------------------------------------------------------------------------

void VuzIvoduPageView::handleSaveStateChange(const DiarySaveState &state) {
    if (state.kind == DiarySaveState::Kind::failed)
        setPersistenceError(state.message);
}

void VuzIvoduPageView::dismissPersistenceError() {
    setPersistenceError(std::nullopt);
}

QString VuzIvoduPageView::persistenceAlertMessage() const {
    return m_persistenceError.value_or(tr("Please try again."));
}

void VuzIvoduPageView::retry() {
    dismissPersistenceError();
    launch(retrySaveTask());
}

QString VuzIvoduPageView::proposedCopyName() const {
    return QStringLiteral("Velmora - ") + m_session.selectedDay().rawValue() +
           QStringLiteral(".txt");
}

QCoro::Task<void> VuzIvoduPageView::saveCopy(QString path) {
    const QPointer<VuzIvoduPageView> self(this);
    QStringEncoder encoder(QStringConverter::Utf8);
    const QByteArray bytes = encoder.encode(m_entryText);
    // Text that UTF-8 cannot carry unchanged (a lone surrogate) is not written half-right.
    if (encoder.hasError()) {
        qCWarning(lcPageScreen) << "The page copy was not written: its text is not valid Unicode";
        setPersistenceError(std::nullopt);
        co_return;
    }
    if (!m_copyWriter)
        m_copyWriter = std::make_unique<SerialExecutor>(QStringLiteral("PageCopy"));
    std::exception_ptr failure;
    try {
        auto work = m_copyWriter->run(
            [target = standardizedPath(path), bytes] { writeFileAtomically(target, bytes); });
        co_await work;
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return;
    setPersistenceError(failure ? std::optional(describe(failure)) : std::nullopt);
}

void VuzIvoduPageView::dismissLeavePrompt() {
    setShowLeavePrompt(false);
}

void VuzIvoduPageView::leaveAndComeBack() {
    setShowLeavePrompt(false);
    launch(leaveDiaryTask());
}

void VuzIvoduPageView::lockPageAndLeave() {
    setShowLeavePrompt(false);
    launch(lockPageAndLeaveTask());
}

void VuzIvoduPageView::confirmSeal() {
    if (m_entryText.isEmpty())
        return;
    setShowSealConfirmation(false);
    launch(sealPageTask());
}

void VuzIvoduPageView::hideSealConfirmation() {
    setShowSealConfirmation(false, animation(VuzIvoduPageAnimation::Curve::easeOut, 0.28));
}

void VuzIvoduPageView::requestClose() {
    if (canWriteSelectedDay() && !isCurrentEntrySealed() && !m_entryText.trimmed().isEmpty())
        setShowLeavePrompt(true);
    else
        launch(leaveDiaryTask());
}

void VuzIvoduPageView::handleEscape() {
    if (m_showSealConfirmation) {
        hideSealConfirmation();
    } else if (m_showSearch) {
        setShowSearch(false);
        requestFocus();
    } else if (m_showCalendar) {
        setShowCalendar(false);
        requestFocus();
    } else {
        requestClose();
    }
}

void VuzIvoduPageView::closeDiary() {
    Q_EMIT closeDiaryRequested();
}

// --- Commit, flush, seal and leave ---------------------------------------------------------------

QCoro::Task<bool> VuzIvoduPageView::drainAutosave() {
    co_return co_await m_session.flushPendingWriting();
}

void VuzIvoduPageView::commitEditorText() {
    m_session.updateDraft(m_entryText, m_selectedFont, std::nullopt);
}

void VuzIvoduPageView::requireCommittedEntry(bool drained) const {
    if (drained && m_session.currentEntry())
        return;
    if (const auto &failure = m_session.autosave().lastFailure())
        throw *failure;
    throw PersistenceError::writeFailed(tr("The draft could not be committed."));
}

void VuzIvoduPageView::saveNow() {
    if (m_entryText.isEmpty())
        return;
    launch(saveNowTask());
}

QCoro::Task<void> VuzIvoduPageView::hideSavedNoteAfter(std::chrono::nanoseconds hold) {
    const QPointer<VuzIvoduPageView> self(this);
    try {
        co_await sleepFor(hold, m_lifetime);
    } catch (const CancellationError &) {
        // Going away: nothing is left to hide.
    }
    if (self)
        setShowSavedNote(false, animation(VuzIvoduPageAnimation::Curve::easeOut, 0.25));
}

QCoro::Task<void> VuzIvoduPageView::saveNowTask() {
    const QPointer<VuzIvoduPageView> self(this);
    try {
        commitEditorText();
    } catch (...) {
        setPersistenceError(describe(std::current_exception()));
        co_return;
    }
    const bool drained = co_await drainAutosave();
    if (!self)
        co_return;
    try {
        requireCommittedEntry(drained);
    } catch (...) {
        setPersistenceError(describe(std::current_exception()));
        co_return;
    }
    m_pageSystem.reloadDescriptors(m_pageSystem.selectedLeafIndex());
    restartCalendarRefresh();
    requestSync();
    setShowSavedNote(true, VuzIvoduPageAnimation::spring(0.42, 0.8, m_timings.animationScale));
    co_await hideSavedNoteAfter(isReducedMotion() ? m_timings.savedNoteReducedMotion
                                                  : m_timings.savedNote);
}

QCoro::Task<bool> VuzIvoduPageView::commitAndSeal() {
    const QPointer<VuzIvoduPageView> self(this);
    try {
        commitEditorText();
    } catch (...) {
        setPersistenceError(describe(std::current_exception()));
        co_return false;
    }
    const bool drained = co_await drainAutosave();
    if (!self)
        co_return false;
    std::exception_ptr failure;
    try {
        requireCommittedEntry(drained);
        co_await m_session.seal();
    } catch (...) {
        failure = std::current_exception();
    }
    if (!self)
        co_return false;
    if (failure) {
        setPersistenceError(describe(failure));
        co_return false;
    }
    loadEditorFromSession();
    m_pageSystem.reloadDescriptors(0);
    restartCalendarRefresh();
    co_return true;
}

QCoro::Task<void> VuzIvoduPageView::sealPageTask() {
    const QPointer<VuzIvoduPageView> self(this);
    const bool sealed = co_await commitAndSeal();
    if (!sealed)
        co_return;
    setShowSealAcknowledgement(true, animation(VuzIvoduPageAnimation::Curve::easeOut, 0.28));
    try {
        co_await sleepFor(m_timings.sealAcknowledgement, m_lifetime);
    } catch (const CancellationError &) {
        // Going away: nothing is left to hide.
    }
    if (self)
        setShowSealAcknowledgement(false, animation(VuzIvoduPageAnimation::Curve::easeIn, 0.28));
}

QCoro::Task<void> VuzIvoduPageView::retrySaveTask() {
    const QPointer<VuzIvoduPageView> self(this);
    const bool drained = co_await drainAutosave();
    if (!self)
        co_return;
    if (drained)
        setPersistenceError(std::nullopt);
    else
        setPersistenceError(tr("The draft still could not be saved. Keep this page open or save "
                               "a separate copy."));
}

QCoro::Task<void> VuzIvoduPageView::lockPageAndLeaveTask() {
    const bool sealed = co_await commitAndSeal();
    if (!sealed)
        co_return;
    requestSync();
    launch(leaveDiaryTask());
}

QCoro::Task<void> VuzIvoduPageView::leaveDiaryTask() {
    const QPointer<VuzIvoduPageView> self(this);
    const bool drained = co_await drainAutosave();
    if (!self)
        co_return;
    if (drained)
        closeDiary();
    else
        setPersistenceError(tr("Your latest writing could not be saved. The diary will remain "
                               "open so nothing is discarded."));
}

QCoro::Task<void> VuzIvoduPageView::flushPendingWriting() {
    const QPointer<VuzIvoduPageView> self(this);
    const bool drained = co_await drainAutosave();
    if (self && !drained)
        setPersistenceError(
            tr("Your latest writing is still on this page but could not be saved to disk."));
}

// --- The civil date
// -------------------------------------------------------------------------------

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
            launch(m_session.refreshAuthoringAccess());
        // On this day looks back from today, which is another day now.
        launch(reloadOnThisDay());
        Q_EMIT civilDateChanged();
    }
    if (m_shown)
        armCivilDateTimer();
}

} // namespace velmora
