#include "domain/DiarySessionStore.h"

#include "domain/DiarySessionError.h"
#include "domain/DomainLogging.h"
#include "platform/AsyncSleep.h"
#include "platform/StorableText.h"
#include "platform/WeakGuard.h"

#include <QCoreApplication>
#include <QPointer>
#include <QScopeGuard>

#include <exception>

namespace velmora {

namespace {

// Unsaved writing in the shape of an entry, so it can be kept as a recovery record.
DiaryEntryDTO entryFromDraft(const DiaryDraftDTO &draft) {
    return DiaryEntryDTO{draft.id,
                         draft.dayKey,
                         draft.content,
                         draft.fontName,
                         draft.bodyPointSize,
                         DiaryEntryStatus::draft,
                         draft.originTimeZone,
                         draft.createdAt,
                         draft.updatedAt,
                         std::nullopt,
                         draft.revision};
}

bool isRejectedSave(const PersistenceError &error) {
    return error.errorCase() == PersistenceError::Case::conflict ||
           error.errorCase() == PersistenceError::Case::entryAlreadySealed;
}

} // namespace

DiarySessionStore::DiarySessionStore(std::shared_ptr<DiaryRepository> repository,
                                     std::shared_ptr<SettingsStore> settings,
                                     GregorianCalendar calendar, std::shared_ptr<const Clock> clock,
                                     AutosaveTiming timing, QObject *parent)
    : QObject(parent)
    , m_repository(std::move(repository))
    , m_settings(std::move(settings))
    , m_clock(clock ? std::move(clock) : std::make_shared<SystemClock>())
    , m_calendar(std::move(calendar))
    // The system's date, not the clock's: the first change of day decides what opens.
    , m_selectedDay(DayKey::fromDate(QDateTime::currentDateTimeUtc(), m_calendar))
    , m_phase(DiarySessionPhase::loading(m_selectedDay)) {
    // The coordinator's callbacks hold the store weakly: the store owns the coordinator.
    m_autosave = new DraftAutosaveCoordinator(
        timing.idle, timing.maximum,
        weakCallback(
            this,
            [](DiarySessionStore *store, DiaryDraftDTO draft, qint64 sequence) {
                return store->performAutosave(std::move(draft), sequence);
            },
            [](DiaryDraftDTO, qint64) -> QCoro::Task<DiarySaveResult> {
                throw PersistenceError::storeUnavailable();
            }),
        weakCallback(this, [](DiarySessionStore *store,
                              const DiarySaveResult &result) { store->acknowledgeSave(result); }),
        this);
    m_autosave->setStateDidChange(
        weakCallback(this, [](DiarySessionStore *store, const DiarySaveState &state) {
            store->autosaveStateDidChange(state);
        }));
}

DiarySessionStore::~DiarySessionStore() = default;

template <typename T, typename Signal>
void DiarySessionStore::publish(T &field, T value, Signal changed) {
    Q_EMIT objectWillChange();
    field = std::move(value);
    Q_EMIT(this->*changed)(field);
}

void DiarySessionStore::setSelectedDay(DayKey day) {
    publish(m_selectedDay, std::move(day), &DiarySessionStore::selectedDayChanged);
}

void DiarySessionStore::setCurrentEntry(std::optional<DiaryEntryDTO> entry) {
    publish(m_currentEntry, std::move(entry), &DiarySessionStore::currentEntryChanged);
}

void DiarySessionStore::setSaveState(DiarySaveState state) {
    publish(m_saveState, std::move(state), &DiarySessionStore::saveStateChanged);
}

void DiarySessionStore::setAuthoringAccess(DiaryAuthoringAccess access) {
    publish(m_authoringAccess, access, &DiarySessionStore::authoringAccessChanged);
}

void DiarySessionStore::setPhase(DiarySessionPhase phase) {
    publish(m_phase, std::move(phase), &DiarySessionStore::phaseChanged);
}

DiarySessionStore::Snapshot DiarySessionStore::snapshot() const {
    return {m_selectedDay, m_currentEntry, m_saveState, m_authoringAccess, m_phase};
}

void DiarySessionStore::restore(const Snapshot &snapshot) {
    setSelectedDay(snapshot.selectedDay);
    setCurrentEntry(snapshot.currentEntry);
    setSaveState(snapshot.saveState);
    setAuthoringAccess(snapshot.authoringAccess);
    setPhase(snapshot.phase);
}

DayKey DiarySessionStore::today() const {
    return DayKey::fromDate(m_clock->now(), m_calendar);
}

QCoro::Task<void> DiarySessionStore::selectToday(CancellationToken token) {
    co_await changeDay(today(), std::move(token));
}

QCoro::Task<void> DiarySessionStore::changeDay(DayKey target, CancellationToken token) {
    const QPointer<DiarySessionStore> self(this);
    const quint64 generation = ++m_selectionGeneration;
    const auto owned = [&] { return self && m_selectionGeneration == generation; };
    // Taken when loading begins, after the flush: the saves it made are part of what is shown.
    std::optional<Snapshot> beforeLoading;
    bool published = false;
    // An overtaken change fails as cancelled and leaves the state to the newer one; otherwise the
    // state found before loading is put back and the error passed on.
    const auto failure = [&](std::exception_ptr error) {
        if (!owned())
            return std::make_exception_ptr(CancellationError());
        if (beforeLoading) {
            // Until the target is published the shown day stays, and whatever its own saves,
            // synced entries or a confirmation published meanwhile is newer than the snapshot:
            // only the loading phase is this change's to take back.
            Snapshot back = published ? *beforeLoading : snapshot();
            if (!published && m_phase == DiarySessionPhase::loading(target))
                back.phase = beforeLoading->phase;
            restore(back);
            // The snapshot was taken while an overtaken change loaded another day; that loading
            // is over, so the shown day's phase is decided afresh.
            if (back.phase.kind == DiarySessionPhase::Kind::loading &&
                back.phase.day != back.selectedDay)
                decideAuthoringAccess();
        }
        return error;
    };
    const auto interrupted = [&] { return token.isCancelled() || !owned(); };

    std::optional<DiaryEntryDTO> loaded;
    quint64 readIn = 0;
    for (;;) {
        beforeLoading.reset();
        if (!co_await flushPendingWriting())
            std::rethrow_exception(failure(
                std::make_exception_ptr(PersistenceError::writeFailed(QCoreApplication::translate(
                    "DiarySessionStore",
                    "Pending writing could not be saved before changing pages.")))));
        if (interrupted())
            std::rethrow_exception(failure(std::make_exception_ptr(CancellationError())));

        beforeLoading = snapshot();
        setPhase(DiarySessionPhase::loading(target));
        const auto repository = m_repository;
        readIn = repository->generation();
        std::exception_ptr readError;
        try {
            loaded = co_await repository->entry(target);
        } catch (...) {
            readError = std::current_exception();
        }
        if (readError)
            std::rethrow_exception(failure(readError));
        if (interrupted())
            std::rethrow_exception(failure(std::make_exception_ptr(CancellationError())));
        // Writing typed while the day loaded belongs to the day it was typed on: store it before
        // that day is left (and read again, in case it was the target itself).
        if (!m_autosave->inFlight() && !m_autosave->pendingEdit())
            break;
    }

    published = true;
    publishLoadedDay(target, loaded, readIn);
    co_await refreshAuthoringAccess();
    if (interrupted())
        std::rethrow_exception(failure(std::make_exception_ptr(CancellationError())));
}

void DiarySessionStore::publishLoadedDay(DayKey day, std::optional<DiaryEntryDTO> loaded,
                                         quint64 readIn) {
    m_readInGeneration = readIn;
    setSelectedDay(std::move(day));
    setCurrentEntry(loaded);
    m_pendingDraft.reset();
    setSaveState(loaded && loaded->isSealed() ? DiarySaveState::sealed() : DiarySaveState::idle());
}

// Read while the day is still held, so nothing can be typed on the old page meanwhile, and
// without taking over a change of day that waits for the hold: it reads the new diary itself.
QCoro::Task<void> DiarySessionStore::readSelectedDayAgain() {
    const QPointer<DiarySessionStore> self(this);
    const DayKey day = m_selectedDay;
    const auto repository = m_repository;
    const quint64 readIn = repository->generation();
    std::optional<DiaryEntryDTO> loaded;
    try {
        loaded = co_await repository->entry(day);
    } catch (const std::exception &error) {
        qCWarning(lcDomain) << "The open day could not be read again after the diary was replaced:"
                            << error.what();
        co_return;
    }
    if (!self || m_selectedDay != day)
        co_return;
    publishLoadedDay(day, loaded, readIn);
    decideAuthoringAccess();
    Q_EMIT reloadedFromStore();
}

QCoro::Task<bool> DiarySessionStore::beginReplacement(DiaryReplacementKind kind) {
    const QPointer<DiarySessionStore> self(this);
    co_await waitWhileReplacing();
    if (!self)
        co_return false;
    // Held at once, before the pending writing is stored: a quit or a close that comes while it
    // is stored must already wait for the replacement, not end the program before it begins.
    m_replacement = kind;
    m_generationBeforeReplacement = m_repository->generation();
    Q_EMIT replacementChanged();
    co_return co_await storePendingWriting();
}

QCoro::Task<void> DiarySessionStore::endReplacement() {
    if (!m_replacement)
        co_return;
    const QPointer<DiarySessionStore> self(this);
    const auto release = qScopeGuard([self] {
        if (!self)
            return;
        self->m_replacement.reset();
        Q_EMIT self->replacementChanged();
        self->m_replacementWaiters.wakeAll();
    });
    // Nothing was replaced (the operation failed before it began): pending writing goes on.
    if (m_repository->generation() == m_generationBeforeReplacement)
        co_return;
    // Not kept: it stays on the page, unsaved, and its next save keeps it aside once more.
    if (!co_await keepUnstoredWritingAside() || !self)
        co_return;
    co_await readSelectedDayAgain();
}

QCoro::Task<void> DiarySessionStore::waitWhileReplacing() {
    const QPointer<DiarySessionStore> self(this);
    while (self && m_replacement)
        co_await m_replacementWaiters.wait();
}

QCoro::Task<bool> DiarySessionStore::keepUnstoredWritingAside() {
    try {
        auto keeping = keepPendingWritingAside(m_selectedDay, std::nullopt, [] { return false; });
        if (!co_await keeping)
            co_return false;
    } catch (const std::exception &error) {
        qCWarning(lcDomain) << "Could not keep the writing the replaced diary did not hold:"
                            << error.what();
        co_return false;
    }
    if (m_pendingDraft || m_autosave->pendingEdit()) {
        m_pendingDraft.reset();
        m_autosave->discardPendingEdit();
    }
    co_return true;
}

// Typing may go on while a copy is written, so this looks again until what is pending has been
// kept; a save still running finishes first, so its outcome is known.
QCoro::Task<bool> DiarySessionStore::keepPendingWritingAside(DayKey day,
                                                             std::optional<QString> unless,
                                                             std::function<bool()> abandoned) {
    const QPointer<DiarySessionStore> self(this);
    std::optional<QString> keptContent;
    for (;;) {
        co_await waitWhileSaveInFlight();
        if (!self || abandoned())
            co_return false;
        const auto local = pendingLocalDraft(day);
        if (!local || local->content == unless || local->content == keptContent)
            co_return true;
        co_await keepLocalWritingAside(*local);
        if (!self || abandoned())
            co_return false;
        keptContent = local->content;
    }
}

QCoro::Task<void> DiarySessionStore::refreshAuthoringAccess() {
    decideAuthoringAccess();
    co_return;
}

void DiarySessionStore::decideAuthoringAccess() {
    const DiaryAuthoringDecision decision = decideAuthoring(m_currentEntry, m_selectedDay, today());
    setAuthoringAccess(decision.access);
    setPhase(decision.phase);
}

void DiarySessionStore::confirmWritingForPastDay() {
    if (m_currentEntry || m_authoringAccess != DiaryAuthoringAccess::requiresPastDateConfirmation)
        return;
    setAuthoringAccess(DiaryAuthoringAccess::allowed);
    setPhase(DiarySessionPhase::blank(m_selectedDay));
}

QCoro::Task<QSet<int>> DiarySessionStore::entryDays(QDateTime dateInMonth) {
    std::optional<QDateTime> first;
    std::optional<QDateTime> next;
    if (dateInMonth.isValid()) {
        const auto month = m_calendar.components(dateInMonth);
        first = m_calendar.date(month.year, month.month, 1);
        next = month.month == 12 ? m_calendar.date(month.year + 1, 1, 1)
                                 : m_calendar.date(month.year, month.month + 1, 1);
    }
    if (!first || !next)
        throw PersistenceError::invalidData(QCoreApplication::translate(
            "DiarySessionStore", "The selected calendar month is invalid."));

    const GregorianCalendar calendar = m_calendar;
    const auto repository = m_repository;
    const QList<DayKey> keys = co_await repository->dayKeys(DayKey::fromDate(*first, calendar),
                                                            DayKey::fromDate(*next, calendar),
                                                            DiaryRepository::dayKeysLimitCap);
    QSet<int> days;
    for (const DayKey &key : keys) {
        if (const auto date = key.date(calendar))
            days.insert(calendar.components(*date).day);
    }
    co_return days;
}

void DiarySessionStore::handle(DiaryCommand command) {
    publish(m_lastCommand, std::optional<DiaryCommand>(command),
            &DiarySessionStore::lastCommandChanged);
}

QCoro::Task<void> DiarySessionStore::waitWhileSaveInFlight() {
    const QPointer<DiarySessionStore> self(this);
    // A fresh, uncancellable sleep each time: it always returns to the event loop, where the
    // save being waited for completes, so this can never spin.
    while (self && m_autosave->inFlight())
        co_await sleepFor(flushPollInterval);
}

QCoro::Task<bool> DiarySessionStore::flushPendingWriting() {
    const QPointer<DiarySessionStore> self(this);
    // Nothing is stored while the diary is being replaced: what waits is stored once the new
    // diary is read, or kept beside it.
    co_await waitWhileReplacing();
    if (!self)
        co_return false;
    co_return co_await storePendingWriting();
}

QCoro::Task<bool> DiarySessionStore::storePendingWriting() {
    const QPointer<DiarySessionStore> self(this);
    m_autosave->cancelTimers();
    for (;;) {
        co_await waitWhileSaveInFlight();
        if (!self)
            co_return false;
        if (!m_autosave->pendingEdit())
            co_return true;
        const bool saved = co_await m_autosave->flush();
        if (!self || !saved)
            co_return false;
    }
}

void DiarySessionStore::updateDraft(const QString &content, const std::optional<QString> &fontName,
                                    std::optional<double> bodyPointSize) {
    if (m_currentEntry && m_currentEntry->isSealed())
        throw PersistenceError::entryAlreadySealed();
    // The page becomes read-only once the seal is stored; writing now would be lost by it.
    if (m_sealingDays.contains(m_selectedDay))
        throw PersistenceError::entryAlreadySealed();
    // Whatever is typed now would be saved over, or beside, a diary the page does not show.
    if (m_replacement)
        throw PersistenceError::writeFailed(QCoreApplication::translate(
            "DiarySessionStore",
            "The page cannot be written while the diary is being restored or imported."));
    switch (m_authoringAccess) {
    case DiaryAuthoringAccess::requiresPastDateConfirmation:
        throw DiarySessionError(DiarySessionError::Case::pastDateConfirmationRequired);
    case DiaryAuthoringAccess::futureDateUnavailable:
        throw DiarySessionError(DiarySessionError::Case::futureDateUnavailable);
    case DiaryAuthoringAccess::sealed:
        throw PersistenceError::entryAlreadySealed();
    case DiaryAuthoringAccess::allowed:
    case DiaryAuthoringAccess::existingDraft:
        break;
    }

    const QDateTime now = m_clock->now();
    const std::optional<DiaryDraftDTO> earlier =
        m_pendingDraft && m_pendingDraft->dayKey == m_selectedDay ? m_pendingDraft : std::nullopt;
    const QString trimmedFont = fontName.value_or(QString()).trimmed();

    DiaryDraftDTO draft;
    draft.id = m_currentEntry ? m_currentEntry->id : (earlier ? earlier->id : QUuid::createUuid());
    draft.dayKey = m_selectedDay;
    draft.content = storableText(content);
    draft.fontName = trimmedFont.isEmpty() ? m_settings->selectedFont() : trimmedFont;
    draft.bodyPointSize = bodyPointSize ? *bodyPointSize
                                        : (m_currentEntry ? m_currentEntry->bodyPointSize
                                                          : m_settings->defaultFontSize());
    draft.originTimeZone = m_calendar.timeZoneIdentifier();
    draft.createdAt =
        m_currentEntry ? m_currentEntry->createdAt : (earlier ? earlier->createdAt : now);
    draft.updatedAt = now;
    draft.revision = m_currentEntry ? m_currentEntry->revision : DiaryRevision{};

    m_pendingDraft = draft;
    setPhase(DiarySessionPhase::editingDraft(m_selectedDay));
    m_autosave->schedule(draft);
}

QString DiarySessionStore::currentText() const {
    if (m_pendingDraft && m_pendingDraft->dayKey == m_selectedDay)
        return m_pendingDraft->content;
    return m_currentEntry ? m_currentEntry->content : QString();
}

QCoro::Task<DiarySaveResult> DiarySessionStore::performAutosave(DiaryDraftDTO draft,
                                                                qint64 editSequence) {
    // The entry's identity and revision come from the entry of the draft's own day; a draft of
    // a day no longer shown keeps those it was made with.
    std::optional<DiaryRevision> expectedRevision;
    if (m_currentEntry && m_currentEntry->dayKey == draft.dayKey) {
        expectedRevision = m_currentEntry->revision;
        draft.id = m_currentEntry->id;
        draft.createdAt = m_currentEntry->createdAt;
        draft.revision = m_currentEntry->revision;
    } else if (draft.dayKey == m_selectedDay) {
        draft.revision = DiaryRevision{};
    } else if (draft.revision.rawValue > 0) {
        expectedRevision = draft.revision;
    }

    const QPointer<DiarySessionStore> self(this);
    const auto repository = m_repository;
    std::exception_ptr failure;
    bool rejected = false;
    std::optional<DiarySaveResult> result;
    try {
        result =
            co_await repository->save(draft, expectedRevision, editSequence, m_readInGeneration);
    } catch (const PersistenceError &error) {
        failure = std::current_exception();
        rejected = isRejectedSave(error);
    } catch (...) {
        failure = std::current_exception();
    }
    if (failure) {
        // A save refused because the stored entry moved on would be refused forever: bring the
        // entry up to date first, keeping whatever would otherwise be lost.
        if (rejected && self)
            co_await self->recoverRejectedSave(draft);
        std::rethrow_exception(failure);
    }
    co_return *result;
}

QCoro::Task<void> DiarySessionStore::recoverRejectedSave(DiaryDraftDTO draft) {
    const QPointer<DiarySessionStore> self(this);
    const auto repository = m_repository;
    const quint64 readIn = repository->generation();
    const bool replaced = readIn != m_readInGeneration;
    std::optional<DiaryEntryDTO> stored;
    try {
        stored = co_await repository->entry(draft.dayKey);
    } catch (const std::exception &error) {
        // The edit stays pending; a later retry tries again.
        qCWarning(lcDomain) << "Could not read the day again after a refused save:" << error.what();
        co_return;
    }
    if (!self)
        co_return;
    if (replaced) {
        co_await keepWritingOfAReplacedDiary(draft, stored, readIn);
        co_return;
    }
    const auto shown = [&] { return self && m_selectedDay == draft.dayKey; };

    if (stored && stored->isSealed()) {
        // Sealed elsewhere: show the sealed entry (which also refuses further edits), keep the
        // newest unsaved text aside, then let the page become read-only.
        if (shown())
            setCurrentEntry(stored);
        const DiaryDraftDTO newest = pendingLocalDraft(draft.dayKey).value_or(draft);
        if (newest.content != stored->content) {
            try {
                co_await keepLocalWritingAside(newest);
            } catch (const std::exception &error) {
                // Not kept: the text stays pending rather than being dropped.
                qCWarning(lcDomain)
                    << "Could not keep the writing a seal elsewhere replaced:" << error.what();
                co_return;
            }
        }
        if (shown())
            m_sealAfterRejectedSave = true;
        co_return;
    }

    // A draft moved on elsewhere: keep the stored version, then save the user's text on top.
    if (stored && stored->content != pendingLocalDraft(draft.dayKey).value_or(draft).content) {
        try {
            co_await repository->preserveRecovery(*stored);
        } catch (const std::exception &error) {
            // The stored version is not kept, so the user's text is not saved over it yet.
            qCWarning(lcDomain) << "Could not keep the entry written elsewhere:" << error.what();
            co_return;
        }
    }
    if (shown())
        setCurrentEntry(stored);
}

// The diary was replaced since the day was read (a restore, an import): the text is kept beside
// the new diary, never saved over it, and the day shows what the store now holds.
QCoro::Task<void> DiarySessionStore::keepWritingOfAReplacedDiary(
    DiaryDraftDTO draft, std::optional<DiaryEntryDTO> stored, quint64 storedGeneration) {
    const QPointer<DiarySessionStore> self(this);
    std::optional<QString> keptContent;
    for (;;) {
        const DiaryDraftDTO newest = pendingLocalDraft(draft.dayKey).value_or(draft);
        if ((stored && newest.content == stored->content) || newest.content == keptContent)
            break;
        try {
            co_await keepLocalWritingAside(newest);
        } catch (const std::exception &error) {
            // Not kept: the text stays pending rather than being dropped or saved over.
            qCWarning(lcDomain) << "Could not keep the writing of a replaced diary:"
                                << error.what();
            co_return;
        }
        if (!self)
            co_return;
        keptContent = newest.content;
    }
    if (m_selectedDay == draft.dayKey) {
        m_readInGeneration = storedGeneration;
        setCurrentEntry(stored);
    }
    m_dropAfterRejectedSave = true;
}

void DiarySessionStore::acknowledgeSave(const DiarySaveResult &result) {
    m_lastSavedDay = result.entry.dayKey;
    if (result.entry.dayKey == m_selectedDay)
        setCurrentEntry(result.entry);
    if (m_pendingDraft && m_pendingDraft->dayKey == result.entry.dayKey &&
        m_pendingDraft->content == result.entry.content)
        m_pendingDraft.reset();
}

void DiarySessionStore::autosaveStateDidChange(const DiarySaveState &state) {
    if (state.kind == DiarySaveState::Kind::failed && m_dropAfterRejectedSave) {
        m_dropAfterRejectedSave = false;
        m_pendingDraft.reset();
        m_autosave->discardPendingEdit();
        decideAuthoringAccess();
        Q_EMIT reloadedFromStore();
        return;
    }
    applyAutosaveState(state);
    if (state.kind == DiarySaveState::Kind::failed && m_sealAfterRejectedSave) {
        m_sealAfterRejectedSave = false;
        m_pendingDraft.reset();
        m_autosave->enterSealedState();
    }
}

void DiarySessionStore::applyAutosaveState(const DiarySaveState &state) {
    setSaveState(state);
    switch (state.kind) {
    case DiarySaveState::Kind::pending:
    case DiarySaveState::Kind::idle:
        applyPendingOrIdlePhase();
        break;
    case DiarySaveState::Kind::saving:
        setPhase(DiarySessionPhase::saving(m_selectedDay));
        break;
    case DiarySaveState::Kind::saved:
        if (m_lastSavedDay != m_selectedDay) {
            restoreEditingPhase();
        } else if (m_currentEntry && m_currentEntry->isSealed()) {
            setPhase(DiarySessionPhase::readingSealed(m_selectedDay));
        } else {
            setAuthoringAccess(DiaryAuthoringAccess::existingDraft);
            setPhase(DiarySessionPhase::editingDraft(m_selectedDay));
        }
        break;
    case DiarySaveState::Kind::failed:
        setPhase(DiarySessionPhase::saveFailed(m_selectedDay, state.message));
        break;
    case DiarySaveState::Kind::sealed:
        setAuthoringAccess(DiaryAuthoringAccess::sealed);
        setPhase(DiarySessionPhase::readingSealed(m_selectedDay));
        break;
    }
}

void DiarySessionStore::applyPendingOrIdlePhase() {
    if (!m_currentEntry && m_authoringAccess == DiaryAuthoringAccess::allowed)
        setPhase(DiarySessionPhase::blank(m_selectedDay));
    else
        restoreEditingPhase();
}

void DiarySessionStore::restoreEditingPhase() {
    if ((m_currentEntry && !m_currentEntry->isSealed()) || m_pendingDraft)
        setPhase(DiarySessionPhase::editingDraft(m_selectedDay));
}

namespace {

// A refusal because the stored entry is no longer the one the session holds.
bool storedEntryMovedOn(const std::exception_ptr &failure) {
    try {
        std::rethrow_exception(failure);
    } catch (const PersistenceError &error) {
        return error.errorCase() == PersistenceError::Case::conflict ||
               error.errorCase() == PersistenceError::Case::entryAlreadySealed;
    } catch (...) {
        return false;
    }
}

} // namespace

QCoro::Task<DiaryEntryDTO> DiarySessionStore::seal(std::optional<quint64> askedOfGeneration) {
    const QPointer<DiarySessionStore> self(this);
    // The seal was asked of the words the page showed. While the diary is being replaced, or
    // once it was replaced since, the page shows another diary's words, which nobody asked to
    // seal.
    const quint64 asked = askedOfGeneration.value_or(m_readInGeneration);
    const auto refuseAReplacedPage = [&] {
        if (m_replacement)
            throw PersistenceError::writeFailed(QCoreApplication::translate(
                "DiarySessionStore",
                "The page cannot be sealed while the diary is being restored or imported."));
        if (m_readInGeneration != asked)
            throw PersistenceError::conflictWithReplacedDiary(
                m_currentEntry ? m_currentEntry->revision : DiaryRevision{},
                m_currentEntry ? m_currentEntry->revision : DiaryRevision{});
    };
    refuseAReplacedPage();
    const bool flushed = co_await flushPendingWriting();
    if (!self)
        throw CancellationError();
    refuseAReplacedPage();
    if (!flushed) {
        restoreEditingPhase();
        throw PersistenceError::writeFailed(QCoreApplication::translate(
            "DiarySessionStore", "The latest writing could not be saved before sealing."));
    }
    if (!m_currentEntry)
        throw PersistenceError::invalidData(QCoreApplication::translate(
            "DiarySessionStore", "There is no draft for the selected day."));
    if (m_currentEntry->isSealed())
        throw PersistenceError::entryAlreadySealed();

    const DiaryEntryDTO entry = *m_currentEntry;
    setPhase(DiarySessionPhase::sealing(m_selectedDay));
    const auto repository = m_repository;
    std::exception_ptr failure;
    std::optional<DiaryEntryDTO> sealed;
    m_sealingDays.append(entry.dayKey);
    try {
        sealed = co_await repository->seal(entry.id, entry.revision, m_readInGeneration);
    } catch (...) {
        failure = std::current_exception();
    }
    const auto shown = [&] { return self && m_selectedDay == entry.dayKey; };
    if (failure) {
        // The stored entry moved on (the other device wrote or sealed it): show what is stored,
        // so the user sees the newer words and sealing again seals them rather than failing the
        // same way for ever. Edits stay refused until this is done.
        if (shown() && storedEntryMovedOn(failure)) {
            std::optional<DiaryEntryDTO> stored;
            const quint64 readIn = repository->generation();
            try {
                stored = co_await repository->entry(entry.dayKey);
            } catch (const std::exception &error) {
                qCWarning(lcDomain)
                    << "Could not read the day again after a refused seal:" << error.what();
            }
            if (stored && shown()) {
                m_readInGeneration = readIn;
                if (stored->isSealed())
                    co_await keepPendingWritingBeside(*stored);
                if (shown()) {
                    setCurrentEntry(stored);
                    if (stored->isSealed()) {
                        setAuthoringAccess(DiaryAuthoringAccess::sealed);
                        setPhase(DiarySessionPhase::readingSealed(m_selectedDay));
                        if (!pendingLocalDraft(entry.dayKey)) {
                            m_pendingDraft.reset();
                            m_autosave->enterSealedState();
                        }
                    }
                }
            }
        }
        if (!self)
            std::rethrow_exception(failure);
        m_sealingDays.removeOne(entry.dayKey);
        // An entry sealed meanwhile by the other device stays shown as sealed; while another
        // seal of the day runs, the page stays closed to edits.
        if (shown() && !m_sealingDays.contains(entry.dayKey) &&
            !(m_currentEntry && m_currentEntry->isSealed())) {
            setAuthoringAccess(DiaryAuthoringAccess::existingDraft);
            restoreEditingPhase();
        }
        std::rethrow_exception(failure);
    }
    if (shown()) {
        co_await keepPendingWritingBeside(*sealed);
        if (shown()) {
            setCurrentEntry(sealed);
            setAuthoringAccess(DiaryAuthoringAccess::sealed);
            setPhase(DiarySessionPhase::readingSealed(m_selectedDay));
            // Writing that could not be kept stays pending: its save is refused as sealed, and
            // that refusal keeps it aside once more.
            if (!pendingLocalDraft(entry.dayKey)) {
                m_pendingDraft.reset();
                m_autosave->enterSealedState();
            }
        }
    }
    if (self)
        m_sealingDays.removeOne(entry.dayKey);
    co_return *sealed;
}

QCoro::Task<void> DiarySessionStore::keepLocalWritingAside(DiaryDraftDTO local) {
    const auto repository = m_repository;
    auto keep = repository->preserveRecovery(entryFromDraft(local));
    co_await std::move(keep);
}

QCoro::Task<void> DiarySessionStore::keepPendingWritingBeside(DiaryEntryDTO sealed) {
    const QPointer<DiarySessionStore> self(this);
    const auto local = pendingLocalDraft(sealed.dayKey);
    if (!local)
        co_return;
    if (local->content != sealed.content) {
        try {
            co_await keepLocalWritingAside(*local);
        } catch (const std::exception &error) {
            qCWarning(lcDomain) << "Could not keep the writing a seal replaced:" << error.what();
            // It stays pending: its save is refused as sealed, and that refusal keeps it aside.
            if (self && !m_autosave->pendingEdit() && !m_autosave->inFlight())
                m_autosave->schedule(*local);
            co_return;
        }
    }
    if (self && pendingLocalDraft(sealed.dayKey) == local) {
        m_pendingDraft.reset();
        m_autosave->discardPendingEdit();
    }
}

bool DiarySessionStore::hasPendingLocalWriting() const {
    if (m_pendingDraft)
        return true;
    switch (m_saveState.kind) {
    case DiarySaveState::Kind::pending:
    case DiarySaveState::Kind::saving:
    case DiarySaveState::Kind::failed:
        return true;
    case DiarySaveState::Kind::saved:
    case DiarySaveState::Kind::idle:
    case DiarySaveState::Kind::sealed:
        return false;
    }
    return false;
}

std::optional<DiaryDraftDTO> DiarySessionStore::pendingLocalDraft(const DayKey &day) const {
    if (m_pendingDraft && m_pendingDraft->dayKey == day)
        return m_pendingDraft;
    if (const auto &edit = m_autosave->pendingEdit(); edit && edit->draft.dayKey == day)
        return edit->draft;
    return std::nullopt;
}

QCoro::Task<void> DiarySessionStore::applySyncedEntry(DiaryEntryDTO entry) {
    // While the diary is replaced, the entry may come from the diary being replaced; the day is
    // read again from the store once the replacement ends.
    if (entry.dayKey != m_selectedDay || m_replacement)
        co_return;
    const quint64 readIn = m_repository->generation();
    // Keep the local writing the synced entry is about to replace, unless the day was left or
    // the diary replaced meanwhile.
    auto keeping = keepPendingWritingAside(entry.dayKey, entry.content, [&] {
        return entry.dayKey != m_selectedDay || m_replacement ||
               m_repository->generation() != readIn;
    });
    if (!co_await keeping)
        co_return;

    m_readInGeneration = readIn;
    setCurrentEntry(entry);
    if (entry.isSealed()) {
        m_pendingDraft.reset();
        m_autosave->enterSealedState();
        setAuthoringAccess(DiaryAuthoringAccess::sealed);
        setPhase(DiarySessionPhase::readingSealed(m_selectedDay));
    } else {
        if (pendingLocalDraft(entry.dayKey)) {
            m_pendingDraft.reset();
            m_autosave->discardPendingEdit();
        } else if (!m_pendingDraft) {
            setSaveState(DiarySaveState::idle());
        }
        setAuthoringAccess(DiaryAuthoringAccess::existingDraft);
        setPhase(DiarySessionPhase::editingDraft(m_selectedDay));
    }
    publish(m_syncedChangeCount, m_syncedChangeCount + 1,
            &DiarySessionStore::syncedChangeCountChanged);
}

void DiarySessionStore::applySyncedHandwriting(const QList<DayKey> &days) {
    if (!days.contains(m_selectedDay))
        return;
    publish(m_syncedChangeCount, m_syncedChangeCount + 1,
            &DiarySessionStore::syncedChangeCountChanged);
}

} // namespace velmora
